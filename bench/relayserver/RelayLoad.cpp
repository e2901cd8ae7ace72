// Load check of the local relay on loopback: one desktop long-polls while the
// phone publishes a steady stream of events; every event must reach the
// desktop exactly once and in order. Prints the figures; exits 1 on a fault.
#include "Relay.h"
#include "RelayServer.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace tellwire;
using Clock = std::chrono::steady_clock;
using nlohmann::json;

namespace {

struct Settings {
    int rate = 1000;   // events per second
    int seconds = 5;
};

std::int64_t micros(Clock::time_point t)
{
    return std::chrono::duration_cast<std::chrono::microseconds>(t.time_since_epoch()).count();
}

double percentile(std::vector<std::int64_t> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return static_cast<double>(values[std::min(values.size() - 1, static_cast<std::size_t>(p * values.size()))]);
}

std::string signIn(int port, const std::string& role)
{
    httplib::Client client("127.0.0.1", port);
    client.Post("/v1/auth/phone/request", json({{"phone", "13800138000"}}).dump(), "application/json");
    const auto reply = client.Post(
        "/v1/auth/phone/verify",
        json({{"phone", "13800138000"}, {"code", "123456"}, {"role", role}, {"device_id", role}}).dump(),
        "application/json");
    if (!reply || reply->status != 200)
        return {};
    return json::parse(reply->body)["token"];
}

Settings parse(int argc, char** argv)
{
    Settings settings;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        int value = 0;
        std::from_chars(argv[i + 1], argv[i + 1] + std::strlen(argv[i + 1]), value);
        if (option == "--rate" && value > 0 && value <= 20000)
            settings.rate = value;
        else if (option == "--seconds" && value > 0 && value <= 60)
            settings.seconds = value;
    }
    return settings;
}

} // namespace

int main(int argc, char** argv)
{
    const Settings settings = parse(argc, argv);
    const int total = settings.rate * settings.seconds;

    RelayOptions options;
    options.fixedCode = "123456";
    options.limits.codeRequestsPerMinute = 10;
    Relay relay(options);
    RelayServer server(relay);
    const int port = server.bind("127.0.0.1", 0);
    if (port < 0) {
        std::cerr << "cannot listen on loopback\n";
        return 1;
    }
    server.start();
    const std::string desktopToken = signIn(port, "desktop");
    const std::string phoneToken = signIn(port, "phone");
    if (desktopToken.empty() || phoneToken.empty()) {
        std::cerr << "sign-in failed\n";
        return 1;
    }

    std::vector<std::atomic<std::int64_t>> sentAt(static_cast<std::size_t>(total));
    std::vector<std::int64_t> deliveryLatency;
    std::vector<std::int64_t> publishLatency;
    std::vector<int> received; // event index in arrival order
    std::int64_t lastSeq = 0;
    int polls = 0;
    int outOfOrder = 0;
    std::atomic<int> publishFailures = 0;
    // The whole check is bounded: the reader gives up at this deadline.
    const auto deadline = Clock::now() + std::chrono::seconds(settings.seconds + 20);

    std::thread desktop([&] {
        httplib::Client client("127.0.0.1", port);
        client.set_keep_alive(true);
        client.set_tcp_nodelay(true);
        client.set_read_timeout(25);
        std::int64_t cursor = -1;
        while (static_cast<int>(received.size()) < total && Clock::now() < deadline) {
            const auto reply = client.Get("/v1/events?after=" + std::to_string(cursor),
                                          {{"Authorization", "Bearer " + desktopToken}});
            const auto now = micros(Clock::now());
            ++polls;
            if (!reply || reply->status != 200)
                continue;
            const json batch = json::parse(reply->body, nullptr, false);
            cursor = batch["cursor"];
            for (const json& event : batch["events"]) {
                const std::int64_t seq = event["seq"];
                if (seq != lastSeq + 1)
                    ++outOfOrder;
                lastSeq = seq;
                const int index = std::stoi(event["text"].get<std::string>());
                received.push_back(index);
                if (index >= 0 && index < total)
                    deliveryLatency.push_back(now - sentAt[static_cast<std::size_t>(index)].load());
            }
        }
    });

    const auto started = Clock::now();
    {
        httplib::Client client("127.0.0.1", port);
        client.set_keep_alive(true);
        client.set_tcp_nodelay(true);
        const httplib::Headers headers{{"Authorization", "Bearer " + phoneToken}};
        const auto interval = std::chrono::nanoseconds(1'000'000'000 / settings.rate);
        for (int i = 0; i < total; ++i) {
            std::this_thread::sleep_until(started + interval * i);
            const auto before = Clock::now();
            sentAt[static_cast<std::size_t>(i)] = micros(before);
            const json event{{"utterance", "u" + std::to_string(i / 10)}, {"text", std::to_string(i)},
                             {"final", i % 10 == 9}, {"session", "load"}};
            const auto reply = client.Post("/v1/events", headers, event.dump(), "application/json");
            publishLatency.push_back(micros(Clock::now()) - micros(before));
            if (!reply || reply->status != 200)
                ++publishFailures;
        }
    }
    const double publishSeconds = std::chrono::duration<double>(Clock::now() - started).count();
    desktop.join();
    const double totalSeconds = std::chrono::duration<double>(Clock::now() - started).count();
    server.stop();

    int duplicatesOrGaps = 0;
    for (std::size_t i = 0; i < received.size(); ++i)
        duplicatesOrGaps += received[i] != static_cast<int>(i);
    const bool ok = publishFailures == 0 && outOfOrder == 0 && duplicatesOrGaps == 0
        && static_cast<int>(received.size()) == total;

    std::printf("local relay load: %d events at %d/s for %d s\n", total, settings.rate, settings.seconds);
    std::printf("  published in %.3f s (%.0f events/s), %d failed\n", publishSeconds, total / publishSeconds,
                publishFailures.load());
    std::printf("  delivered %zu events in %.3f s over %d polls (%.1f events per reply)\n", received.size(),
                totalSeconds, polls, polls ? static_cast<double>(received.size()) / polls : 0.0);
    std::printf("  out of order %d, duplicated or missing %d\n", outOfOrder, duplicatesOrGaps);
    std::printf("  publish request: p50 %.0f us, p99 %.0f us, max %.0f us\n", percentile(publishLatency, 0.5),
                percentile(publishLatency, 0.99), percentile(publishLatency, 1.0));
    std::printf("  publish to desktop: p50 %.0f us, p99 %.0f us, max %.0f us\n", percentile(deliveryLatency, 0.5),
                percentile(deliveryLatency, 0.99), percentile(deliveryLatency, 1.0));
    std::printf("%s\n", ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}
