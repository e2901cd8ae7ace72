// Three tellwire-relay programs on one redis-server behind HAProxy, all on
// loopback: a desktop and a phone carry on through an instance killed under a
// held poll and through a restart of Redis.
#include "RedisServer.h"
#include "support/ToolRun.h"
#include "support/Wait.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gmock/gmock.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <signal.h>

#include <future>
#include <mutex>
#include <thread>

using namespace std::chrono_literals;
using nlohmann::json;
using tellwire::testing::runTool;
using tellwire::testing::waitUntil;

namespace {

struct Reply { int status = 0; json body; }; // status 0: no HTTP reply at all

Reply call(const std::string& origin, const std::string& method, const std::string& path, const json& body = {},
           const std::string& token = {})
{
    httplib::Client client(origin);
    client.set_read_timeout(30);
    const httplib::Headers headers{{"Authorization", "Bearer " + token}};
    const auto result = method == "GET" ? client.Get(path, headers)
                                        : client.Post(path, headers, body.dump(), "application/json");
    return result ? Reply{result->status, json::parse(result->body, nullptr, false)} : Reply{};
}

// One tellwire-relay on a free loopback port, its console kept for the test to read.
struct Instance {
    Instance(const QString& config, const QString& state)
    {
        process.start(TELLWIRE_RELAY_BINARY, {"--listen", "127.0.0.1:0", "--state", state, "--config", config});
        EXPECT_TRUE(sees("listening on ")) << console.toStdString();
        origin = QRegularExpression("http://127.0.0.1:[0-9]+").match(console).captured().toStdString();
    }
    ~Instance() { process.kill(); process.waitForFinished(); }
    bool saw(const QString& text) { return (console += QString::fromUtf8(process.readAllStandardOutput())).contains(text); }
    bool sees(const QString& text) { return waitUntil([&] { return saw(text); }); }
    QProcess process;
    QString console;
    std::string origin;
};

// Long-polls as the desktop does: echoes each cursor and, after a failure, asks again after a pause.
struct Desktop {
    Desktop(const std::string& origin, std::string token)
        : client(origin)
        , thread([this, token] {
            client.set_read_timeout(30);
            std::int64_t cursor = -1;
            while (!stopping) {
                const auto reply = client.Get("/v1/events?after=" + std::to_string(cursor),
                                               {{"Authorization", "Bearer " + token}});
                std::lock_guard lock(mutex);
                if (!reply || reply->status != 200) {
                    failures.push_back(reply ? reply->status : 0);
                    cv.wait_for(mutex, 100ms, [this] { return stopping.load(); });
                    continue;
                }
                const json body = json::parse(reply->body);
                for (const json& event : body["events"])
                    if (event["final"] == true)
                        finals.push_back(event["utterance"]);
                cursor = body["cursor"];
            }
        })
    {
    }
    ~Desktop()
    {
        stopping = true;
        cv.notify_all();
        client.stop();
        thread.join();
    }
    std::size_t received()
    {
        std::lock_guard lock(mutex);
        return finals.size();
    }

    std::mutex mutex;
    std::condition_variable_any cv;
    std::atomic<bool> stopping = false;
    std::vector<std::string> finals;
    std::vector<int> failures; // statuses, 0 for no reply
    httplib::Client client;
    std::thread thread;
};

std::string signIn(const std::string& origin, const std::string& role)
{
    call(origin, "POST", "/v1/auth/phone/request", {{"phone", "13800138000"}});
    return call(origin, "POST", "/v1/auth/phone/verify",
                {{"phone", "13800138000"}, {"code", "123456"}, {"role", role}, {"device_id", role}})
        .body.value("token", "");
}

} // namespace

