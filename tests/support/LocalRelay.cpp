#include "support/LocalRelay.h"

#include "support/Wait.h"

#include <QJsonDocument>
#include <QNetworkReply>

namespace tellwire::testing {

LocalRelay::LocalRelay(QString executable)
    : executable_(std::move(executable))
{
}

LocalRelay::~LocalRelay()
{
    relay_.terminate();
    if (!relay_.waitForFinished(5000)) {
        relay_.kill();
        relay_.waitForFinished(5000);
    }
}

bool LocalRelay::start()
{
    relay_.start(executable_, {QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"), QStringLiteral("--code"),
                               QString::fromLatin1(kCode), QStringLiteral("--hold"), QStringLiteral("2")});
    if (!relay_.waitForStarted() || !waitUntil([&] { return relay_.canReadLine(); }))
        return false;
    // The first line names the chosen port.
    const QString line = QString::fromUtf8(relay_.readLine()).trimmed();
    const qsizetype at = line.indexOf(QStringLiteral("http://"));
    if (at < 0)
        return false;
    origin = line.mid(at);
    return true;
}

QString LocalRelay::signIn(const QString& role)
{
    if (!post(QStringLiteral("/v1/auth/phone/request"), {{QStringLiteral("phone"), QString::fromLatin1(kPhone)}}))
        return {};
    const auto reply = post(QStringLiteral("/v1/auth/phone/verify"),
                            {{QStringLiteral("phone"), QString::fromLatin1(kPhone)},
                             {QStringLiteral("code"), QString::fromLatin1(kCode)},
                             {QStringLiteral("role"), role},
                             {QStringLiteral("device_id"), QStringLiteral("test-") + role}});
    return reply ? reply->value(QStringLiteral("token")).toString() : QString();
}

bool LocalRelay::say(const QString& utterance, const QString& text, bool final)
{
    return post(QStringLiteral("/v1/events"),
                {{QStringLiteral("utterance"), utterance}, {QStringLiteral("text"), text},
                 {QStringLiteral("final"), final}, {QStringLiteral("session"), QStringLiteral("s-1")}},
                phoneToken)
        .has_value();
}

std::optional<QJsonObject> LocalRelay::post(const QString& path, const QJsonObject& body, const QString& token)
{
    QNetworkRequest request(QUrl(origin + path));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    if (!token.isEmpty())
        request.setRawHeader("Authorization", "Bearer " + token.toUtf8());
    QNetworkReply* reply = network_.post(request, QJsonDocument(body).toJson(QJsonDocument::Compact));
    const bool finished = waitUntil([&] { return reply->isFinished(); });
    std::optional<QJsonObject> result;
    if (finished && reply->error() == QNetworkReply::NoError)
        result = QJsonDocument::fromJson(reply->readAll()).object();
    reply->deleteLater();
    return result;
}

bool storeDesktopToken(const QString& token)
{
    if (token.isEmpty())
        return false;
    QProcess store;
    store.start(QStringLiteral("secret-tool"),
                {QStringLiteral("store"), QStringLiteral("--label=Tellwire"), QStringLiteral("service"),
                 QStringLiteral("Tellwire"), QStringLiteral("account"), QStringLiteral("desktop-token")});
    if (!store.waitForStarted())
        return false;
    store.write(token.toUtf8());
    store.closeWriteChannel();
    return store.waitForFinished(20000) && store.exitStatus() == QProcess::NormalExit && store.exitCode() == 0;
}

} // namespace tellwire::testing
