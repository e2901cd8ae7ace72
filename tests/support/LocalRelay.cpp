#include "support/LocalRelay.h"

#include "secretservice/Vault.h"
#include "support/Wait.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

namespace tellwire::testing {

namespace {

constexpr const char* kPhone = "13800138000";
constexpr const char* kCode = "123456";

// The relay answers at once; a blocking client keeps this simple.
nlohmann::json post(const QString& origin, const char* path, const nlohmann::json& body, const QString& token = {})
{
    httplib::Client client(origin.toStdString());
    httplib::Headers headers;
    if (!token.isEmpty())
        headers.emplace("Authorization", "Bearer " + token.toStdString());
    const auto reply = client.Post(path, headers, body.dump(), "application/json");
    return reply && reply->status == 200 ? nlohmann::json::parse(reply->body, nullptr, false) : nlohmann::json();
}

} // namespace

LocalRelay::~LocalRelay()
{
    relay_.terminate();
    if (!relay_.waitForFinished(5000))
        relay_.kill();
    relay_.waitForFinished(5000);
}

bool LocalRelay::start()
{
    const QString listen = origin.isEmpty() ? QStringLiteral("127.0.0.1:0") : origin.mid(QStringLiteral("http://").size());
    relay_.start(executable_, QStringList{"--listen", listen, "--code", kCode, "--hold", "2", "--state", state_.filePath("tellwire-relay")} + arguments);
    // The first line names the chosen port.
    if (!relay_.waitForStarted() || !waitForLine(QStringLiteral("listening on http://")))
        return false;
    origin = lastLine_.mid(lastLine_.indexOf(QStringLiteral("http://")));
    return true;
}

bool LocalRelay::restart()
{
    relay_.terminate();
    return relay_.waitForFinished(5000) && start();
}

bool LocalRelay::waitForLine(const QString& text)
{
    return waitForLine([&](const QString& line) { return line.contains(text); });
}

bool LocalRelay::waitForLine(const std::function<bool(const QString&)>& wanted)
{
    return waitUntil([&] {
        while (relay_.canReadLine()) {
            lastLine_ = QString::fromUtf8(relay_.readLine()).trimmed();
            if (wanted(lastLine_))
                return true;
        }
        return false;
    }, std::chrono::seconds(20));
}

QString LocalRelay::signIn(const QString& role)
{
    post(origin, "/v1/auth/phone/request", {{"phone", kPhone}});
    const auto reply = post(origin, "/v1/auth/phone/verify",
                            {{"phone", kPhone}, {"code", kCode}, {"role", role.toStdString()},
                             {"device_id", "test-" + role.toStdString()}});
    return QString::fromStdString(reply.is_object() ? reply.value("token", "") : "");
}

bool LocalRelay::say(const QString& utterance, const QString& text, bool final)
{
    const nlohmann::json event = {{"utterance", utterance.toStdString()}, {"text", text.toStdString()},
                                  {"final", final}, {"session", "s-1"}};
    const auto reply = post(origin, "/v1/events", event, phoneToken);
    lastSeq = reply.is_object() ? reply.value("seq", qint64(-1)) : -1;
    return lastSeq >= 0;
}

bool LocalRelay::waitForPollAfter(qint64 seq)
{
    const QString prefix = QStringLiteral("request GET /v1/events after=");
    return waitForLine([&](const QString& line) {
        return line.startsWith(prefix) && line.mid(prefix.size()).toLongLong() >= seq;
    });
}

bool storeDesktopToken(const QString& token)
{
    return !token.isEmpty() && Vault(std::chrono::seconds(20)).save(QStringLiteral("desktop-token"), token);
}

} // namespace tellwire::testing