TEST(RelayFleet, EveryFinalArrivesOnceInOrderThroughAKilledInstanceAndARestartedRedis)
{
    tellwire::testing::RedisServer redis;
    QTemporaryDir dir;
    QFile shared(dir.filePath("relay.conf"));
    ASSERT_TRUE(shared.open(QIODevice::WriteOnly));
    shared.write(("store = " + redis.url() + "\nhold = 20  # seconds\ncode = 123456\nlog-requests = true\n").c_str());
    shared.close();
    std::vector<std::unique_ptr<Instance>> instances;
    for (int i = 0; i < 3; ++i)
        instances.push_back(std::make_unique<Instance>(shared.fileName(), dir.filePath(QString::number(i))));

    // Signed in on one instance, published on a second, held and woken on the third.
    const std::string desktop = signIn(instances[0]->origin, "desktop"), phone = signIn(instances[1]->origin, "phone");
    ASSERT_FALSE(desktop.empty() || phone.empty());
    const auto say = [&](const std::string& origin, int n) {
        return call(origin, "POST", "/v1/events", {{"utterance", "u" + std::to_string(n)}, {"text", "第" + std::to_string(n) + "句"}, {"final", true}}, phone);
    };
    std::thread held([&] { EXPECT_EQ(call(instances[2]->origin, "GET", "/v1/events?after=0", {}, desktop).body["events"][0]["utterance"], "u1"); });
    ASSERT_TRUE(instances[2]->sees("request GET /v1/events after=0"));
    const auto published = std::chrono::steady_clock::now();
    EXPECT_EQ(say(instances[1]->origin, 1).status, 200);
    held.join();
    EXPECT_LT(std::chrono::steady_clock::now() - published, 10s) << "woken, not left to its 20 s hold";

    const int port = tellwire::testing::freeLoopbackPort();
    QFile config(dir.filePath("haproxy.cfg"));
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    QString servers;
    for (std::size_t i = 0; i < instances.size(); ++i)
        servers += QString("  server relay%1 %2 check inter 100ms fall 1 rise 1\n").arg(i).arg(QString::fromStdString(instances[i]->origin).mid(7));
    config.write(QString(R"(defaults
  mode http
  timeout connect 1s
  timeout client 30s
  timeout server 30s
  retries 3
  option redispatch 1
frontend relays
  bind 127.0.0.1:%1
  default_backend relays
backend relays
  balance roundrobin
  option httpchk
  http-check send meth GET uri /healthz ver HTTP/1.1 hdr Host 127.0.0.1
%2)").arg(port).arg(servers).toUtf8());
    config.close();
    QProcess haproxy;
    haproxy.start("haproxy", {"-db", "-f", config.fileName()});
    const std::string front = "http://127.0.0.1:" + std::to_string(port);
    ASSERT_TRUE(waitUntil([&] { return call(front, "GET", "/healthz").status == 200; }));

    // The phone retries what was refused or never answered; a refused publish kept nothing.
    int refused = 0;
    const auto sayThrough = [&](int n) {
        return waitUntil([&] {
            const int status = say(front, n).status;
            refused += status == 503 ? 1 : 0;
            return status == 200;
        });
    };
    Desktop poller(front, desktop);
    for (int n = 2; n <= 5; ++n)
        ASSERT_TRUE(sayThrough(n));
    ASSERT_TRUE(waitUntil([&] { return poller.received() == 5; }));
    const auto holding = [&](const QString& cursor) { // the instance holding the desktop's poll after `cursor`
        Instance* found = nullptr;
        EXPECT_TRUE(waitUntil([&] {
            for (auto& instance : instances)
                found = instance->saw("after=" + cursor + "\n") ? instance.get() : found;
            return found;
        }));
        return found;
    };
    Instance* const holder = holding("5");
    ASSERT_TRUE(holder);
    ::kill(holder->process.processId(), SIGKILL);
    for (int n = 6; n <= 10; ++n)
        ASSERT_TRUE(sayThrough(n));
    ASSERT_TRUE(waitUntil([&] { return poller.received() == 10; }));

    // A publish while the relays' subscriptions are down still wakes the poll, once they are back.
    ASSERT_TRUE(holding("10"));
    ASSERT_EQ(runTool("redis-cli", {"-u", QString::fromStdString(redis.url()), "CLIENT", "KILL", "TYPE", "pubsub"}).exitCode, 0);
    ASSERT_TRUE(sayThrough(11));
    ASSERT_TRUE(waitUntil([&] { return poller.received() == 11; }));

    redis.stop();
    EXPECT_EQ(say(front, 12).status, 503);
    ASSERT_TRUE(redis.start());
    for (int n = 12; n <= 16; ++n)
        ASSERT_TRUE(sayThrough(n));
    ASSERT_TRUE(waitUntil([&] { return poller.received() == 16; }));

    // A hung Redis: a publish and a code request are refused once their second is up, and the relay answers
    // other requests meanwhile.
    Instance& other = *instances[instances[0].get() == holder ? 1 : 0];
    const auto arrived = [&](const QString& path) { return other.saw(""), other.console.count("request POST " + path); };
    const auto publishes = arrived("/v1/events"), asked = arrived("/v1/auth/phone/request");
    redis.pause();
    auto hung = std::async(std::launch::async, [&] { return say(other.origin, 17).status; });
    auto code = std::async(std::launch::async, [&] { return call(other.origin, "POST", "/v1/auth/phone/request", {{"phone", "13800138000"}}).status; });
    ASSERT_TRUE(waitUntil([&] { return arrived("/v1/events") > publishes && arrived("/v1/auth/phone/request") > asked; }));
    EXPECT_EQ(call(other.origin, "GET", "/").status, 200);
    EXPECT_EQ(hung.wait_for(0s), std::future_status::timeout) << "the page was served while the publish waited";
    EXPECT_EQ(code.wait_for(0s), std::future_status::timeout) << "the page was served while the code request waited";
    EXPECT_EQ(hung.get(), 503);
    EXPECT_EQ(code.get(), 503);
    redis.resume();
    EXPECT_TRUE(other.sees("answer method=POST route=/v1/events status=503 ms="));
    std::lock_guard lock(poller.mutex);
    std::vector<std::string> expected;
    for (int n = 1; n <= 16; ++n)
        expected.push_back("u" + std::to_string(n));
    EXPECT_EQ(poller.finals, expected);
    EXPECT_FALSE(poller.failures.empty()) << "the poll held by the killed instance failed";
    EXPECT_GE(refused, 1);

    const auto counted = [&](const QString& series) { // by the instances still running, summed
        double sum = 0;
        for (auto& instance : instances) {
            if (instance.get() == holder)
                continue;
            const auto metrics = httplib::Client(instance->origin).Get("/metrics");
            const QString text = metrics ? QString::fromStdString(metrics->body) : QString();
            const QRegularExpression line("^" + QRegularExpression::escape(series) + " (\\S+)$", QRegularExpression::MultilineOption);
            for (const auto& match : line.globalMatch(text))
                sum += match.captured(1).toDouble();
        }
        return sum;
    };
    EXPECT_GE(counted("tellwire_relay_store_errors_total"), 1);
    EXPECT_GE(counted(R"(tellwire_relay_requests_total{method="POST",route="/v1/events",status="503"})"), 1);
    EXPECT_THAT(counted("tellwire_relay_events_published_total"), ::testing::AllOf(::testing::Ge(11), ::testing::Le(16)));
    EXPECT_GE(counted("tellwire_relay_delivery_seconds_count"), 10);
    haproxy.terminate();
    haproxy.waitForFinished();
}
