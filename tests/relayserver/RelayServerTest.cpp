// The relay as the desktop and the phone see it, served in this process with a
// clock the test moves, on each store; then tellwire-relay and tellwire-phone
// as programs.
#include "RedisRelayStore.h"
#include "RedisServer.h"
#include "Relay.h"
#include "RelayServer.h"
#include "SqliteRelayStore.h"
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
using tellwire::testing::waitUntil;
using ::testing::ElementsAre;
namespace msg = tellwire::testing::msg;

namespace {

const std::string kNumber = "13800138000", kCode = "123456", kRequest = "POST /v1/auth/phone/request",
                  kVerify = "POST /v1/auth/phone/verify", kPublish = "POST /v1/events", kMe = "GET /v1/me";
constexpr std::int64_t kStart = 1'700'000'000'000;
const std::string kLocalSecret = "local-secret";

struct Reply { int status = 0; json body; }; // status 0: no HTTP reply at all

json verify(const std::string& code, const std::string& role = "desktop", const std::string& phone = kNumber)
{
    return {{"phone", phone}, {"code", code}, {"role", role}, {"device_id", role + "-test"}};
}

// The relay at `origin` as the desktop and the phone call it.
struct Client {
    // One request such as "GET /v1/me". A body that is a JSON string goes out as it is, so that malformed bodies
    // can be sent.
    Reply call(const std::string& request, const json& body = {}, const std::string& token = {}) const
    {
        httplib::Client client(origin);
        client.set_read_timeout(30);
        client.enable_server_certificate_verification(false); // the phone's check is the one tested
        httplib::Request sent;
        sent.method = request.substr(0, request.find(' '));
        sent.path = request.substr(sent.method.size() + 1);
        sent.body = body.is_null() ? "" : body.is_string() ? body.get<std::string>() : body.dump();
        sent.headers = {{"Content-Type", "application/json"}, {"Authorization", "Bearer " + token}};
        const auto result = client.send(sent);
        return result ? Reply{result->status, json::parse(result->body, nullptr, false)} : Reply{};
    }
    Reply events(const std::string& token, std::int64_t after) const
    {
        return call("GET /v1/events?after=" + std::to_string(after), {}, token);
    }
    // Requests a code and signs in with `code`: the token, or empty.
    std::string signIn(const std::string& phone, const std::string& role, const std::string& code = kCode) const
    {
        call(kRequest, {{"phone", phone}});
        const Reply reply = call(kVerify, verify(code, role, phone));
        return reply.status == 200 ? reply.body.value("token", "") : "";
    }

    std::string origin;
};

struct TestRelay : Client {
    explicit TestRelay(tellwire::RelayLimits limits = {}, std::chrono::milliseconds hold = 0ms,
                       std::unique_ptr<tellwire::RelayStore> store = nullptr)
        : relay({.fixedCode = kCode, .hold = hold, .now = [this] { return clock.load(); }, .notice = {}, .sendCode = {},
                 .limits = limits, .localSecret = kLocalSecret,
                 .phoneOrigins = [] { return std::vector<std::string>{"https://192.0.2.7:8788"}; }, .fingerprint = "SHA256:AB"},
                std::move(store))
    {
        origin = "http://127.0.0.1:" + std::to_string(server.bind("127.0.0.1", 0));
        server.start();
    }

    std::atomic<std::int64_t> clock{kStart};
    tellwire::Relay relay;
    tellwire::RelayServer server{relay};
};

// A refusal: its status, and a body with the error's name and a message for the person.
void expectRefusal(const Reply& reply, int status, const std::string& error)
{
    const json body = reply.body.is_object() ? reply.body : json::object();
    EXPECT_EQ(std::tuple(reply.status, body.value("error", ""), body.value("message", "").empty()),
              std::tuple(status, error, false)) << reply.body;
}

json utterance(const std::string& text) { return {{"utterance", "u1"}, {"text", text}, {"session", "s-1"}}; }

} // namespace

// Each case starts on an empty store: the embedded one in a fresh file, or a private Redis.
class RelayContract : public ::testing::TestWithParam<std::string> {
protected:
    std::unique_ptr<tellwire::RelayStore> store()
    {
        if (GetParam() == "embedded")
            return std::make_unique<tellwire::SqliteRelayStore>(dir.filePath("relay.db").toStdString());
        if (!redis)
            redis = std::make_unique<tellwire::testing::RedisServer>();
        return std::make_unique<tellwire::RedisRelayStore>(redis->address());
    }

