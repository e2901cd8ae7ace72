// The relay as the desktop and the phone see it, served in this process with a
// clock the test moves; then tellwire-relay and tellwire-phone as programs.
#include "Relay.h"
#include "RelayServer.h"
#include "support/Messages.h"
#include "support/ToolRun.h"
#include "support/Wait.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <gmock/gmock.h>
#include <httplib.h>
#include <nlohmann/json.hpp>
#include <signal.h>
#include <future>

using namespace std::chrono_literals;
using nlohmann::json;
using tellwire::testing::runTool;
using tellwire::testing::ToolRun;
using ::testing::ElementsAre;
namespace msg = tellwire::testing::msg;

namespace {

const std::string kNumber = "13800138000", kCode = "123456", kRequest = "POST /v1/auth/phone/request",
                  kVerify = "POST /v1/auth/phone/verify", kPublish = "POST /v1/events", kMe = "GET /v1/me";
constexpr std::int64_t kStart = 1'700'000'000'000;
const json kNone = json::array();

struct Reply { int status = 0; json body; }; // status 0: no HTTP reply at all

// One request such as "GET /v1/me" to 127.0.0.1:port. A body that is a JSON
// string goes out as it is, so that malformed bodies can be sent.
Reply call(int port, const std::string& request, const json& body = {}, const std::string& token = {})
{
    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(30);
    httplib::Headers headers;
    if (!token.empty())
        headers.emplace("Authorization", "Bearer " + token);
    const std::string method = request.substr(0, request.find(' ')), path = request.substr(method.size() + 1);
    const std::string payload = body.is_string() ? body.get<std::string>() : body.dump();
    const auto result = method == "GET" ? client.Get(path, headers)
        : method == "PUT"               ? client.Put(path, headers, payload, "application/json")
                                        : client.Post(path, headers, payload, "application/json");
    return result ? Reply{result->status, json::parse(result->body, nullptr, false)} : Reply{};
}

json verify(const std::string& code, const std::string& role = "desktop", const std::string& phone = kNumber)
{
    return {{"phone", phone}, {"code", code}, {"role", role}, {"device_id", role + "-test"}};
}

// Requests a code and signs in with `code`: the token, or empty.
std::string signIn(int port, const std::string& phone, const std::string& role, const std::string& code = kCode)
{
    call(port, kRequest, {{"phone", phone}});
    const Reply reply = call(port, kVerify, verify(code, role, phone));
    return reply.status == 200 ? reply.body.value("token", "") : "";
}

struct TestRelay {
    explicit TestRelay(tellwire::RelayLimits limits = {}, std::chrono::milliseconds hold = 0ms)
        : relay({.fixedCode = kCode, .hold = hold, .now = [this] { return clock.load(); }, .notice = {},
                 .limits = limits})
        , port(server.bind("127.0.0.1", 0))
    {
        server.start();
    }
    Reply call(const std::string& request, const json& body = {}, const std::string& token = {})
    {
        return ::call(port, request, body, token);
    }
    Reply events(const std::string& token, std::int64_t after)
    {
        return call("GET /v1/events?after=" + std::to_string(after), {}, token);
    }
    std::string signIn(const std::string& phone, const std::string& role) { return ::signIn(port, phone, role); }

    std::atomic<std::int64_t> clock{kStart};
    tellwire::Relay relay;
    tellwire::RelayServer server{relay};
    const int port;
};

void expectRefusal(const Reply& reply, int status, const std::string& error)
{
    EXPECT_EQ(reply.status, status) << reply.body;
    ASSERT_TRUE(reply.body.is_object()) << reply.body;
    EXPECT_EQ(reply.body.value("error", ""), error) << reply.body;
    EXPECT_NE(reply.body.value("message", ""), "") << reply.body;
}

json utterance(const std::string& text, bool final = false)
{
    return {{"utterance", "u1"}, {"text", text}, {"final", final}, {"session", "s-1"}};
}

} // namespace

