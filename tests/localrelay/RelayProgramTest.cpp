// tellwire-relay and tellwire-phone as programs: their command lines, console
// output and exit codes, and the phone's dictation seen from the desktop's side.
#include "RelayHarness.h"

#include <gmock/gmock.h>

#include <QProcess>

#include <signal.h>

#include <future>
#include <regex>

using namespace tellwire::test;
using namespace std::chrono_literals;
using nlohmann::json;
using testing::HasSubstr;

namespace {

const std::string kCode = "123456";

// A program run by a test, with pipes on its standard input, output and error.
class Program : public QProcess {
public:
    explicit Program(const std::vector<std::string>& argv)
    {
        QStringList arguments;
        for (auto it = argv.begin() + 1; it != argv.end(); ++it)
            arguments.append(QString::fromStdString(*it));
        start(QString::fromStdString(argv.front()), arguments);
        waitForStarted();
    }
    // The next line of standard output, without its end; empty on timeout.
    std::string line(int ms = 10000)
    {
        while (!canReadLine() && waitForReadyRead(ms)) {
        }
        return canReadLine() ? readLine().chopped(1).toStdString() : std::string();
    }
    // The exit code, or -1 on timeout or a crash.
    int exit(int ms = 30000)
    {
        if (!waitForFinished(ms) && state() != NotRunning)
            return -1;
        return exitStatus() == NormalExit ? exitCode() : -1;
    }
    std::string errors() { return readAllStandardError().toStdString(); }
};

// The relay program on a free port.
class RelayProgram {
public:
    explicit RelayProgram(std::vector<std::string> extra = {"--code", kCode, "--hold", "1"})
        : process([&] {
            extra.insert(extra.begin(), {TELLWIRE_RELAY_BINARY, "--listen", "127.0.0.1:0"});
            return extra;
        }())
    {
        firstLine = process.line();
        std::smatch match;
        if (std::regex_match(firstLine, match, std::regex(R"(listening on http://127\.0\.0\.1:([0-9]+))")))
            port = std::stoi(match[1]);
    }
    std::vector<std::string> phone(std::vector<std::string> args) const
    {
        args.insert(args.begin(), {TELLWIRE_PHONE_BINARY, "--relay", "http://127.0.0.1:" + std::to_string(port)});
        return args;
    }

    Program process;
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
        const Reply batch = send(port, "GET", "/v1/events?after=" + std::to_string(cursor), {}, token);
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
        auto poll = std::async(std::launch::async,
                               [&] { return send(relay.port, "GET", "/v1/events?after=0", {}, token).status; });
        // The held request is answered when the relay stops, long before its 20 s.
        ASSERT_EQ(poll.wait_for(300ms), std::future_status::timeout);
        ::kill(relay.process.processId(), signal);
        EXPECT_EQ(relay.process.exit(10000), 0);
        ASSERT_EQ(poll.wait_for(5s), std::future_status::ready);
        EXPECT_EQ(poll.get(), 200);
    }
}

TEST(RelayProgram, PrintsEachRandomCodeOnItsConsole)
{
    RelayProgram relay(std::vector<std::string>{});
    ASSERT_NE(relay.port, 0) << relay.firstLine;
    ASSERT_EQ(send(relay.port, "POST", "/v1/auth/phone/request", R"({"phone":"+8613800138000"})").status, 200);
    const std::string line = relay.process.line(5000);
    std::smatch match;
    ASSERT_TRUE(std::regex_match(line, match, std::regex(R"(code ([0-9]{6}) for 13800138000 \(valid 5 minutes\))")))
        << line;
    // The printed code is the one that signs in.
    const json verify{{"phone", "13800138000"}, {"code", match[1].str()}, {"role", "desktop"}, {"device_id", "d"}};
    EXPECT_EQ(send(relay.port, "POST", "/v1/auth/phone/verify", verify.dump()).status, 200);
}

TEST(RelayProgram, RefusesABadCommandLineAndSaysWhenItCannotListen)
{
    // Each rule of the command line is checked in RelayCommandLineTest.
    Program bad({TELLWIRE_RELAY_BINARY, "--hold", "25"});
    EXPECT_EQ(bad.exit(10000), 2);
    EXPECT_THAT(bad.errors(), HasSubstr("tellwire-relay: --hold"));

    RelayProgram first;
    ASSERT_NE(first.port, 0);
    Program second({TELLWIRE_RELAY_BINARY, "--listen", "127.0.0.1:" + std::to_string(first.port)});
    EXPECT_EQ(second.exit(10000), 1);
    EXPECT_THAT(second.errors(), HasSubstr("cannot listen on 127.0.0.1:"));
}

