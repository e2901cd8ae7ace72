// tellwire-relay and tellwire-phone as programs: their command lines, console
// output and exit codes, and the phone's dictation seen from the desktop's side.
#include "ChildProcess.h"
#include "RelayHarness.h"

#include <gmock/gmock.h>

#include <signal.h>

#include <future>
#include <regex>

using namespace tellwire::test;
using namespace std::chrono_literals;
using nlohmann::json;
using testing::HasSubstr;

namespace {

const std::string kCode = "123456";

// The relay program on a free port.
class RelayProgram {
public:
    explicit RelayProgram(std::vector<std::string> extra = {"--code", kCode, "--hold", "1"})
        : process([&] {
            std::vector<std::string> argv{TELLWIRE_RELAY_BINARY, "--listen", "127.0.0.1:0"};
            argv.insert(argv.end(), extra.begin(), extra.end());
            return argv;
        }())
    {
        firstLine = process.readLine(10s).value_or("");
        std::smatch match;
        if (std::regex_match(firstLine, match, std::regex(R"(listening on http://127\.0\.0\.1:([0-9]+))")))
            port = std::stoi(match[1]);
    }

    std::string origin() const { return "http://127.0.0.1:" + std::to_string(port); }
    std::vector<std::string> phone(std::vector<std::string> args) const
    {
        args.insert(args.begin(), {TELLWIRE_PHONE_BINARY, "--relay", origin()});
        return args;
    }

