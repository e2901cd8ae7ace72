#include "input/VoiceInputController.h"
#include "model/Defaults.h"
#include "model/DesktopState.h"
#include "model/SecretStore.h"
#include "relayclient/RelayClient.h"
#include "support/Fakes.h"
#include "support/Messages.h"
#include "support/TestServer.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace tellwire {
namespace {

using namespace testing;
using namespace std::chrono_literals;

const QString& kToken = DesktopState::kTokenAccount;
const std::string kVerify = "/v1/auth/phone/verify";
const std::string kCodeRequest = "/v1/auth/phone/request";
constexpr double kNow = 1'700'000'000'000.0;

// A reply to an events request; its events, (utterance, text, final) each, were said at the given time.
std::string batch(qint64 cursor, const QList<std::tuple<const char*, const char*, bool>>& events = {}, double at = kNow)
{
    QJsonArray list;
    for (const auto& [utterance, text, final] : events)
        list.append(QJsonObject{{"utterance", utterance}, {"text", text}, {"seq", 1}, {"at", at}, {"final", final}});
    return QJsonDocument(QJsonObject{{"events", list}, {"cursor", cursor}}).toJson().toStdString();
}

// A keyring that can be made to refuse to keep anything.
struct Keyring final : SecretStore {
    MemorySecretStore memory;
    bool refusing = false;
    QString load(const QString& key) override { return memory.load(key); }
    bool save(const QString& key, const QString& value) override { return !refusing && memory.save(key, value); }
};

class RelayClientTest : public ::testing::Test {
protected:
    TestServer server;
    Keyring secrets;
    MemoryDefaults defaults;
    RecordingShell shell;
    DesktopState state{secrets, defaults, nullptr};
    RelayClient relay{state};

    void SetUp() override { state.setBase(server.base()); }
};

class PollingFaultTest : public RelayClientTest, public ::testing::WithParamInterface<std::string> {};

// Signed in, with one focused text field, the relay fails once. Each way a batch can be malformed is
// checked in EventBatchTest; the ways a reply can fail reach the user in SignInTest.
TEST_P(PollingFaultTest, RecoversWithoutLosingOrRepeatingOrTypingStaleText)
{
    state.setToken(QStringLiteral("tok"));
    relay.setRetryPause(50ms);
    relay.router().setClock([] { return kNow; });
    RecordingClient client;
    VoiceInputController field(state, relay.router());
    field.setClient(&client);
    field.activateServer();
    QStringList statuses;
    QObject::connect(&state, &DesktopState::statusChanged, [&] { statuses.append(state.status()); });
    TestServer elsewhere;
    const std::map<std::string, TestServer::Handler> faults{
        {"MalformedJson", TestServer::reply(200, R"({"events":[)")},
        {"ServerError", TestServer::reply(500, R"({"error":"internal"})")},
        {"NeverAnswers", server.hold()},
        {"RedirectsElsewhere", [to = elsewhere.base().toStdString()](auto&, auto& r) { r.set_redirect(to + "/v1"); }},
    };
    relay.setRequestTimeout(GetParam() == "NeverAnswers" ? 300ms : API::kDefaultTimeout);
    // The first batch is typed; then the relay fails; then it replays from the start, late: those events are stale.
    const qint64 large = 9007199254740993LL;
    server.on("/v1/events", TestServer::reply(200, batch(5, {{"u0", "早", true}, {"u1", "半", false}})));
    server.on("/v1/events", faults.at(GetParam()));
    server.on("/v1/events", TestServer::reply(200, batch(large, {{"u0", "早", true}, {"u1", "半句", true}}, kNow - 5000)));
    server.on("/v1/events", TestServer::reply(200, batch(large)));
    server.on("/v1/events", server.hold());

    relay.connect();
    ASSERT_TRUE(waitUntil([&] { return server.requestCount() >= 5; }));
    std::vector<std::string> cursors;
    for (const RecordedRequest& r : server.requests())
        cursors.push_back(r.target.substr(std::string("/v1/events?after=").size()));
    cursors.resize(4); // a held poll that timed out may have asked again since
    EXPECT_EQ(cursors, (std::vector<std::string>{"-1", "5", "-1", "9007199254740993"}));
    EXPECT_EQ(statuses.mid(0, 4), (QStringList{msg::kReceiving, msg::kReconnecting, msg::kReceiving, msg::kConnected}));
    EXPECT_EQ(elsewhere.requestCount(), 0u); // the token never follows a redirect to another origin
    // Interim text was taken off screen when the connection broke; u0's final was typed once.
    EXPECT_EQ(client.calls, (std::vector<ClientCall>{inserted("早"), marked("半", 1), marked("", 0)}));
    EXPECT_EQ(state.historyText(), "早\n半句");
}

INSTANTIATE_TEST_SUITE_P(Faults, PollingFaultTest,
                         ::testing::Values("MalformedJson", "ServerError", "NeverAnswers", "RedirectsElsewhere"),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });

using SignInTest = RelayClientTest;

TEST_F(SignInTest, MalformedNumbersAndCodesAreRefused)
{
    for (const char* phone : {"12800138000", "1380013800", "138001380001", "13800138000\n", "１３８００１３８０００"}) {
        state.setError(QString());
        relay.signIn().requestPhoneCode(QString::fromUtf8(phone));
        EXPECT_EQ(state.error(), msg::kBadPhone) << phone;
    }
    for (const char* code : {"12345", "1234567", "12a456", "123456\n", "１２３４５６"}) {
        state.setError(QString());
        relay.signIn().login(QStringLiteral("13800138000"), QString::fromUtf8(code));
        EXPECT_EQ(state.error(), msg::kBadCode) << code;
    }
}

