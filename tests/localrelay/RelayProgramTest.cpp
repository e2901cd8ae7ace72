// tellwire-relay and tellwire-phone as programs: their command lines, console
// output and exit codes, and the phone's dictation seen from the desktop's side.
#include "ChildProcess.h"

#include <gmock/gmock.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <signal.h>

#include <future>
#include <regex>

using namespace tellwire::test;
using namespace std::chrono_literals;
using nlohmann::json;

namespace {

// The relay program on a free port.
class RelayProgram {
public:
    explicit RelayProgram(std::vector<std::string> extra = {"--code", "123456", "--hold", "1"})
        : process([&] {
            std::vector<std::string> argv{TELLWIRE_RELAY_BINARY, "--listen", "127.0.0.1:0"};
            argv.insert(argv.end(), extra.begin(), extra.end());
            return argv;
        }())
    {
        const auto line = process.readLine(10s);
        if (!line)
            return;
        firstLine = *line;
        std::smatch match;
        if (std::regex_match(firstLine, match, std::regex(R"(listening on http://127\.0\.0\.1:([0-9]+))")))
            port = std::stoi(match[1]);
    }

    std::string origin() const { return "http://127.0.0.1:" + std::to_string(port); }

    json post(const std::string& path, const json& body, int& status, const std::string& token = {})
    {
        httplib::Client client("127.0.0.1", port);
        httplib::Headers headers;
        if (!token.empty())
            headers.emplace("Authorization", "Bearer " + token);
        const auto result = client.Post(path, headers, body.dump(), "application/json");
        status = result ? result->status : 0;
        return result ? json::parse(result->body, nullptr, false) : json();
    }

    json get(const std::string& path, const std::string& token, int& status)
    {
        httplib::Client client("127.0.0.1", port);
        client.set_read_timeout(30);
        const auto result = client.Get(path, {{"Authorization", "Bearer " + token}});
        status = result ? result->status : 0;
        return result ? json::parse(result->body, nullptr, false) : json();
    }

    std::string signInDesktop(const std::string& phone, const std::string& code = "123456")
    {
        int status = 0;
        post("/v1/auth/phone/request", {{"phone", phone}}, status);
        const json reply = post("/v1/auth/phone/verify",
                                {{"phone", phone}, {"code", code}, {"role", "desktop"}, {"device_id", "desk"}}, status);
        return status == 200 ? reply["token"].get<std::string>() : std::string();
    }

    ChildProcess process;
    std::string firstLine;
    int port = 0;
};

std::vector<std::string> phoneCommand(const RelayProgram& relay, std::vector<std::string> extra)
{
    std::vector<std::string> argv{TELLWIRE_PHONE_BINARY, "--relay", relay.origin()};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return argv;
}

// Reads every event the desktop's account receives until a session_end.
std::vector<json> readUntilSessionEnd(RelayProgram& relay, const std::string& token)
{
    std::vector<json> events;
    std::int64_t cursor = -1;
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        const json batch = relay.get("/v1/events?after=" + std::to_string(cursor), token, status);
        if (status != 200)
            break;
        cursor = batch["cursor"];
        for (const json& event : batch["events"]) {
            events.push_back(event);
            if (event.value("type", "") == "session_end")
                return events;
        }
    }
    return events;
}

} // namespace

TEST(RelayProgram, PrintsWhereItListensFirstAndStopsCleanlyOnSignals)
{
    for (int signal : {SIGTERM, SIGINT}) {
        RelayProgram relay({"--hold", "20", "--code", "123456"});
        ASSERT_NE(relay.port, 0) << relay.firstLine;
        const std::string token = relay.signInDesktop("13800138000");
        ASSERT_FALSE(token.empty());
        auto poll = std::async(std::launch::async, [&] {
            int status = 0;
            relay.get("/v1/events?after=0", token, status);
            return status;
        });
        // The held request is answered when the relay stops, long before its 20 s.
        ASSERT_EQ(poll.wait_for(300ms), std::future_status::timeout);
        relay.process.signal(signal);
        EXPECT_EQ(relay.process.wait(10s), 0);
        ASSERT_EQ(poll.wait_for(5s), std::future_status::ready);
        EXPECT_EQ(poll.get(), 200);
    }
}