    ChildProcess process;
    std::string firstLine;
    int port = 0;
};

// Reads every event the desktop's account receives until a session_end.
std::vector<json> readUntilSessionEnd(int port, const std::string& token)
{
    std::vector<json> events;
    std::int64_t cursor = -1;
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (std::chrono::steady_clock::now() < deadline) {
        const Reply batch = get(port, "/v1/events?after=" + std::to_string(cursor), token);
        if (batch.status != 200)
            break;
        cursor = batch.body["cursor"];
        for (const json& event : batch.body["events"]) {
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
        RelayProgram relay({"--hold", "20", "--code", kCode});
        ASSERT_NE(relay.port, 0) << relay.firstLine;
        const std::string token = signIn(relay.port, "13800138000", "desktop", kCode);
        ASSERT_FALSE(token.empty());
        auto poll = std::async(std::launch::async, [&] { return get(relay.port, "/v1/events?after=0", token).status; });
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
    ASSERT_EQ(post(relay.port, "/v1/auth/phone/request", R"({"phone":"+8613800138000"})").status, 200);
    const std::string line = relay.process.readLine(5s).value_or("");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(line, match, std::regex(R"(code ([0-9]{6}) for 13800138000 \(valid 5 minutes\))")))
        << line;
    // The printed code is the one that signs in.
    const json verify{{"phone", "13800138000"}, {"code", match[1].str()}, {"role", "desktop"}, {"device_id", "d"}};
    EXPECT_EQ(post(relay.port, "/v1/auth/phone/verify", verify.dump()).status, 200);
}

TEST(RelayProgram, RefusesABadCommandLineAndSaysWhenItCannotListen)
{
    // Each rule of the command line is checked in RelayCommandLineTest.
    ChildProcess bad({TELLWIRE_RELAY_BINARY, "--hold", "25"});
    EXPECT_EQ(bad.wait(10s), 2);
    EXPECT_THAT(bad.errorOutput(), HasSubstr("tellwire-relay: --hold"));

    RelayProgram first;
    ASSERT_NE(first.port, 0);
    ChildProcess second({TELLWIRE_RELAY_BINARY, "--listen", "127.0.0.1:" + std::to_string(first.port)});
    EXPECT_EQ(second.wait(10s), 1);
    EXPECT_THAT(second.errorOutput(), HasSubstr("cannot listen on 127.0.0.1:"));
}

TEST(RelayProgram, ServesHttpsWithTheGivenCertificate)
{
    const std::string dir = testing::TempDir();
    const std::string cert = dir + "/relay-cert.pem", key = dir + "/relay-key.pem";
    ChildProcess openssl({"/usr/bin/openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                          "-out", cert, "-days", "1", "-subj", "/CN=127.0.0.1", "-addext",
                          "subjectAltName=IP:127.0.0.1"});
    ASSERT_EQ(openssl.wait(60s), 0) << openssl.errorOutput();

    ChildProcess relay({TELLWIRE_RELAY_BINARY, "--listen", "127.0.0.1:0", "--code", kCode, "--tls-cert", cert,
                        "--tls-key", key});
    const std::string line = relay.readLine(10s).value_or("");
    ASSERT_THAT(line, testing::MatchesRegex("listening on https://127\\.0\\.0\\.1:[0-9]+"));
    const std::string origin = line.substr(std::string("listening on ").size());

    // Verified against the certificate, never with verification off.
    const std::vector<std::string> phone{TELLWIRE_PHONE_BINARY, "--relay", origin, "--phone", "13800138000",
                                         "--code", kCode, "--say", "x"};
    ChildProcess untrusted(phone);
    EXPECT_EQ(untrusted.wait(30s), 1);
    EXPECT_THAT(untrusted.errorOutput(), HasSubstr("TLS check"));
    std::vector<std::string> trusting = phone;
    trusting.insert(trusting.end(), {"--ca-cert", cert});
    ChildProcess trusted(trusting);
    EXPECT_EQ(trusted.wait(30s), 0) << trusted.errorOutput();

    ChildProcess broken({TELLWIRE_RELAY_BINARY, "--listen", "127.0.0.1:0", "--tls-cert", dir + "/none.pem",
                         "--tls-key", key});
    EXPECT_EQ(broken.wait(10s), 1);
    EXPECT_THAT(broken.errorOutput(), HasSubstr("cannot load the TLS certificate"));
}

TEST(PhoneProgram, DictatesEachLineAsGrowingInterimsThenAFinalThenEndsTheSession)
{
    RelayProgram relay;
    const std::string desktop = signIn(relay.port, "13800138000", "desktop", kCode);
    ASSERT_FALSE(desktop.empty());
    auto received = std::async(std::launch::async, [&] { return readUntilSessionEnd(relay.port, desktop); });

    ChildProcess phone(relay.phone({"--phone", "+8613800138000", "--code", kCode, "--pace", "5"}));
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

TEST(PhoneProgram, SayDictatesOneUtteranceAndEveryFailureIsExplained)
{
    RelayProgram relay;
    struct Case {
        std::vector<std::string> args;
        int exit;
        std::string says;
    };
    const std::vector<Case> cases{
        {{"--phone", "13800138000", "--code", "654321", "--say", "x"}, 1, "refused the code"},
        {{"--phone", "12800138000", "--code", kCode, "--say", "x"}, 2, "not a mainland-China mobile number"},
        {{"--phone", "13800138000", "--code", "12ab56", "--say", "x"}, 2, "6 digits"},
        {{"--code", kCode}, 2, "--phone NUMBER is required"},
    };
    for (const Case& c : cases) {
        ChildProcess phone(relay.phone(c.args));
        EXPECT_EQ(phone.wait(30s), c.exit) << c.says;
        EXPECT_THAT(phone.errorOutput(), HasSubstr(c.says));
    }

    // Five code requests a minute for a number: the desktop's, four phones',
    // and then the relay says no.
    const std::string desktop = signIn(relay.port, "13900139000", "desktop", kCode);
    const std::vector<std::string> say{"--phone", "13900139000", "--code", kCode, "--pace", "0", "--say", "你好"};
    for (int i = 0; i < 4; ++i) {
        ChildProcess phone(relay.phone(say));
        ASSERT_EQ(phone.wait(30s), 0) << phone.errorOutput();
        if (i == 0) {
            const std::vector<json> events = readUntilSessionEnd(relay.port, desktop);
            ASSERT_EQ(events.size(), 2u);
            EXPECT_EQ(events[0]["text"], "你好");
            EXPECT_EQ(events[0]["final"], true);
        }
    }
    ChildProcess limited(relay.phone(say));
    EXPECT_EQ(limited.wait(30s), 1);
    EXPECT_THAT(limited.errorOutput(), HasSubstr("too many requests"));

    relay.process.signal(SIGTERM);
    ASSERT_EQ(relay.process.wait(10s), 0);
    ChildProcess down(relay.phone({"--phone", "13800138000", "--code", kCode, "--say", "x"}));
    EXPECT_EQ(down.wait(30s), 1);
    EXPECT_THAT(down.errorOutput(), HasSubstr("cannot reach the relay"));
}
