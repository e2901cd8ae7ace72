// Load check of a fleet on loopback: tellwire-relay programs on one Redis,
// desktops (one account each) long-polling through one relay while phones
// publish through another. Every event must reach its desktop exactly once
// and in order. Prints delays, refusals, and the relays' CPU and memory;
// exits 1 on a fault.
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using Clock = std::chrono::steady_clock;
using nlohmann::json;

namespace {

struct Settings {
    std::string redis; // empty: one relay on its own embedded store
    std::string relay = TELLWIRE_RELAY_BINARY;
    int instances = 3;
    int desktops = 120;
    int phones = 60;
    int rate = 2000; // events per second, all phones together
    int seconds = 10;
};

std::int64_t micros() { return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch()).count(); }

double percentile(std::vector<std::int64_t> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return double(values[std::min(values.size() - 1, std::size_t(p * double(values.size())))]);
}

// One tellwire-relay program and what it has cost so far.
struct Instance {
    pid_t pid = 0;
    int port = 0;

    bool start(const Settings& settings, const std::string& state)
    {
        int out[2];
        if (pipe(out) != 0)
            return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        std::vector<std::string> args{settings.relay, "--listen", "127.0.0.1:0", "--code", "123456", "--state", state};
        if (!settings.redis.empty())
            args.insert(args.end(), {"--store", settings.redis});
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        const int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        FILE* console = fdopen(out[0], "r");
        char line[256] = {};
        const bool read = !failed && std::fgets(line, sizeof line, console);
        std::thread([console] { // keeps the pipe drained
            char rest[256];
            while (std::fgets(rest, sizeof rest, console)) {}
            std::fclose(console);
        }).detach();
        const char* colon = read ? std::strrchr(line, ':') : nullptr;
        return colon && std::from_chars(colon + 1, line + std::strlen(line), port).ec == std::errc();
    }
    // CPU seconds (user + system) and resident kilobytes.
    std::pair<double, long> cost() const
    {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), {});
        std::istringstream fields(text.substr(text.rfind(')') + 2));
        std::string field;
        double ticks = 0;
        long pages = 0;
        for (int i = 3; fields >> field; ++i) {
            if (i == 14 || i == 15)
                ticks += std::stod(field);
            if (i == 24)
                pages = std::stol(field);
        }
        return {ticks / double(sysconf(_SC_CLK_TCK)), pages * (sysconf(_SC_PAGESIZE) / 1024)};
    }
    void stop() const
    {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
};

std::string signIn(int port, const std::string& number, const std::string& role)
{
    httplib::Client client("127.0.0.1", port);
    client.set_tcp_nodelay(true); // headers and body go out in two writes
    client.Post("/v1/auth/phone/request", json({{"phone", number}}).dump(), "application/json");
    const auto reply = client.Post(
        "/v1/auth/phone/verify", json({{"phone", number}, {"code", "123456"}, {"role", role}, {"device_id", role}}).dump(),
        "application/json");
    return reply && reply->status == 200 ? json::parse(reply->body)["token"].get<std::string>() : std::string();
}

Settings parse(int argc, char** argv)
{
    Settings settings;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i], value = argv[i + 1];
        int number = 0;
        std::from_chars(value.data(), value.data() + value.size(), number);
        if (option == "--redis")
            settings.redis = value;
        else if (option == "--relay")
            settings.relay = value;
        else if (option == "--instances" && number > 0)
            settings.instances = number;
        else if (option == "--desktops" && number > 0)
            settings.desktops = number;
        else if (option == "--phones" && number > 0)
            settings.phones = number;
        else if (option == "--rate" && number > 0)
            settings.rate = number;
        else if (option == "--seconds" && number > 0)
            settings.seconds = number;
    }
    settings.phones = std::min(settings.phones, settings.desktops);
    if (settings.redis.empty())
        settings.instances = 1;
    return settings;
}

} // namespace