    QTemporaryDir dir;
    std::unique_ptr<tellwire::testing::RedisServer> redis;
};
INSTANTIATE_TEST_SUITE_P(Stores, RelayContract, ::testing::Values("embedded", "redis"),
                         [](const auto& info) { return info.param; });

// Every form of a number is one account. The relay numbers and times the
// events itself, keeps the newest five (and no more than 10,000 bytes of them) and gives out at most three a reply.
TEST_P(RelayContract, EventsCarrySeqAndTimeFromTheRelayAndTheCursorReadsOnFromTheOldestKept)
{
    TestRelay relay({.eventsPerAccount = 5, .textBytesPerAccount = 10000, .eventsPerReply = 3}, 400ms, store());
    EXPECT_EQ(relay.call(kRequest, {{"phone", "8613800138000"}}).status, 200);
    const std::string desktop = relay.signIn("+8613800138000", "desktop"), phone = relay.signIn(kNumber, "phone");
    const json me = {{"phone", kNumber}, {"role", "phone"}, {"device_id", "phone-test"}};
    EXPECT_EQ(relay.call(kMe, {}, phone).body, me) << "named by its 11 digits";
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

    for (int i = 4; i <= 7; ++i)
        relay.call(kPublish, utterance("t"), phone);
    const auto seqs = [&](std::int64_t after) { // then the cursor
        std::vector<int> out;
        const Reply reply = relay.events(desktop, after);
        for (const auto& event : reply.body["events"])
            out.push_back(event["seq"]);
        return out.push_back(reply.body["cursor"]), out;
    };
    EXPECT_THAT(seqs(-1), ElementsAre(3, 4, 5, 5));
    EXPECT_THAT(seqs(5), ElementsAre(6, 7, 7));
    EXPECT_THAT(seqs(1), ElementsAre(3, 4, 5, 5)) << "older than what is kept";
    EXPECT_THAT(seqs(7), ElementsAre(7));
    EXPECT_THAT(seqs(57), ElementsAre(3, 4, 5, 5)) << "never given out: a relay restarted under the desktop";
    for (const char* bad : {"abc", "-2", "1.5", "", "99999999999999999999", "5x", "+5"})
        expectRefusal(relay.call(std::string("GET /v1/events?after=") + bad, {}, desktop), 400, "invalid_cursor");
    for (int i = 8; i <= 10; ++i)
        relay.call(kPublish, utterance(std::string(4000, 'x')), phone);
    EXPECT_THAT(seqs(-1), ElementsAre(9, 10, 10)) << "the newest two of 4000 bytes each fill the bytes kept";

    const std::string other = relay.signIn("13900139000", "desktop");
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(relay.events(other, -1).body, json({{"events", json::array()}, {"cursor", 0}})) << "another account";
    EXPECT_GE(std::chrono::steady_clock::now() - started, 300ms) << "held until the hold ran out (three quarters of it at least)";
}

// One machine's store keeps the accounts used most recently; a shared one lets idle accounts expire.
TEST(RelayEmbeddedStore, DropsTheAccountUsedLeastRecentlyWithItsTokens)
{
    TestRelay relay({.accounts = 2});
    const std::string desktop = relay.signIn(kNumber, "desktop"), other = relay.signIn("13900139000", "desktop");
    ASSERT_EQ(relay.call(kMe, {}, desktop).status, 200); // now the other is the least recently used
    relay.signIn("13700137000", "desktop");
    EXPECT_EQ(relay.call(kMe, {}, desktop).status, 200);
    EXPECT_EQ(relay.call(kMe, {}, other).status, 401) << "dropped with its tokens";
}

