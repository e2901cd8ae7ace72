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
using Targets = std::vector<std::string>;

const QString& kToken = DesktopState::kTokenAccount;
const std::string kVerify = "/v1/auth/phone/verify", kCodeRequest = "/v1/auth/phone/request";
constexpr double kNow = 1'700'000'000'000.0;

// A reply to an events request; its events, (utterance, text, final) each, are fresh.
std::string batch(qint64 cursor, const QList<std::tuple<const char*, const char*, bool>>& events = {})
{
    QJsonArray list;
    for (const auto& [utterance, text, final] : events)
        list.append(QJsonObject{{"utterance", utterance}, {"text", text}, {"seq", 1}, {"at", kNow}, {"final", final}});
    return QJsonDocument(QJsonObject{{"events", list}, {"cursor", cursor}}).toJson(QJsonDocument::Compact).toStdString();
}

// A keyring that can be made to refuse to keep anything.
struct Keyring final : SecretStore {
    MemorySecretStore memory;
    bool refusing = false;
    QString load(const QString& account) override { return memory.load(account); }
    bool save(const QString& account, const QString& value) override { return !refusing && memory.save(account, value); }
};

// A desktop's relay client talking to a TestServer, with a fixed clock and a short retry pause.
class RelayClientTest : public ::testing::Test {
protected:
    TestServer server;
    Keyring secrets;
    MemoryDefaults defaults;
    RecordingShell shell;
    double now = kNow;
    std::unique_ptr<DesktopState> state;
    std::unique_ptr<RelayClient> relay;

    void SetUp() override { makeClient(); }
    void makeClient(const QString& base = {})
    {
        relay.reset();
        state = std::make_unique<DesktopState>(secrets, defaults, nullptr);
        state->setBase(base.isEmpty() ? server.base() : base);
        state->setShell(&shell);
        relay = std::make_unique<RelayClient>(*state);
        relay->setRetryPause(50ms);
        relay->router().setClock([this] { return now; });
    }
};

// Signed in, with one focused text field.
class PollingFaultTest : public RelayClientTest, public ::testing::WithParamInterface<std::string> {
protected:
    RecordingClient client;
    std::unique_ptr<VoiceInputController> field;
    QStringList statuses;

    void SetUp() override
    {
        secrets.save(kToken, QStringLiteral("tok"));
        makeClient();
        field = std::make_unique<VoiceInputController>(*state, relay->router());
        field->setClient(&client);
        field->activateServer();
        QObject::connect(state.get(), &DesktopState::statusChanged, [this] { statuses.append(state->status()); });
    }
};

// A reply the poller cannot use. Each way a batch can be malformed is checked
// in EventBatchTest; the ways a reply can fail reach the user in SignInTest.
TEST_P(PollingFaultTest, RecoversWithoutLosingOrRepeatingOrTypingStaleText)
{
    TestServer elsewhere;
    const std::string away = "http://localhost:" + std::to_string(elsewhere.port()) + "/v1/events";
    const std::map<std::string, TestServer::Handler> faults{
        {"MalformedJson", TestServer::reply(200, R"({"events":[)")},
        {"Unauthorized", TestServer::reply(401, R"({"error":"unauthorized"})")},
        {"NeverAnswers", server.hold()},
        {"RedirectsElsewhere", [away](const httplib::Request&, httplib::Response& r) { r.set_redirect(away, 302); }},
    };
    relay->setRequestTimeout(GetParam() == "NeverAnswers" ? 300ms : API::kDefaultTimeout);
    // The first batch is typed; then the relay fails; then it replays from the
    // start, by which time those events are stale.
    server.on("/v1/events", TestServer::reply(200, batch(5, {{"u0", "早", true}, {"u1", "半", false}})));
    server.on("/v1/events", faults.at(GetParam()));
    server.on("/v1/events", TestServer::reply(200, batch(9007199254740993LL, {{"u0", "早", true}, {"u1", "半句", true}})));
    server.on("/v1/events", TestServer::reply(200, batch(9007199254740993LL)));
    server.on("/v1/events", server.hold());
    QObject::connect(state.get(), &DesktopState::statusChanged, [this] { now += state->status() == msg::kReconnecting ? 5000 : 0; });

    relay->connect();
    ASSERT_TRUE(waitUntil([&] { return server.requestCount() >= 5; }));
    // Only the first five: a held poll that timed out may have asked again since.
    Targets polls;
    for (const RecordedRequest& r : server.requests())
        polls.push_back(r.target);
    EXPECT_EQ(Targets(polls.begin(), polls.begin() + 5),
              (Targets{"/v1/events?after=-1", "/v1/events?after=5", "/v1/events?after=-1", "/v1/events?after=9007199254740993",
                       "/v1/events?after=9007199254740993"}));
    EXPECT_EQ(statuses.mid(0, 4), (QStringList{msg::kReceiving, msg::kReconnecting, msg::kReceiving, msg::kConnected}));
    EXPECT_EQ(elsewhere.requestCount(), 0u); // the token never follows a redirect to another origin
    // Interim text was taken off screen when the connection broke; the final of
    // u0 was typed once; the stale replay typed nothing.
    EXPECT_EQ(client.calls, (std::vector<ClientCall>{inserted("早"), marked("半", 1), marked("", 0)}));
    EXPECT_EQ(state->historyText(), "早\n半句");
}

INSTANTIATE_TEST_SUITE_P(Faults, PollingFaultTest,
                         ::testing::Values("MalformedJson", "Unauthorized", "NeverAnswers", "RedirectsElsewhere"),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });

using SignInTest = RelayClientTest;

