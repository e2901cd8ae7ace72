#include "RelayFixture.h"

namespace tellwire {
namespace {

using namespace testing;

const QString kReceiving = QStringLiteral("正在接收手机文字");
const QString kConnected = QStringLiteral("已连接服务器");
const QString kReconnecting = QStringLiteral("连接中断，正在重连");

class PollingTest : public RelayFixture {
protected:
    RecordingClient client;
    std::unique_ptr<VoiceInputController> field;
    QStringList statuses;

    void SetUp() override
    {
        secrets.save(QStringLiteral("desktop-token"), QStringLiteral("tok"));
        makeState(secrets);
        field = std::make_unique<VoiceInputController>(*state);
        field->setClient(&client);
        field->activateServer();
        QObject::connect(state.get(), &DesktopState::statusChanged, state.get(),
                         [this] { statuses.append(state->status()); });
    }
    void TearDown() override
    {
        field.reset();
        RelayFixture::TearDown();
    }
};

TEST_F(PollingTest, CursorIsEchoedAndStatusFollowsTheReplies)
{
    server.on("/v1/events", TestServer::reply(200, batch(57, {event("u1", "你", false, kNow, 1)})));
    server.on("/v1/events", TestServer::reply(200, batch(9007199254740993LL)));
    server.on("/v1/events", server.hold());
    state->connect();
    EXPECT_TRUE(state->isPolling());

    ASSERT_TRUE(waitUntil([&] { return server.requestCount() == 3; }));
    EXPECT_EQ(targets("/v1/events"), (std::vector<std::string>{"/v1/events?after=-1", "/v1/events?after=57",
                                                               "/v1/events?after=9007199254740993"}));
    for (const RecordedRequest& r : server.requests()) {
        EXPECT_EQ(r.method, "GET");
        EXPECT_EQ(r.header("Authorization"), "Bearer tok");
    }
    EXPECT_EQ(statuses, (QStringList{kReceiving, kConnected}));
    EXPECT_EQ(state->cursor(), 9007199254740993LL);
    EXPECT_EQ(client.calls, std::vector<ClientCall>{marked("你", 1)});
}

TEST_F(PollingTest, WithoutTokenNothingStarts)
{
    MemorySecretStore empty;
    makeState(empty);
    state->connect();
    EXPECT_FALSE(state->isPolling());
    barrier();
    EXPECT_TRUE(targets("/v1/events").empty());
    EXPECT_EQ(state->status(), QStringLiteral("未连接手机"));
}

// A reply the poller cannot use, in every way a relay can fail. Each way a
// batch can be malformed is checked in EventBatchTest; any of them takes the
// same path here as MalformedJson.
struct Fault {
    const char* name;
    std::function<TestServer::Handler(TestServer&)> handler;
    std::chrono::milliseconds timeout = API::kDefaultTimeout;
};

class PollingFaultTest : public PollingTest, public ::testing::WithParamInterface<Fault> {};

TEST_P(PollingFaultTest, RecoversWithoutLosingOrRepeatingOrTypingStaleText)
{
    state->setRequestTimeout(GetParam().timeout);
    // The first batch is typed; then the relay fails; then it replays from the
    // start, by which time those events are stale.
    server.on("/v1/events", TestServer::reply(200, batch(5, {event("u0", "早", true, kNow, 1),
                                                             event("u1", "半", false, kNow, 2)})));
    server.on("/v1/events", GetParam().handler(server));
    server.on("/v1/events", TestServer::reply(200, batch(6, {event("u0", "早", true, kNow, 1),
                                                             event("u1", "半", false, kNow, 2),
                                                             event("u1", "半句", true, kNow, 3)})));
    server.on("/v1/events", TestServer::reply(200, batch(6)));
    server.on("/v1/events", server.hold());
    QObject::connect(state.get(), &DesktopState::statusChanged, state.get(), [this] {
        if (state->status() == kReconnecting)
            now += 5000;
    });

    state->connect();
    ASSERT_TRUE(waitUntil([&] { return server.requestCount() == 5; }));
    ASSERT_TRUE(waitUntil([&] { return statuses.size() == 4; }));

    EXPECT_EQ(statuses, (QStringList{kReceiving, kReconnecting, kReceiving, kConnected}));
    EXPECT_EQ(targets("/v1/events"),
              (std::vector<std::string>{"/v1/events?after=-1", "/v1/events?after=5", "/v1/events?after=-1",
                                        "/v1/events?after=6", "/v1/events?after=6"}));
    // Interim text was taken off screen when the connection broke; the final of
    // u0 was typed once; the stale replay typed nothing.
    EXPECT_EQ(client.calls, (std::vector<ClientCall>{inserted("早"), marked("半", 1), marked("", 0)}));
    EXPECT_EQ(historyIDs(), (QStringList{"u1", "u0"}));
    EXPECT_TRUE(state->hasToken());
    EXPECT_TRUE(state->isPolling());
}

INSTANTIATE_TEST_SUITE_P(
    Faults, PollingFaultTest,
    ::testing::Values(
        Fault{"MalformedJson", [](TestServer&) { return TestServer::reply(200, R"({"events":[)"); }},
        Fault{"HtmlServiceUnavailable",
              [](TestServer&) { return TestServer::reply(503, "<html>503 Service Unavailable</html>", "text/html"); }},
        Fault{"NoContent", [](TestServer&) { return TestServer::reply(204, ""); }},
        Fault{"Unauthorized", [](TestServer&) { return TestServer::reply(401, R"({"error":"unauthorized"})"); }},
        Fault{"Oversized",
              [](TestServer&) {
                  return TestServer::reply(200, std::string(API::kMaxReplyBytes + 1, ' '), "application/octet-stream");
              }},
        Fault{"ClosedMidReply",
              [](TestServer&) {
                  return TestServer::Handler([](const httplib::Request&, httplib::Response& response) {
                      response.set_content_provider(500, "application/json", [](size_t, size_t, httplib::DataSink& sink) {
                          sink.write(R"({"events":[)", 11);
                          return false;
                      });
                  });
              }},
        Fault{"NeverAnswers", [](TestServer& server) { return server.hold(); }, 300ms}),
    [](const ::testing::TestParamInfo<Fault>& info) { return std::string(info.param.name); });

TEST_F(PollingTest, RelayDownAtFirstIsReachedOnceItComesUp)
{
    const int port = unusedPort();
    state->setBase(QStringLiteral("http://127.0.0.1:%1").arg(port));
    state->connect();
    ASSERT_TRUE(waitUntil([&] { return state->status() == kReconnecting; }));

    TestServer later(port);
    ASSERT_EQ(later.port(), port);
    later.on("/v1/events", TestServer::reply(200, batch(1)));
    later.on("/v1/events", later.hold());
    ASSERT_TRUE(waitUntil([&] { return state->status() == kConnected; }));
    EXPECT_EQ(later.requests().at(0).target, "/v1/events?after=-1");
    state.reset(); // before the server it polls goes away
}

TEST_F(PollingTest, ConnectAgainReplacesTheRunningPoll)
{
    server.on("/v1/events", TestServer::reply(200, batch(7)));
    server.on("/v1/events", server.hold());
    state->connect();
    ASSERT_TRUE(waitUntil([&] { return server.requestCount() == 2; }));
    EXPECT_EQ(state->cursor(), 7);

    state->connect();
    EXPECT_EQ(state->cursor(), -1);
    ASSERT_TRUE(waitUntil([&] { return server.requestCount() == 3; }));
    EXPECT_EQ(targets("/v1/events"),
              (std::vector<std::string>{"/v1/events?after=-1", "/v1/events?after=7", "/v1/events?after=-1"}));

    // Both held requests are answered; only the new poll is still listening.
    server.release();
    ASSERT_TRUE(waitUntil([&] { return targets("/v1/events").size() == 4; }));
    barrier();
    EXPECT_EQ(targets("/v1/events").size(), 4u);
    EXPECT_EQ(targets("/v1/events").back(), "/v1/events?after=0");
}

TEST_F(PollingTest, ReplacedPollStillHandlesTheReplyItHasReceived)
{
    // A fresh poll asked for in the middle of a batch, as a sign-in from the panel would.
    bool reconnected = false;
    QObject::connect(state.get(), &DesktopState::historyChanged, state.get(), [&] {
        if (!std::exchange(reconnected, true))
            state->connect();
    });
    server.on("/v1/events", TestServer::reply(200, batch(9, {event("stale", "旧", false, kNow - 5000, 1),
                                                             event("b", "乙", true, kNow, 2),
                                                             event("c", "丙", true, kNow, 3)})));
    server.on("/v1/events", server.hold());

    state->connect();
    ASSERT_TRUE(waitUntil([&] { return server.requestCount() == 2; }));
    barrier();
    EXPECT_EQ(historyIDs(), (QStringList{"c", "b"}));
    EXPECT_EQ(client.calls, (std::vector<ClientCall>{inserted("乙"), inserted("丙")}));
    // The old poll ended after its batch; only the new one asked again.
    EXPECT_EQ(targets("/v1/events"), (std::vector<std::string>{"/v1/events?after=-1", "/v1/events?after=-1"}));
    EXPECT_EQ(state->cursor(), -1);
    EXPECT_TRUE(state->isPolling());
}

} // namespace
} // namespace tellwire