TEST(RelayProgram, ServesHttpsWithTheGivenCertificate)
{
    const std::string dir = testing::TempDir();
    const std::string cert = dir + "/relay-cert.pem", key = dir + "/relay-key.pem";
    Program openssl({"/usr/bin/openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                     "-days", "1", "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"});
    ASSERT_EQ(openssl.exit(60000), 0) << openssl.errors();

    Program relay({TELLWIRE_RELAY_BINARY, "--listen", "127.0.0.1:0", "--code", kCode, "--tls-cert", cert, "--tls-key", key});
    const std::string line = relay.line();
    ASSERT_THAT(line, testing::MatchesRegex("listening on https://127\\.0\\.0\\.1:[0-9]+"));
    const std::string origin = line.substr(std::string("listening on ").size());

    // Verified against the certificate, never with verification off.
    std::vector<std::string> phone{TELLWIRE_PHONE_BINARY, "--relay", origin, "--phone", "13800138000",
                                   "--code", kCode, "--say", "x"};
    Program untrusted(phone);
    EXPECT_EQ(untrusted.exit(), 1);
    EXPECT_THAT(untrusted.errors(), HasSubstr("TLS check"));
    phone.insert(phone.end(), {"--ca-cert", cert});
    Program trusted(phone);
    EXPECT_EQ(trusted.exit(), 0) << trusted.errors();

    Program broken({TELLWIRE_RELAY_BINARY, "--listen", "127.0.0.1:0", "--tls-cert", dir + "/none.pem", "--tls-key", key});
    EXPECT_EQ(broken.exit(10000), 1);
    EXPECT_THAT(broken.errors(), HasSubstr("cannot load the TLS certificate"));
}

TEST(PhoneProgram, DictatesEachLineAsGrowingInterimsThenAFinalThenEndsTheSession)
{
    RelayProgram relay;
    const std::string desktop = signIn(relay.port, "13800138000", "desktop", kCode);
    ASSERT_FALSE(desktop.empty());
    auto received = std::async(std::launch::async, [&] { return readUntilSessionEnd(relay.port, desktop); });

    Program phone(relay.phone({"--phone", "+8613800138000", "--code", kCode, "--pace", "5"}));
    phone.write("今天天气很好，我们出去走走\n\n  hello world  \n");
    phone.closeWriteChannel();
    EXPECT_EQ(phone.exit(), 0) << phone.errors();

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
    const std::vector<std::pair<std::vector<std::string>, std::pair<int, std::string>>> cases{
        {{"--phone", "13800138000", "--code", "654321", "--say", "x"}, {1, "refused the code"}},
        {{"--phone", "12800138000", "--code", kCode, "--say", "x"}, {2, "not a mainland-China mobile number"}},
        {{"--phone", "13800138000", "--code", "12ab56", "--say", "x"}, {2, "6 digits"}},
        {{"--code", kCode}, {2, "--phone NUMBER is required"}},
    };
    for (const auto& [args, expected] : cases) {
        Program phone(relay.phone(args));
        EXPECT_EQ(phone.exit(), expected.first) << expected.second;
        EXPECT_THAT(phone.errors(), HasSubstr(expected.second));
    }

    const std::string desktop = signIn(relay.port, "13900139000", "desktop", kCode);
    const std::vector<std::string> say{"--phone", "13900139000", "--code", kCode, "--pace", "0", "--say", "你好"};
    Program phone(relay.phone(say));
    ASSERT_EQ(phone.exit(), 0) << phone.errors();
    const std::vector<json> events = readUntilSessionEnd(relay.port, desktop);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0]["text"], "你好");
    EXPECT_EQ(events[0]["final"], true);

    // Five code requests a minute for a number: two so far, three more, and then the relay says no.
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(send(relay.port, "POST", "/v1/auth/phone/request", R"({"phone":"13900139000"})").status, 200);
    Program limited(relay.phone(say));
    EXPECT_EQ(limited.exit(), 1);
    EXPECT_THAT(limited.errors(), HasSubstr("too many requests"));

    relay.process.terminate();
    ASSERT_EQ(relay.process.exit(10000), 0);
    Program down(relay.phone({"--phone", "13800138000", "--code", kCode, "--say", "x"}));
    EXPECT_EQ(down.exit(), 1);
    EXPECT_THAT(down.errors(), HasSubstr("cannot reach the relay"));
}