TEST_F(SignInTest, MalformedNumbersAndCodesAreRefused)
{
    for (const char* phone : {"12800138000", "10800138000", "1380013800", "138001380001", "+86 13800138000", "13800138000\n", "",
                              "１３８００１３８０００"}) {
        state->setError(QString());
        relay->signIn().requestPhoneCode(QString::fromUtf8(phone));
        EXPECT_EQ(state->error(), msg::kBadPhone) << phone;
    }
    for (const char* code : {"12345", "1234567", "12a456", "123456\n", "１２３４５６"}) {
        state->setError(QString());
        relay->signIn().login(QStringLiteral("13800138000"), QString::fromUtf8(code));
        EXPECT_EQ(state->error(), msg::kBadCode) << code;
    }
    EXPECT_EQ(defaults.string(QStringLiteral("endpoint")), QString());
}

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
        {kCodeRequest, TestServer::reply(200, "{}"), msg::kCodeRequested},
        {kVerify, TestServer::reply(200, R"({"token":""})"), msg::kNoToken},
        {kVerify, TestServer::reply(200, R"({"token":5})"), msg::kNoToken},
        {kVerify, TestServer::reply(200, "{}"), msg::kNoToken},
        {kVerify, TestServer::reply(200, R"([{"token":"t"}])"), msg::kBadFormat},
        {kVerify, TestServer::reply(200, R"({"token":)"), nullptr},
        {kVerify, TestServer::reply(401, R"({"message":"code mismatch"})"), msg::kWrongCode},
        {kVerify, TestServer::reply(200, atLimit, "application/octet-stream"), msg::kNoToken},
        {kVerify, TestServer::reply(200, atLimit + ' ', "application/octet-stream"), msg::kTooLarge},
        {kVerify, TestServer::reply(200, R"({"token":"unkept"})"), msg::kTokenNotSaved},
        {kVerify, TestServer::reply(200, R"({"token":"new-token","user":{"id":1}})"), msg::kSignedIn},
    };
    for (const auto& [path, handler, message] : answers)
        server.on(path, handler);
    server.on("/v1/events", server.hold());
    QString told;
    QObject::connect(state.get(), &DesktopState::errorChanged, [&] { told = state->error(); });
    QObject::connect(state.get(), &DesktopState::statusChanged, [&] { told = state->status(); });

    for (const auto& [path, handler, message] : answers) {
        state->setError(QString());
        told.clear();
        relay->setRequestTimeout(message == msg::kTimedOut ? 300ms : API::kDefaultTimeout);
        secrets.refusing = message == msg::kTokenNotSaved;
        path == kVerify ? relay->signIn().login(QStringLiteral("+8613800138000"), QStringLiteral("123456"))
                        : relay->signIn().requestPhoneCode(QStringLiteral("+8619912345678"));
        ASSERT_TRUE(waitUntil([&] { return !told.isEmpty(); })) << message;
        EXPECT_TRUE(message ? told == message : told != msg::kNoToken) << told.toStdString();
        EXPECT_EQ(secrets.load(kToken), message == msg::kSignedIn ? "new-token" : "old") << message;
        EXPECT_EQ(relay->isPolling(), message == msg::kSignedIn) << message;
    }
    EXPECT_EQ(defaults.string(QStringLiteral("endpoint")), server.base());
    ASSERT_TRUE(waitUntil([&] { return server.requestCount() > std::size(answers); }));
    const auto requests = server.requests();
    const QJsonObject code{{"phone", "+8619912345678"}};
    const QJsonObject verify{{"phone", "+8613800138000"}, {"code", "123456"}, {"role", "desktop"}, {"device_id", state->deviceID()}};
    for (const auto& [posted, body] : {std::pair{requests[2], code}, std::pair{requests[3], verify}}) {
        EXPECT_EQ(posted.method + " " + posted.header("Content-Type") + " " + posted.header("Authorization"), "POST application/json ");
        EXPECT_EQ(QJsonDocument::fromJson(QByteArray::fromStdString(posted.body)).object(), body);
    }
    EXPECT_EQ(requests[13].target + " " + requests[13].header("Authorization"), "/v1/events?after=-1 Bearer new-token");
}

TEST_F(SignInTest, LaunchPollsWithAnAcceptedTokenAndOtherwiseForgetsItAndOpensTheSettings)
{
    relay->connect(); // without a token: nothing
    server.on("/v1/me", TestServer::reply(401, R"({"error":"unauthorized"})"));
    server.on("/v1/me", TestServer::reply(200, "{}"));
    server.on("/v1/events", server.hold());
    // The stored token, where the relay is, whether it is accepted.
    const std::tuple<const char*, QString, bool> launches[] = {
        {"", server.base(), false}, {"refused", server.base(), false},
        {"stored", QStringLiteral("http://127.0.0.1:%1").arg(unusedPort()), false}, {"good", server.base(), true},
    };
    for (const auto& [token, base, accepted] : launches) {
        secrets.save(kToken, QString::fromLatin1(token));
        makeClient(base);
        shell.settingsShows = 0;
        relay->signIn().prepare();
        ASSERT_TRUE(waitUntil([&] { return shell.settingsShows > 0 || server.requestCount() == 3; })) << token;
        EXPECT_EQ(shell.settingsShows, accepted ? 0 : 1) << token;
        EXPECT_EQ(relay->isPolling(), accepted) << token;
        EXPECT_EQ(secrets.load(kToken), accepted ? token : "") << token;
        EXPECT_EQ(state->error(), accepted || !*token ? "" : msg::kSignInExpired) << token;
    }
    const auto requests = server.requests();
    EXPECT_EQ(requests.at(0).header("Authorization") + ", " + requests.at(1).header("Authorization"), "Bearer refused, Bearer good");
}

} // namespace
} // namespace tellwire