TEST(RelayContract, EveryFormOfANumberIsOneAccountAndEventsCarrySeqAndTimeFromTheRelay)
{
    TestRelay relay;
    EXPECT_EQ(relay.call(kRequest, {{"phone", "8613800138000"}}).status, 200);
    const std::string desktop = relay.signIn("+8613800138000", "desktop"), phone = relay.signIn(kNumber, "phone");
    EXPECT_THAT(desktop + " " + phone, ::testing::MatchesRegex("[0-9a-f]{64} [0-9a-f]{64}"));
    EXPECT_NE(desktop, phone);
    EXPECT_EQ(relay.call(kMe, {}, phone).body, json({{"phone", kNumber}, {"role", "phone"}, {"device_id", "phone-test"}}))
        << "named by its 11 digits";
    EXPECT_EQ(relay.call(kPublish, utterance("你好"), phone).body, json({{"seq", 1}, {"at", kStart}, {"cursor", 1}}));
    relay.clock += 250;
    relay.call(kPublish, {{"utterance", "u1"}, {"text", "你好世界"}, {"final", true}, {"session", "s-1"}, {"at", 5},
                          {"seq", 99}, {"extra", "ignored"}}, phone);
    relay.call(kPublish, {{"type", "session_end"}, {"session", "s-1"}, {"utterance", nullptr}}, phone);
    const std::int64_t later = kStart + 250;
    const json events = json::array({
        {{"utterance", "u1"}, {"text", "你好"}, {"final", false}, {"session", "s-1"}, {"seq", 1}, {"at", kStart}},
        {{"utterance", "u1"}, {"text", "你好世界"}, {"final", true}, {"session", "s-1"}, {"seq", 2}, {"at", later}},
        {{"type", "session_end"}, {"final", false}, {"session", "s-1"}, {"seq", 3}, {"at", later}},
    });
    EXPECT_EQ(relay.events(desktop, -1).body, json({{"events", events}, {"cursor", 3}}));
    EXPECT_EQ(relay.events(relay.signIn("13900139000", "desktop"), -1).body, json({{"events", kNone}, {"cursor", 0}}));
}

TEST(RelayContract, CodesAreSingleUseLiveFiveMinutesFallToGuessingAndAreRateLimited)
{
    TestRelay relay;
    const auto request = [&](const std::string& phone) { return relay.call(kRequest, {{"phone", phone}}); };
    const auto check = [&](const std::string& code) { return relay.call(kVerify, verify(code)); };
    request(kNumber);
    relay.clock += 5 * 60 * 1000 - 1;
    EXPECT_EQ(check(kCode).status, 200);
    expectRefusal(check(kCode), 401, "invalid_code");
    request(kNumber);
    relay.clock += 5 * 60 * 1000;
    EXPECT_EQ(check(kCode).status, 401) << "expired";
    request(kNumber);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(check("654321").status, 401);
    EXPECT_EQ(check(kCode).status, 401) << "five wrong codes discard the live one";
    for (int i = 0; i < 4; ++i) // five in this minute with the one above
        ASSERT_EQ(request("+8613800138000").status, 200);
    expectRefusal(request(kNumber), 429, "rate_limited");
    EXPECT_EQ(request("13900139000").status, 200) << "another number is not affected";
    relay.clock += 60 * 1000;
    EXPECT_EQ(request(kNumber).status, 200);
}

TEST(RelayContract, TheLeastRecentlyUsedAccountIsDroppedWithItsTokens)
{
    TestRelay relay({.accounts = 2});
    const std::string first = relay.signIn("13800000001", "desktop"), second = relay.signIn("13800000002", "desktop");
    ASSERT_EQ(relay.call(kMe, {}, first).status, 200); // now the second is the oldest
    relay.signIn("13800000003", "desktop");
    EXPECT_EQ(relay.call(kMe, {}, first).status, 200);
    EXPECT_EQ(relay.call(kMe, {}, second).status, 401);
}