TEST(RelayProgram, PrintsEachCodeOnItsConsole)
{
    RelayProgram relay(std::vector<std::string>{});
    ASSERT_NE(relay.port, 0) << relay.firstLine;
    int status = 0;
    relay.post("/v1/auth/phone/request", {{"phone", "+8613800138000"}}, status);
    ASSERT_EQ(status, 200);
    const auto line = relay.process.readLine(5s);
    ASSERT_TRUE(line);
    std::smatch match;
    ASSERT_TRUE(std::regex_match(*line, match, std::regex(R"(code ([0-9]{6}) for 13800138000 \(valid 5 minutes\))")))
        << *line;
    // The printed code is the one that signs in.
    int verified = 0;
    relay.post("/v1/auth/phone/verify",
               {{"phone", "13800138000"}, {"code", match[1].str()}, {"role", "desktop"}, {"device_id", "d"}}, verified);
    EXPECT_EQ(verified, 200);
}

TEST(RelayProgram, AnswersAnEmptyBatchWhenTheHoldRunsOut)
{
    RelayProgram relay;
    const std::string token = relay.signInDesktop("13800138000");
    const auto started = std::chrono::steady_clock::now();
    int status = 0;
    const json batch = relay.get("/v1/events?after=-1", token, status);
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(status, 200);
    EXPECT_EQ(batch, json({{"events", json::array()}, {"cursor", 0}}));
    EXPECT_GE(took, 1s);
    EXPECT_LT(took, 10s);
}

TEST(RelayProgram, RefusesABadCommandLine)
{
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--hold", "25"}, {"--hold", "-1"}, {"--code", "12345"}, {"--listen", "nowhere"},
             {"--listen", "127.0.0.1:70000"}, {"--tls-cert", "only.pem"}, {"--bogus"}, {"--code"}}) {
        std::vector<std::string> argv{TELLWIRE_RELAY_BINARY};
        argv.insert(argv.end(), args.begin(), args.end());
        ChildProcess relay(argv);
        EXPECT_EQ(relay.wait(10s), 2) << args.front();
        EXPECT_THAT(relay.errorOutput(), testing::HasSubstr("tellwire-relay: ")) << args.front();
    }
}

TEST(RelayProgram, SaysWhenItCannotListen)
{
    RelayProgram first;
    ASSERT_NE(first.port, 0);
    ChildProcess second({TELLWIRE_RELAY_BINARY, "--listen", "127.0.0.1:" + std::to_string(first.port)});
    EXPECT_EQ(second.wait(10s), 1);
    EXPECT_THAT(second.errorOutput(), testing::HasSubstr("cannot listen on 127.0.0.1:"));
}

TEST(RelayProgram, ServesHttpsWithTheGivenCertificate)
{
    const std::string dir = testing::TempDir();
    const std::string cert = dir + "/relay-cert.pem", key = dir + "/relay-key.pem";
    ChildProcess openssl({"/usr/bin/openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                          "-out", cert, "-days", "1", "-subj", "/CN=127.0.0.1", "-addext",
                          "subjectAltName=IP:127.0.0.1"});
    ASSERT_EQ(openssl.wait(60s), 0) << openssl.errorOutput();

    ChildProcess relay({TELLWIRE_RELAY_BINARY, "--listen", "127.0.0.1:0", "--code", "123456", "--tls-cert", cert,
                        "--tls-key", key});
    const auto line = relay.readLine(10s);
    ASSERT_TRUE(line);
    ASSERT_THAT(*line, testing::MatchesRegex("listening on https://127\\.0\\.0\\.1:[0-9]+"));
    const std::string origin = line->substr(std::string("listening on ").size());

    // Verified against the certificate, never with verification off.
    ChildProcess untrusted({TELLWIRE_PHONE_BINARY, "--relay", origin, "--phone", "13800138000", "--code", "123456",
                            "--say", "x"});
    EXPECT_EQ(untrusted.wait(30s), 1);
    EXPECT_THAT(untrusted.errorOutput(), testing::HasSubstr("TLS check"));
    ChildProcess trusted({TELLWIRE_PHONE_BINARY, "--relay", origin, "--phone", "13800138000", "--code", "123456",
                          "--say", "x", "--ca-cert", cert});
    EXPECT_EQ(trusted.wait(30s), 0) << trusted.errorOutput();

    ChildProcess broken({TELLWIRE_RELAY_BINARY, "--listen", "127.0.0.1:0", "--tls-cert", dir + "/none.pem",
                         "--tls-key", key});
    EXPECT_EQ(broken.wait(10s), 1);
    EXPECT_THAT(broken.errorOutput(), testing::HasSubstr("cannot load the TLS certificate"));
}

