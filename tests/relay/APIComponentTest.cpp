#include "Printers.h"
#include "RelayFixture.h"

#include "relay/APICall.h"

#include <QElapsedTimer>

namespace tellwire {
namespace {

using namespace testing;

struct Outcome {
    bool called = false;
    std::optional<APIError> error;
    QByteArray body;
    QJsonObject object;
};

class APIComponentTest : public ::testing::Test {
protected:
    TestServer server;

    API api(const QString& token = {}, std::chrono::milliseconds timeout = API::kDefaultTimeout) const
    {
        return API(server.base() + QStringLiteral("/"), token, timeout);
    }
    static Outcome request(const API& api, const QString& path, const std::optional<QJsonObject>& body = {})
    {
        Outcome outcome;
        QObject context;
        api.request(path, body, &context, [&](const std::optional<APIError>& error, const QByteArray& bytes) {
            outcome = {true, error, bytes, {}};
        });
        EXPECT_TRUE(waitUntil([&] { return outcome.called; }));
        return outcome;
    }
    static Outcome object(const API& api, const QString& path)
    {
        Outcome outcome;
        QObject context;
        api.object(path, std::nullopt, &context, [&](const std::optional<APIError>& error, const QJsonObject& object) {
            outcome = {true, error, {}, object};
        });
        EXPECT_TRUE(waitUntil([&] { return outcome.called; }));
        return outcome;
    }
};

TEST_F(APIComponentTest, RequestsCarryTheirMethodHeadersAndCompactJson)
{
    server.on("/v1/me", TestServer::reply(200, R"({"ok":true})"));
    server.on("/v1/auth/phone/request", TestServer::reply(200, "{}"));
    const Outcome get = request(api(), QStringLiteral("/v1/me?after=9007199254740993"));
    ASSERT_FALSE(get.error) << get.error->message.toStdString();
    EXPECT_EQ(get.body, QByteArray(R"({"ok":true})"));
    request(api(QStringLiteral("tok-1")), QStringLiteral("/v1/auth/phone/request"),
            QJsonObject{{QStringLiteral("phone"), QStringLiteral("+8613800138000")}});

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    // Without a token or a body: neither Authorization nor Content-Type.
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].target, "/v1/me?after=9007199254740993");
    EXPECT_EQ(requests[0].body, "");
    EXPECT_FALSE(requests[0].hasHeader("Authorization"));
    EXPECT_FALSE(requests[0].hasHeader("Content-Type"));
    EXPECT_EQ(requests[1].method, "POST");
    EXPECT_EQ(requests[1].header("Authorization"), "Bearer tok-1");
    EXPECT_EQ(requests[1].header("Content-Type"), "application/json");
    EXPECT_EQ(requests[1].body, R"({"phone":"+8613800138000"})");
}

TEST_F(APIComponentTest, TokenNeverFollowsARedirectToAnotherOrigin)
{
    TestServer elsewhere;
    elsewhere.on("/v1/me", TestServer::reply(200, "{}"));
    const std::string location = "http://localhost:" + std::to_string(elsewhere.port()) + "/v1/me";
    server.on("/v1/me", [location](const httplib::Request&, httplib::Response& response) {
        response.set_redirect(location, 302);
    });
    server.on("/v1/moved", [this](const httplib::Request&, httplib::Response& response) {
        response.set_redirect(server.base().toStdString() + "/v1/here", 307);
    });
    server.on("/v1/here", TestServer::reply(200, R"({"here":true})"));

    EXPECT_TRUE(request(api(QStringLiteral("secret")), QStringLiteral("/v1/me")).error);
    EXPECT_EQ(elsewhere.requestCount(), 0u);

    const Outcome sameOrigin = request(api(QStringLiteral("secret")), QStringLiteral("/v1/moved"));
    ASSERT_FALSE(sameOrigin.error) << sameOrigin.error->message.toStdString();
    EXPECT_EQ(sameOrigin.body, QByteArray(R"({"here":true})"));
}