// How each error reply reads is in APIRulesTest; a code asked for through the settings, in DesktopWindowsTest.
TEST_F(SignInTest, WhatTheRelayAnswersIsShownAndOnlyAUsableTokenIsKeptAndPolledWith)
{
    secrets.save(kToken, QStringLiteral("old"));
    // Sixteen mebibytes are read; one byte more is refused.
    std::string atLimit = R"({"token":""})";
    atLimit.resize(16 * 1024 * 1024, ' ');
    // What the relay answers, and what the user is told (null: the JSON reader's own words).
    const std::tuple<std::string, TestServer::Handler, const char*> answers[] = {
        {kCodeRequest, TestServer::reply(429, R"({"message":"too many"})"), msg::kTooFrequent},
        {kCodeRequest, server.hold(), msg::kTimedOut},
        {kVerify, TestServer::reply(200, R"([{"token":"t"}])"), msg::kBadFormat},
        {kVerify, TestServer::reply(200, R"({"token":)"), nullptr},
        {kVerify, TestServer::reply(200, atLimit, "application/octet-stream"), msg::kNoToken},
        {kVerify, TestServer::reply(200, atLimit + ' ', "application/octet-stream"), msg::kTooLarge},
        {kVerify, TestServer::reply(200, R"({"token":"unkept"})"), msg::kTokenNotSaved},
        {kVerify, TestServer::reply(200, R"({"token":"new-token","user":{"id":1}})"), msg::kSignedIn},
    };
    for (const auto& [path, handler, message] : answers)
        server.on(path, handler);
    QString told;
    QObject::connect(&state, &DesktopState::errorChanged, [&] { told = state.error(); });
    QObject::connect(&state, &DesktopState::statusChanged, [&] { told = state.status(); });

    for (const auto& [path, handler, message] : answers) {
        state.setError(QString());
        told.clear();
        relay.setRequestTimeout(message == msg::kTimedOut ? 300ms : API::kDefaultTimeout);
        secrets.refusing = message == msg::kTokenNotSaved;
        path == kVerify ? relay.signIn().login(QStringLiteral("+8613800138000"), QStringLiteral("123456"))
                        : relay.signIn().requestPhoneCode(QStringLiteral("+8619912345678"));
        ASSERT_TRUE(waitUntil([&] { return !told.isEmpty(); })) << message;
        EXPECT_TRUE(message ? told == message : told != msg::kBadFormat && told != msg::kNoToken) << told.toStdString();
        EXPECT_EQ(secrets.load(kToken), message == msg::kSignedIn ? "new-token" : "old") << message;
        EXPECT_EQ(relay.isPolling(), message == msg::kSignedIn) << message;
    }
    const auto requests = server.requests();
    const QJsonObject code{{"phone", "+8619912345678"}};
    const QJsonObject verify{
        {"phone", "+8613800138000"}, {"code", "123456"}, {"role", "desktop"}, {"device_id", state.deviceID()}};
    for (const auto& [sent, body] : {std::pair{requests[0], code}, std::pair{requests[2], verify}}) {
        EXPECT_EQ(sent.method + sent.header("Content-Type") + sent.header("Authorization"), "POSTapplication/json");
        EXPECT_EQ(QJsonDocument::fromJson(QByteArray::fromStdString(sent.body)).object(), body);
    }
}

// Launching with no token opens the settings in DesktopWindowsTest; with an accepted one, polls in PhonePageTest.
TEST_F(SignInTest, OnlyATokenTheRelayRefusesIsForgottenAtLaunch)
{
    state.setShell(&shell);
    const std::pair<TestServer::Handler, bool> answers[] = { // refused?
        {TestServer::reply(401, "{}"), true}, {TestServer::reply(403, "{}"), true},
        {TestServer::reply(503, "{}"), false}, {server.hold(), false}};
    for (const auto& [answer, refused] : answers)
        server.on("/v1/me", answer);
    server.on("/v1/events", server.hold());
    for (const auto& [answer, refused] : answers) {
        RelayClient launched{state};
        launched.setRequestTimeout(300ms);
        secrets.save(kToken, QStringLiteral("t"));
        state.setToken(QStringLiteral("t"));
        state.setError(QString());
        shell.settingsShows = 0;
        launched.signIn().prepare();
        ASSERT_TRUE(waitUntil([&] { return shell.settingsShows > 0 || launched.isPolling(); }));
        EXPECT_EQ(state.token() + secrets.load(kToken), refused ? "" : "tt");
        EXPECT_EQ(state.error(), refused ? msg::kSignInExpired : "");
        EXPECT_EQ(launched.isPolling(), !refused); // offline at launch: polling retries with the kept token
    }
}

TEST_F(SignInTest, ATokenRefusedWhilePollingEndsTheSignInInsteadOfRetrying)
{
    secrets.save(kToken, QStringLiteral("t"));
    state.setToken(QStringLiteral("t"));
    relay.setRetryPause(10ms);
    server.on("/v1/events", TestServer::reply(401, R"({"error":"unauthorized"})"));
    relay.connect();
    ASSERT_TRUE(waitUntil([&] { return !relay.isPolling(); }));
    EXPECT_EQ(state.token() + secrets.load(kToken), "");
    EXPECT_EQ(state.error(), msg::kTokenRefused);
    EXPECT_EQ(state.status(), msg::kNotConnected);
    EXPECT_EQ(server.requestCount(), 1u);
}

} // namespace
} // namespace tellwire