TEST(PhoneProgram, DictatesEachLineAsGrowingInterimsThenAFinalThenEndsTheSession)
{
    RelayProgram relay;
    const std::string desktop = relay.signInDesktop("13800138000");
    ASSERT_FALSE(desktop.empty());
    auto received = std::async(std::launch::async, [&] { return readUntilSessionEnd(relay, desktop); });

    ChildProcess phone(phoneCommand(relay, {"--phone", "+8613800138000", "--code", "123456", "--pace", "5"}));
    phone.write("今天天气很好，我们出去走走\n\n  hello world  \n");
    phone.closeInput();
    EXPECT_EQ(phone.wait(30s), 0) << phone.errorOutput();

    ASSERT_EQ(received.wait_for(30s), std::future_status::ready);
    const std::vector<json> events = received.get();
    ASSERT_FALSE(events.empty());

    std::vector<std::string> texts;
    std::vector<std::string> utterances;
    std::int64_t lastSeq = 0;
    for (const json& event : events) {
        EXPECT_GT(event["seq"].get<std::int64_t>(), lastSeq) << "events arrive in order";
        lastSeq = event["seq"];
        if (event.contains("text")) {
            texts.push_back(event["text"].get<std::string>() + (event["final"] ? " (final)" : ""));
            utterances.push_back(event["utterance"]);
        }
    }
    EXPECT_THAT(texts, testing::ElementsAre("今天天", "今天天气很好", "今天天气很好，我们", "今天天气很好，我们出去走",
                                            "今天天气很好，我们出去走走 (final)", "hel", "hello ", "hello wor",
                                            "hello world (final)"));
    EXPECT_EQ(std::count(utterances.begin(), utterances.end(), utterances.front()), 5);
    EXPECT_EQ(std::count(utterances.begin(), utterances.end(), utterances.back()), 4);
    EXPECT_NE(utterances.front(), utterances.back());
    EXPECT_EQ(events.back().value("type", ""), "session_end");
    EXPECT_EQ(events.back()["session"], events.front()["session"]);
}

TEST(PhoneProgram, SayDictatesOneUtteranceAndExits)
{
    RelayProgram relay;
    const std::string desktop = relay.signInDesktop("13800138000");
    ChildProcess phone(phoneCommand(relay, {"--phone", "13800138000", "--code", "123456", "--pace", "0", "--say", "你好"}));
    EXPECT_EQ(phone.wait(30s), 0) << phone.errorOutput();
    const std::vector<json> events = readUntilSessionEnd(relay, desktop);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0]["text"], "你好");
    EXPECT_EQ(events[0]["final"], true);
}

TEST(PhoneProgram, ExplainsEveryFailure)
{
    RelayProgram relay;
    struct Case {
        std::vector<std::string> args;
        int exit;
        std::string says;
    };
    const std::vector<Case> cases{
        {{"--phone", "13800138000", "--code", "654321", "--say", "x"}, 1, "refused the code"},
        {{"--phone", "12800138000", "--code", "123456", "--say", "x"}, 2, "not a mainland-China mobile number"},
        {{"--phone", "13800138000", "--code", "12ab56", "--say", "x"}, 2, "6 digits"},
        {{"--code", "123456"}, 2, "--phone NUMBER is required"},
    };
    for (const Case& c : cases) {
        ChildProcess phone(phoneCommand(relay, c.args));
        EXPECT_EQ(phone.wait(30s), c.exit) << c.says;
        EXPECT_THAT(phone.errorOutput(), testing::HasSubstr(c.says));
    }

    // Five code requests a minute, then the relay says no.
    for (int i = 0; i < 4; ++i) {
        ChildProcess phone(phoneCommand(relay, {"--phone", "13900139000", "--code", "123456", "--say", "x"}));
        ASSERT_EQ(phone.wait(30s), 0) << phone.errorOutput();
    }
    ChildProcess limited(phoneCommand(relay, {"--phone", "13900139000", "--code", "123456", "--say", "x"}));
    ChildProcess refused(phoneCommand(relay, {"--phone", "13900139000", "--code", "123456", "--say", "x"}));
    const int first = limited.wait(30s).value_or(-1), second = refused.wait(30s).value_or(-1);
    EXPECT_EQ(std::max(first, second), 1);
    EXPECT_THAT(limited.errorOutput() + refused.errorOutput(), testing::HasSubstr("too many requests"));

    relay.process.signal(SIGTERM);
    ASSERT_EQ(relay.process.wait(10s), 0);
    ChildProcess down(phoneCommand(relay, {"--phone", "13800138000", "--code", "123456", "--say", "x"}));
    EXPECT_EQ(down.wait(30s), 1);
    EXPECT_THAT(down.errorOutput(), testing::HasSubstr("cannot reach the relay"));
}