TEST(RelayContract, CursorSemantics)
{
    TestRelay relay({.eventsPerAccount = 5, .eventsPerReply = 3});
    const std::string desktop = relay.signIn(kNumber, "desktop"), phone = relay.signIn(kNumber, "phone");
    EXPECT_EQ(relay.events(desktop, -1).body, json({{"events", kNone}, {"cursor", 0}}));
    for (int i = 1; i <= 7; ++i)
        relay.call(kPublish, utterance("t"), phone);
    const auto seqs = [&](std::int64_t after) { // then the cursor
        std::vector<int> out;
        const Reply reply = relay.events(desktop, after);
        for (const auto& event : reply.body["events"])
            out.push_back(event["seq"]);
        return out.push_back(reply.body["cursor"]), out;
    };
    // Only the newest five are kept; after=-1 reads from the oldest kept, at most three at a time.
    EXPECT_THAT(seqs(-1), ElementsAre(3, 4, 5, 5));
    EXPECT_THAT(seqs(5), ElementsAre(6, 7, 7));
    EXPECT_THAT(seqs(1), ElementsAre(3, 4, 5, 5)) << "older than what is kept";
    EXPECT_THAT(seqs(7), ElementsAre(7));
    EXPECT_THAT(seqs(57), ElementsAre(3, 4, 5, 5)) << "never given out: a relay restarted under the desktop";
    for (const char* bad : {"abc", "-2", "1.5", "", "99999999999999999999", "5x", "+5"})
        expectRefusal(relay.call(std::string("GET /v1/events?after=") + bad, {}, desktop), 400, "invalid_cursor");
}

TEST(RelayContract, AHeldPollIsAnsweredByAPublishOrWhenTheHoldRunsOut)
{
    TestRelay relay({}, 400ms);
    const std::string desktop = relay.signIn(kNumber, "desktop"), phone = relay.signIn(kNumber, "phone");
    auto poll = std::async(std::launch::async, [&] { return relay.events(desktop, 0); });
    ASSERT_TRUE(relay.relay.waitForHeldPolls(1, 5s));
    relay.call(kPublish, utterance("醒来"), phone);
    EXPECT_EQ(poll.get().body, relay.events(desktop, -1).body);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(relay.events(desktop, 1).body, json({{"events", kNone}, {"cursor", 1}}));
    EXPECT_GE(std::chrono::steady_clock::now() - started, 400ms);
}