int main(int argc, char** argv)
{
    const Settings settings = parse(argc, argv);
    if (argc < 2) {
        std::cerr << "usage: relayserver_fleet_load [--redis redis://HOST:PORT/DB [--instances 3]] [--desktops 120]\n"
                     "                              [--phones 60] [--rate 2000] [--seconds 10] [--relay PROGRAM]\n"
                     "(the Redis database is emptied first; without --redis one relay runs on its own store)\n";
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);
    pid_t flush = 0;
    std::vector<std::string> flushArgs{"redis-cli", "-u", settings.redis, "FLUSHDB"};
    std::vector<char*> flushArgv;
    for (std::string& arg : flushArgs)
        flushArgv.push_back(arg.data());
    flushArgv.push_back(nullptr);
    int flushed = 0;
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    const int spawned = settings.redis.empty() ? 0 : posix_spawnp(&flush, "redis-cli", &quiet, nullptr, flushArgv.data(), environ);
    posix_spawn_file_actions_destroy(&quiet);
    if (spawned != 0 || (flush && waitpid(flush, &flushed, 0) < 0) || flushed != 0) {
        std::cerr << "cannot empty " << settings.redis << " with redis-cli\n";
        return 1;
    }
    const auto state = std::filesystem::temp_directory_path() / ("fleet-load-" + std::to_string(getpid()));
    std::vector<Instance> instances(std::size_t(settings.instances));
    for (std::size_t i = 0; i < instances.size(); ++i) {
        if (!instances[i].start(settings, (state / std::to_string(i)).string())) {
            std::cerr << "cannot start tellwire-relay\n";
            return 1;
        }
    }
    const auto portOf = [&](int k) { return instances[std::size_t(k % settings.instances)].port; };

    // Account k: its desktop polls relay k, its phone (for k < phones) publishes through relay k + 1.
    const int perPhone = settings.rate * settings.seconds / settings.phones;
    std::vector<std::string> desktopTokens, phoneTokens;
    for (int k = 0; k < settings.desktops; ++k) {
        const std::string number = std::to_string(13000000000LL + k);
        desktopTokens.push_back(signIn(portOf(k), number, "desktop"));
        if (k < settings.phones)
            phoneTokens.push_back(signIn(portOf(k + 1), number, "phone"));
    }
    if (std::count(desktopTokens.begin(), desktopTokens.end(), "") || std::count(phoneTokens.begin(), phoneTokens.end(), "")) {
        std::cerr << "sign-in failed\n";
        return 1;
    }

    std::vector<std::vector<std::atomic<std::int64_t>>> sentAt(std::size_t(settings.phones));
    for (auto& sent : sentAt)
        sent = std::vector<std::atomic<std::int64_t>>(std::size_t(perPhone));
    std::mutex mutex;
    std::vector<std::int64_t> delays;
    std::atomic<int> received = 0, faults = 0, busy = 0, failedPublishes = 0;
    std::atomic<bool> done = false;
    std::vector<std::unique_ptr<httplib::Client>> pollers;
    std::vector<std::thread> threads;
    for (int k = 0; k < settings.desktops; ++k) {
        pollers.push_back(std::make_unique<httplib::Client>("127.0.0.1", portOf(k)));
        threads.emplace_back([&, k, client = pollers.back().get()] {
            client->set_read_timeout(30);
            client->set_keep_alive(true);
            client->set_tcp_nodelay(true);
            std::int64_t cursor = -1;
            int next = 0;
            while (!done) {
                const auto reply = client->Get("/v1/events?after=" + std::to_string(cursor),
                                               {{"Authorization", "Bearer " + desktopTokens[std::size_t(k)]}});
                const std::int64_t now = micros();
                if (!reply || reply->status != 200) {
                    busy += reply && reply->status == 503;
                    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // the desktop's pause, shortened
                    continue;
                }
                const json batch = json::parse(reply->body);
                cursor = batch["cursor"];
                std::lock_guard lock(mutex);
                for (const json& event : batch["events"]) {
                    const int index = std::stoi(event["text"].get<std::string>());
                    faults += index != next++;
                    if (k < settings.phones && index >= 0 && index < perPhone)
                        delays.push_back(now - sentAt[std::size_t(k)][std::size_t(index)]);
                    ++received;
                }
            }
        });
    }

    const auto cpuBefore = [&] { double cpu = 0; for (auto& i : instances) cpu += i.cost().first; return cpu; }();
    const auto started = Clock::now() + std::chrono::milliseconds(500);
    std::vector<std::thread> phones;
    for (int k = 0; k < settings.phones; ++k) {
        phones.emplace_back([&, k] {
            httplib::Client client("127.0.0.1", portOf(k + 1));
            client.set_read_timeout(30); // as long as the desktop waits; a timed-out publish may still be kept
            client.set_keep_alive(true);
            client.set_tcp_nodelay(true);
            const httplib::Headers headers{{"Authorization", "Bearer " + phoneTokens[std::size_t(k)]}};
            const auto interval = std::chrono::microseconds(1'000'000LL * settings.phones / settings.rate);
            const auto offset = interval * k / settings.phones; // phones spread over each interval
            for (int i = 0; i < perPhone; ++i) {
                std::this_thread::sleep_until(started + offset + interval * i);
                sentAt[std::size_t(k)][std::size_t(i)] = micros();
                const json event{{"utterance", std::to_string(i)}, {"text", std::to_string(i)}, {"final", true}};
                const auto reply = client.Post("/v1/events", headers, event.dump(), "application/json");
                failedPublishes += !reply || reply->status != 200;
            }
        });
    }
    for (std::thread& phone : phones)
        phone.join();
    const double publishSeconds = std::chrono::duration<double>(Clock::now() - started).count();
    const int expected = perPhone * settings.phones;
    const auto until = Clock::now() + std::chrono::seconds(10);
    while (received < expected - failedPublishes && Clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    double cpu = 0;
    long rss = 0;
    for (auto& instance : instances) {
        cpu += instance.cost().first;
        rss = std::max(rss, instance.cost().second);
    }
    cpu -= cpuBefore;
    done = true;
    for (auto& poller : pollers)
        poller->stop();
    for (std::thread& thread : threads)
        thread.join();
    for (auto& instance : instances)
        instance.stop();
    std::filesystem::remove_all(state);

    const int lost = expected - failedPublishes - received;
    std::printf("fleet load: %d relays on %s, %d desktops, %d phones, %d events/s for %d s\n", settings.instances,
                settings.redis.empty() ? "their own store" : settings.redis.c_str(), settings.desktops, settings.phones, settings.rate, settings.seconds);
    std::printf("  published %d in %.2f s (%.0f/s), %d refused\n", expected, publishSeconds, expected / publishSeconds,
                failedPublishes.load());
    std::printf("  delivered %d, lost %d, doubled or out of order %d, polls refused busy %d\n", received.load(), lost,
                faults.load(), busy.load());
    std::printf("  publish to desktop: p50 %.1f ms, p99 %.1f ms, max %.1f ms\n", percentile(delays, 0.5) / 1000,
                percentile(delays, 0.99) / 1000, percentile(delays, 1.0) / 1000);
    std::printf("  relays' CPU: %.2f s in all, %.3f s per 1,000 events; largest RSS %ld MB\n", cpu,
                cpu * 1000 / std::max(expected, 1), rss / 1024);
    const bool ok = lost == 0 && faults == 0 && failedPublishes == 0;
    std::printf("%s\n", ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}