TEST_F(APIComponentTest, RefusedAddressSendsNothingAndAnswersLater)
{
    const API refused(QStringLiteral("http://example.com:%1").arg(server.port()), QStringLiteral("t"));
    Outcome outcome;
    QObject context;
    refused.request(QStringLiteral("/v1/me"), std::nullopt, &context,
                    [&](const std::optional<APIError>& error, const QByteArray&) { outcome = {true, error, {}, {}}; });
    EXPECT_FALSE(outcome.called); // never from inside the call
    ASSERT_TRUE(waitUntil([&] { return outcome.called; }));
    EXPECT_EQ(outcome.error, (APIError{QStringLiteral("请使用 HTTPS 服务地址；本机调试可使用 localhost"), 0,
                                       APIError::Source::Relay}));
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(APIComponentTest, ErrorRepliesReachTheMappingWithTheirStatusThroughBothForms)
{
    // Each row of the mapping is checked in APIErrorTest.
    server.on("/html", TestServer::reply(503, "<html><h1>503 Service Unavailable</h1></html>", "text/html"));
    server.on("/busy", TestServer::reply(429, R"({"error":"sms_unavailable"})"));
    const std::tuple<const char*, const char*, int> cases[] = {
        {"/html", "连接失败，请检查网络后重试", 503},
        {"/busy", "短信暂时无法发送，请稍后重试", 429},
    };
    for (const auto& [path, message, status] : cases) {
        for (const Outcome& outcome : {request(api(), QString::fromLatin1(path)), object(api(), QString::fromLatin1(path))})
            EXPECT_EQ(outcome.error, (APIError{QString::fromUtf8(message), status, APIError::Source::Relay})) << path;
    }
}

TEST_F(APIComponentTest, ObjectFormChecksTheReplyBytesFormPassesItOn)
{
    server.on("/object", TestServer::reply(200, R"({"token":"abc","n":9007199254740993})"));
    server.on("/array", TestServer::reply(200, R"([{"token":"abc"}])"));
    server.on("/garbage", TestServer::reply(200, R"({"token":)"));
    server.on("/empty", TestServer::reply(204, ""));

    const Outcome fine = object(api(), QStringLiteral("/object"));
    ASSERT_FALSE(fine.error);
    EXPECT_EQ(fine.object.value(QLatin1String("token")).toString(), QStringLiteral("abc"));
    EXPECT_EQ(fine.object.value(QLatin1String("n")).toInteger(), 9007199254740993LL);

    EXPECT_EQ(object(api(), QStringLiteral("/array")).error,
              (APIError{QStringLiteral("响应格式错误"), 0, APIError::Source::Relay}));
    for (const char* path : {"/garbage", "/empty"}) {
        const Outcome outcome = object(api(), QString::fromLatin1(path));
        ASSERT_TRUE(outcome.error) << path;
        EXPECT_EQ(outcome.error->source, APIError::Source::Parser) << path;
        EXPECT_FALSE(outcome.error->message.isEmpty());
    }

    EXPECT_EQ(request(api(), QStringLiteral("/garbage")).body, QByteArray(R"({"token":)"));
    const Outcome empty = request(api(), QStringLiteral("/empty"));
    EXPECT_FALSE(empty.error);
    EXPECT_TRUE(empty.body.isEmpty());
}

TEST_F(APIComponentTest, OversizedRepliesAreRefused)
{
    const std::string huge(API::kMaxReplyBytes + 1, 'x');
    // Not a compressible type, so the length is announced as it is.
    server.on("/sized", TestServer::reply(200, huge, "application/octet-stream"));
    // Sent compressed (16 KiB on the wire), it grows while being read.
    server.on("/bomb", TestServer::reply(200, huge, "application/json"));
    server.on("/chunked", [&](const httplib::Request&, httplib::Response& response) {
        // No length announced: the limit is enforced while reading.
        response.set_chunked_content_provider("application/octet-stream", [&huge](size_t offset, httplib::DataSink& sink) {
            if (offset >= huge.size()) {
                sink.done();
                return true;
            }
            return sink.write(huge.data() + offset, std::min<size_t>(64 * 1024, huge.size() - offset));
        });
    });
    server.on("/limit", TestServer::reply(200, std::string(API::kMaxReplyBytes, 'y'), "application/octet-stream"));

    for (const char* path : {"/sized", "/chunked"}) {
        EXPECT_EQ(request(api(), QString::fromLatin1(path)).error,
                  (APIError{QStringLiteral("服务器响应过大"), 0, APIError::Source::Transport})) << path;
    }
    const Outcome bomb = request(api(), QStringLiteral("/bomb"));
    ASSERT_TRUE(bomb.error);
    EXPECT_EQ(bomb.error->source, APIError::Source::Transport);
    EXPECT_TRUE(bomb.body.isEmpty());
    const Outcome atLimit = request(api(), QStringLiteral("/limit"));
    EXPECT_FALSE(atLimit.error);
    EXPECT_EQ(atLimit.body.size(), API::kMaxReplyBytes);
}

TEST_F(APIComponentTest, SilentRelayTimesOut)
{
    // A relay that cuts the reply or is down: PollingFaultTest and RelayDownAtFirst.
    server.on("/silent", server.hold());
    QElapsedTimer clock;
    clock.start();
    const Outcome silent = request(api({}, 300ms), QStringLiteral("/silent"));
    EXPECT_EQ(silent.error, (APIError{QStringLiteral("请求超时，请检查网络后重试"), 0, APIError::Source::Transport}));
    EXPECT_GE(clock.elapsed(), 250);
    EXPECT_LT(clock.elapsed(), 5000);
}

TEST_F(APIComponentTest, CancelledOrOrphanedCallsNeverAnswer)
{
    server.on("/v1/events", server.hold());
    bool called = false;
    auto context = std::make_unique<QObject>();
    const auto never = [&](const std::optional<APIError>&, const QByteArray&) { called = true; };
    APICall* cancelled = api().request(QStringLiteral("/v1/events?after=-1"), std::nullopt, context.get(), never);
    api().request(QStringLiteral("/v1/events?after=-1"), std::nullopt, context.get(), never);
    ASSERT_TRUE(waitUntil([&] { return server.requestCount() == 2; }));
    cancelled->cancel();
    context.reset();
    server.release();

    // A later call on the same client still completes.
    server.on("/v1/me", TestServer::reply(200, "{}"));
    EXPECT_FALSE(request(api(), QStringLiteral("/v1/me")).error);
    EXPECT_FALSE(called);
}

} // namespace
} // namespace tellwire
