#include "relayclient/API.h"

#include "relayclient/APICall.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QNetworkAccessManager>
#include <QNetworkRequest>

#include <utility>

namespace tellwire {

namespace {

const QString kRefusedAddress = QStringLiteral("请使用 HTTPS 服务地址；本机调试可使用 localhost");

QString trimmedSlashes(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin) == QLatin1Char('/'))
        ++begin;
    while (end > begin && text.at(end - 1) == QLatin1Char('/'))
        --end;
    return text.mid(begin, end - begin);
}

} // namespace

API::API(QString base, QString token, std::chrono::milliseconds timeout)
    : base_(std::move(base))
    , token_(std::move(token))
    , timeout_(timeout)
{
}

std::optional<QUrl> API::url(const QString& path, APIError* error) const
{
    const QUrl url(trimmedSlashes(base_) + path, QUrl::StrictMode);
    const QString scheme = url.scheme();
    const QString host = url.host();
    const bool accepted = url.isValid() && !host.isEmpty()
        && (scheme == QLatin1String("https")
            || (scheme == QLatin1String("http")
                && (host == QLatin1String("localhost") || host == QLatin1String("127.0.0.1"))));
    if (accepted)
        return url;
    if (error)
        *error = APIError{kRefusedAddress, 0, APIError::Source::Relay};
    return std::nullopt;
}

APICall* API::request(const QString& path, const std::optional<QJsonObject>& body, QObject* context,
                      BytesHandler handler) const
{
    APIError refused;
    const std::optional<QUrl> address = url(path, &refused);
    if (!address)
        return new APICall(refused, std::move(handler), context);

    QNetworkRequest request(*address);
    // The bearer token must never follow a redirect to another origin.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::SameOriginRedirectPolicy);
    if (!token_.isEmpty())
        request.setRawHeader("Authorization", "Bearer " + token_.toUtf8());
    QNetworkReply* reply = nullptr;
    if (body) {
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
        reply = network().post(request, QJsonDocument(*body).toJson(QJsonDocument::Compact));
    } else {
        reply = network().get(request);
    }
    return new APICall(reply, timeout_, kMaxReplyBytes, std::move(handler), context);
}

APICall* API::object(const QString& path, const std::optional<QJsonObject>& body, QObject* context,
                     ObjectHandler handler) const
{
    return request(path, body, context,
                   [handler = std::move(handler)](const std::optional<APIError>& error, const QByteArray& bytes) {
                       if (error) {
                           handler(error, {});
                           return;
                       }
                       QJsonParseError parse;
                       const QJsonDocument document = QJsonDocument::fromJson(bytes, &parse);
                       if (parse.error != QJsonParseError::NoError) {
                           handler(APIError{parse.errorString(), 0, APIError::Source::Parser}, {});
                           return;
                       }
                       if (!document.isObject()) {
                           handler(APIError{QStringLiteral("响应格式错误"), 0, APIError::Source::Relay}, {});
                           return;
                       }
                       handler(std::nullopt, document.object());
                   });
}

QNetworkAccessManager& API::network()
{
    // Lives as long as the process, like the application's event loop.
    static QNetworkAccessManager* manager = new QNetworkAccessManager;
    return *manager;
}

} // namespace tellwire