// Kept in the store: a relay started again on it knows every device and numbers its events on beyond any
// cursor a desktop may hold. Each device has one token; beyond the limit the longest signed-in goes.
TEST_P(RelayContract, SignInsOutliveARestartAndEachDeviceKeepsOneToken)
{
    std::string desktop, phone;
    {
        TestRelay relay({.devicesPerAccount = 2}, 0ms, store());
        const std::string replaced = relay.signIn(kNumber, "desktop");
        phone = relay.signIn(kNumber, "phone");
        desktop = relay.signIn(kNumber, "desktop");
        EXPECT_EQ(relay.call(kMe, {}, replaced).status, 401);
        EXPECT_EQ(relay.call(kPublish, utterance("前"), phone).body["seq"], 1);
    }
    TestRelay relay({.devicesPerAccount = 2}, 0ms, store());
    EXPECT_EQ(relay.call(kMe, {}, desktop).status, 200);
    EXPECT_EQ(relay.call(kPublish, utterance("后"), phone).status, 200);
    const json after = relay.events(desktop, 1).body["events"];
    ASSERT_EQ(after.size(), 1u);
    EXPECT_EQ(after[0]["text"], "后");
    json laptop = verify(kCode);
    laptop["device_id"] = "laptop";
    relay.call(kRequest, {{"phone", kNumber}});
    EXPECT_EQ(relay.call(kVerify, laptop).status, 200);
    EXPECT_EQ(relay.call(kMe, {}, phone).status, 401) << "signed in longest ago";
    EXPECT_EQ(relay.call(kMe, {}, desktop).status, 200);
}

// This machine's desktop signs in with the local secret alone and pairs phones to its account: each pairing
// secret signs one phone in, within five minutes; the desktop lists its devices and signs them out.
TEST_P(RelayContract, PairingSignsOnePhoneInToTheDesktopsAccountAndTheDesktopCanSignItOut)
{
    TestRelay relay({.pairingClaimsPerMinute = 3}, 0ms, store());
    const std::string local = "POST /v1/auth/local", pair = "POST /v1/pairings", claim = "POST /v1/pairings/claim";
    expectRefusal(relay.call(local, {{"secret", "local-secre"}, {"device_id", "pc"}}), 401, "invalid_secret");
    const std::string desktop = relay.call(local, {{"secret", kLocalSecret}, {"device_id", "pc"}}).body["token"];
    const auto claimed = [&](const json& pairing) {
        return relay.call(claim, {{"secret", pairing["secret"]}, {"device_id", "p1"}, {"name", "iPhone"}});
    };
    const json first = relay.call(pair, json::object(), desktop).body;
    EXPECT_EQ(first["links"], json::array({"https://192.0.2.7:8788/#pair=" + first["secret"].get<std::string>()}));
    EXPECT_EQ(std::tuple(first["expires_in"], first["fingerprint"]), std::tuple(json(300), json("SHA256:AB")));
    const std::string phone = claimed(first).body["token"];
    expectRefusal(claimed(first), 401, "invalid_pairing"); // used up
    const json second = relay.call(pair, json::object(), desktop).body;
    relay.clock += 5 * 60 * 1000;
    expectRefusal(claimed(second), 401, "invalid_pairing"); // expired
    expectRefusal(relay.call(pair, json::object(), phone), 403, "forbidden");
    for (int i = 0; i < 3; ++i)
        claimed(first);
    expectRefusal(claimed(relay.call(pair, json::object(), desktop).body), 429, "rate_limited");

    relay.call(kPublish, utterance("配对"), phone);
    EXPECT_EQ(relay.events(desktop, -1).body["events"][0]["text"], "配对");
    const json devices = relay.call("GET /v1/devices", {}, desktop).body["devices"];
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(std::tuple(devices[0]["name"], devices[0]["role"], devices[0]["this"], devices[0]["last_seen"]),
              std::tuple(json("iPhone"), json("phone"), json(false), json(kStart + 5 * 60 * 1000)));
    EXPECT_EQ(devices[1]["this"], true);
    EXPECT_EQ(relay.call("POST /v1/devices/remove", {{"device_id", "p1"}}, desktop).status, 200);
    EXPECT_EQ(relay.call(kMe, {}, phone).status, 401);
    expectRefusal(relay.call("POST /v1/devices/remove", {{"device_id", "p1"}}, desktop), 404, "no_such_device");

    // A page elsewhere reaching in through a name that points at 127.0.0.1.
    httplib::Client client(relay.origin);
    const auto rebound = client.Get("/v1/me", {{"Host", "tellwire.example:80"}, {"Authorization", "Bearer " + desktop}});
    ASSERT_TRUE(rebound);
    EXPECT_EQ(rebound->status, 421);
    EXPECT_FALSE(rebound->has_header("Access-Control-Allow-Origin"));
}