// An empty batch at once would send the desktop straight back, over and over.
TEST(RelayContract, PollsBeyondTheHeldLimitAreRefusedAndStoppingAnswersTheHeldOnes)
{
    TestRelay relay({.heldPolls = 1}, 20s);
    const std::string desktop = relay.signIn(kNumber, "desktop");
    auto held = std::async(std::launch::async, [&] { return relay.events(desktop, 0); });
    ASSERT_TRUE(relay.relay.waitForHeldPolls(1, 5s));
    expectRefusal(relay.events(desktop, 0), 503, "busy");
    relay.server.stop();
    ASSERT_EQ(held.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(held.get().body, json({{"events", kNone}, {"cursor", 0}}));
}

TEST(RelayContract, EveryRefusalHasItsStatusAndAnErrorBodyAndLeavesTheCodeAlone)
{
    TestRelay relay;
    const std::string desktop = relay.signIn(kNumber, "desktop"), phone = relay.signIn(kNumber, "phone");
    relay.call(kRequest, {{"phone", kNumber}});
    const std::tuple<std::string, json, std::string, int, std::string> rows[] = {
        {kRequest, {{"phone", "+86 13800138000"}}, "", 400, "invalid_phone"},
        {kVerify, verify(kCode, "admin"), "", 400, "invalid_role"},
        {kMe, {}, "", 401, "unauthorized"},
        {"GET /v1/events", {}, phone, 403, "forbidden"},
        {kPublish, utterance("x"), desktop, 403, "forbidden"},
        {kPublish, {{"utterance", "u"}, {"text", "x"}, {"final", "yes"}}, phone, 400, "invalid_event"},
        {kPublish, utterance(std::string(4001, 'x')), phone, 413, "too_large"},
        {kRequest, {{"phone", std::string(20000, '1')}}, "", 413, "too_large"},
        {kRequest, "{\"phone\": \"1380013800\xff\"}", "", 400, "invalid_json"},
        {"GET /v1/nothing", {}, "", 404, "not_found"},
        {"PUT /v1/events", "{}", "", 405, "method_not_allowed"},
    };
    for (const auto& [request, body, token, status, error] : rows)
        expectRefusal(relay.call(request, body, token), status, error);
    EXPECT_EQ(relay.call(kPublish, utterance(std::string(4000, 'x')), phone).status, 200);
    EXPECT_EQ(relay.call(kVerify, verify(kCode)).status, 200) << "no refusal used the code up";
}

namespace {

// tellwire-relay on a free port, found from the first line it prints.
struct RelayProgram : QProcess {
    explicit RelayProgram(const QStringList& options)
    {
        start(TELLWIRE_RELAY_BINARY, QStringList{"--listen", "127.0.0.1:0"} + options);
        const auto listening = QRegularExpression("^listening on (https?://127.0.0.1:([0-9]+))\n$").match(line());
        origin = listening.captured(1);
        port = listening.captured(2).toInt();
    }
    ~RelayProgram() { kill(), waitForFinished(); }
    QString line() { return tellwire::testing::waitUntil([&] { return canReadLine(); }) ? readLine() : QString(); }
    bool stopsCleanlyOn(int signal) { return !::kill(processId(), signal) && waitForFinished() && !exitCode(); }
    QString origin;
    int port = 0;
};

} // namespace

TEST(RelayProgram, PrintsEachCodeItIssuesForThePhoneToDictateEachLineAsGrowingInterimsThenAFinal)
{
    RelayProgram relay(QStringList{});
    std::vector<std::string> codes;
    while (codes.size() < 2) { // one for the desktop, one for the phone
        ASSERT_EQ(call(relay.port, kRequest, {{"phone", "+8613800138000"}}).status, 200);
        const auto printed =
            QRegularExpression("^code ([0-9]{6}) for 13800138000 \\(valid 5 minutes\\)\n$").match(relay.line());
        ASSERT_TRUE(printed.hasMatch());
        codes.push_back(printed.captured(1).toStdString());
    }
    const std::string desktop = signIn(relay.port, kNumber, "desktop", codes[0]);
    QProcess phone;
    phone.start(TELLWIRE_PHONE_BINARY, {"--relay", relay.origin, "--phone", "13800138000", "--code",
                                        QString::fromStdString(codes[1]), "--pace", "5"});
    phone.write("今天天气很好，我们出去走走\n\n  hello world  \n");
    phone.closeWriteChannel();
    ASSERT_TRUE(phone.waitForFinished(30000));
    ASSERT_EQ(phone.exitCode(), 0) << phone.readAllStandardError().toStdString();
    const json events = call(relay.port, "GET /v1/events", {}, desktop).body["events"];
    std::string said; // the texts, "/" between events of one utterance, " | " between utterances
    for (std::size_t i = 0; i + 1 < events.size(); ++i)
        said += (i == 0 ? "" : events[i]["utterance"] == events[i - 1]["utterance"] ? "/" : " | ")
            + events[i].value("text", "?") + (events[i].value("final", false) ? "." : "");
    EXPECT_EQ(said, "今天天/今天天气很好/今天天气很好，我们/今天天气很好，我们出去走/今天天气很好，我们出去走走. | "
                    "hel/hello /hello wor/hello world.");
    EXPECT_EQ(events.back().value("type", ""), "session_end");
    EXPECT_EQ(events.back()["session"], events.front()["session"]);
    EXPECT_TRUE(relay.stopsCleanlyOn(SIGINT));
}

TEST(RelayProgram, ServesHttpsThatThePhoneVerifiesAndOwnsItsPort)
{
    QTemporaryDir dir;
    const QString cert = dir.filePath("cert.pem"), key = dir.filePath("key.pem");
    ASSERT_EQ(runTool("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                                  "-days", "1", "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"})
                  .exitCode, 0);
    RelayProgram relay({"--code", "123456", "--tls-cert", cert, "--tls-key", key});
    ASSERT_TRUE(relay.origin.startsWith("https://")) << relay.origin.toStdString();
    const QStringList phone{"--relay", relay.origin, "--phone", "13800138000", "--code", "123456", "--say", "x"};
    EXPECT_EQ(runTool(TELLWIRE_PHONE_BINARY, phone + QStringList{"--ca-cert", cert}).exitCode, 0);
    const ToolRun untrusted = runTool(TELLWIRE_PHONE_BINARY, phone); // never with verification off
    EXPECT_EQ(untrusted.exitCode, 1);
    EXPECT_TRUE(untrusted.err.contains(msg::kPhoneTlsCheck)) << untrusted.err.toStdString();
    const ToolRun second = runTool(TELLWIRE_RELAY_BINARY, {"--listen", relay.origin.mid(8)}); // not a shared port
    EXPECT_EQ(second.exitCode, 1);
    EXPECT_TRUE(second.err.contains(msg::kRelayCannotListen)) << second.err.toStdString();
    EXPECT_TRUE(relay.stopsCleanlyOn(SIGTERM));
}