TEST_P(RelayContract, CodesAreSingleUseLiveFiveMinutesFallToGuessingAndAreRateLimited)
{
    TestRelay relay({}, 0ms, store());
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

// Refused, not answered empty: an empty batch at once would send the desktop straight back, over and over.
TEST_P(RelayContract, AHeldPollEndsOnAPublishOrAStopAndPollsBeyondTheLimitAreRefused)
{
    TestRelay relay({.heldPolls = 1}, 20s, store());
    const std::string desktop = relay.signIn(kNumber, "desktop"), phone = relay.signIn(kNumber, "phone");
    const auto held = [&](std::int64_t after) {
        auto poll = std::async(std::launch::async, [&, after] { return relay.events(desktop, after); });
        EXPECT_TRUE(relay.relay.waitForHeldPolls(1, 5s));
        return poll;
    };
    auto woken = held(0);
    expectRefusal(relay.events(desktop, 0), 503, "busy");
    relay.call(kPublish, utterance("醒来"), phone);
    EXPECT_EQ(woken.get().body, relay.events(desktop, -1).body);
    auto stopped = held(1);
    relay.server.stop();
    ASSERT_EQ(stopped.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(stopped.get().body, json({{"events", json::array()}, {"cursor", 1}}));
}

TEST_P(RelayContract, EveryRefusalHasItsStatusAndAnErrorBodyAndLeavesTheCodeAlone)
{
    TestRelay relay({}, 0ms, store());
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

// tellwire-relay on a free port over HTTPS, which the phone checks, never with verification off.
TEST(RelayProgram, PrintsEachCodeItIssuesForThePhoneToDictateTextAsGrowingInterimsThenAFinal)
{
    QTemporaryDir dir;
    const QString cert = dir.filePath("cert.pem"), key = dir.filePath("key.pem");
    ASSERT_EQ(runTool("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                                  "-days", "1", "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"})
                  .exitCode, 0);
    QProcess relay;
    relay.start(TELLWIRE_RELAY_BINARY,
                {"--listen", "127.0.0.1:0", "--tls-cert", cert, "--tls-key", key, "--state", dir.filePath("state")});
    const auto line = [&] { return waitUntil([&] { return relay.canReadLine(); }) ? relay.readLine() : QString(); };
    const QString address = QRegularExpression("^listening on (https://127.0.0.1:[0-9]+)\n$").match(line()).captured(1);
    ASSERT_FALSE(address.isEmpty());
    const Client client{address.toStdString()};
    const auto code = [&] { // requests one and reads it where the relay prints it
        EXPECT_EQ(client.call(kRequest, {{"phone", "+8613800138000"}}).status, 200);
        return QRegularExpression("^code ([0-9]{6}) for 13800138000 \\(valid 5 minutes\\)\n$")
            .match(line())
            .captured(1);
    };
    const QString desktopCode = code(), phoneCode = code();
    ASSERT_FALSE(desktopCode.isEmpty() || phoneCode.isEmpty());
    const std::string desktop = client.signIn(kNumber, "desktop", desktopCode.toStdString());
    const QStringList phone{"--relay", address, "--phone", "13800138000", "--code", phoneCode};
    const auto untrusted = runTool(TELLWIRE_PHONE_BINARY, phone + QStringList{"--say", "x"});
    EXPECT_EQ(untrusted.exitCode, 1);
    EXPECT_TRUE(untrusted.err.contains(msg::kPhoneTlsCheck)) << untrusted.err.toStdString();
    const auto trusting = runTool(TELLWIRE_PHONE_BINARY, phone + QStringList{"--ca-cert", cert, "--pace", "5",
                                                                             "--say", "  今天天气很好，我们出去走走 "});
    ASSERT_EQ(trusting.exitCode, 0) << trusting.err.toStdString();
    const json events = client.call("GET /v1/events", {}, desktop).body["events"];
    std::string said; // the texts, "/" between events of one utterance, " | " between utterances
    for (std::size_t i = 0; i + 1 < events.size(); ++i)
        said += (i == 0 ? "" : events[i]["utterance"] == events[i - 1]["utterance"] ? "/" : " | ")
            + events[i].value("text", "?") + (events[i].value("final", false) ? "." : "");
    EXPECT_EQ(said, "今天天/今天天气很好/今天天气很好，我们/今天天气很好，我们出去走/今天天气很好，我们出去走走.");
    EXPECT_EQ(events.back().value("type", ""), "session_end");
    EXPECT_EQ(events.back()["session"], events.front()["session"]);
    const auto second = runTool(TELLWIRE_RELAY_BINARY, {"--listen", address.mid(8), "--state", dir.path()}); // not shared
    EXPECT_EQ(second.exitCode, 1);
    EXPECT_TRUE(second.err.contains(msg::kRelayCannotListen)) << second.err.toStdString();
    EXPECT_TRUE(!::kill(relay.processId(), SIGTERM) && relay.waitForFinished() && !relay.exitCode()) << "stops cleanly";
}

// Off loopback only HTTPS, with a certificate made at first start and kept; never a fixed code.
TEST(RelayProgram, ServesPhonesOnTheNetworkOnlyOverHttpsWithTheCertificateItMadeAndKept)
{
    QTemporaryDir state;
    const QStringList arguments{"--listen", "127.0.0.1:0", "--lan", "127.0.0.2:0", "--state", state.path()};
    const auto fixedCode = runTool(TELLWIRE_RELAY_BINARY, arguments + QStringList{"--code", kCode.c_str()});
    EXPECT_EQ(fixedCode.exitCode, 2);
    std::string fingerprint;
    for (int start = 0; start < 2; ++start) {
        QProcess relay;
        relay.start(TELLWIRE_RELAY_BINARY, arguments);
        QStringList lines;
        ASSERT_TRUE(waitUntil([&] {
            while (relay.canReadLine())
                lines << QString::fromUtf8(relay.readLine()).trimmed();
            return lines.size() >= 3;
        }));
        const QString lan = QRegularExpression("^listening on https://(127.0.0.2:[0-9]+)$").match(lines[1]).captured(1);
        ASSERT_FALSE(lan.isEmpty()) << lines.join('\n').toStdString();
        EXPECT_EQ(fingerprint.empty() ? lines[2].toStdString() : fingerprint, lines[2].toStdString()) << "kept";
        fingerprint = lines[2].toStdString();
        httplib::SSLClient phone("127.0.0.2", lan.section(':', 1).toInt());
        phone.set_ca_cert_path(state.filePath("tls-cert.pem").toStdString().c_str());
        const auto page = phone.Get("/");
        ASSERT_TRUE(page) << httplib::to_string(page.error());
        EXPECT_EQ(page->get_header_value("Content-Type"), "text/html; charset=utf-8");
        EXPECT_THAT(page->get_header_value("Content-Security-Policy"), ::testing::HasSubstr("default-src 'self'"));
        EXPECT_FALSE(httplib::Client("http://" + lan.toStdString()).Get("/")) << "no plain HTTP";
        EXPECT_TRUE(!::kill(relay.processId(), SIGTERM) && relay.waitForFinished());
    }
    for (const char* secret : {"local-secret", "tls-key.pem", "relay.db"})
        EXPECT_EQ(QFile(state.filePath(secret)).permissions() & (QFile::ReadGroup | QFile::ReadOther), 0) << secret;
}

TEST(RelayProgram, TextsEachCodeThroughTheSmsCommandWithNumberAndCodeAsArgumentsAndNeverPrintsIt)
{
    QTemporaryDir dir;
    QProcess relay;
    relay.setWorkingDirectory(dir.path()); // `touch NUMBER CODE` leaves two files here
    relay.start(TELLWIRE_RELAY_BINARY, {"--listen", "127.0.0.1:0", "--state", dir.filePath("state"), "--sms-command", "touch"});
    QString console;
    const auto sees = [&](const QString& text) {
        return waitUntil([&] { return (console += QString::fromUtf8(relay.readAllStandardOutput())).contains(text); });
    };
    ASSERT_TRUE(sees("listening on "));
    const Client client{QRegularExpression("http://127.0.0.1:[0-9]+").match(console).captured().toStdString()};
    EXPECT_EQ(client.call(kRequest, {{"phone", "+8613800138000"}}).status, 200);
    ASSERT_TRUE(sees("code sent to 13800138000"));
    QStringList texted;
    ASSERT_TRUE(waitUntil([&] { return (texted = QDir(dir.path()).entryList(QDir::Files)).size() == 2; }));
    ASSERT_TRUE(texted.removeOne("13800138000"));
    EXPECT_EQ(client.signIn(kNumber, "desktop", texted[0].toStdString()).size(), 64u) << "the texted code";
    EXPECT_FALSE(console.contains(texted[0])) << console.toStdString();
}
