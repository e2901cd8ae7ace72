// Load check of a fleet on loopback: tellwire-relay programs on one Redis,
// desktops (one account each) long-polling through one relay while phones
// publish through another. Every event must reach its desktop exactly once
// and in order. Prints delays, refusals, and the CPU and memory of the relays,
// of Redis and of this program; exits 1 on a fault.
//
// All clients are coroutines on this program's one thread, so that it costs
// the machine as little as the clients it stands for would.
#include <boost/asio/as_tuple.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using asio::ip::tcp;
using Clock = std::chrono::steady_clock;
using nlohmann::json;

namespace {

constexpr auto tuple = asio::as_tuple(asio::use_awaitable);

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

std::vector<char*> argvOf(std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    return argv;
}

// CPU seconds (user + system) and resident kilobytes of a process.
std::pair<double, long> cost(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    if (text.empty())
        return {0, 0};
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

// What redis-cli prints for these arguments, or nothing when it fails.
std::string redisCli(const std::string& url, std::vector<std::string> command)
{
    std::vector<std::string> args{"redis-cli", "-u", url};
    args.insert(args.end(), command.begin(), command.end());
    int out[2];
    if (pipe(out) != 0)
        return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    pid_t pid = 0;
    const auto argv = argvOf(args);
    const int failed = posix_spawnp(&pid, "redis-cli", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    std::string text;
    char chunk[4096];
    for (ssize_t n; (n = read(out[0], chunk, sizeof chunk)) > 0;)
        text.append(chunk, std::size_t(n));
    close(out[0]);
    int status = 0;
    if (failed || waitpid(pid, &status, 0) < 0 || status != 0)
        return {};
    return text;
}

// CPU seconds the whole machine has spent busy so far, from /proc/stat.
double machineCpu()
{
    std::ifstream stat("/proc/stat");
    std::string cpu;
    double user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0, steal = 0;
    stat >> cpu >> user >> nice >> system >> idle >> iowait >> irq >> softirq >> steal;
    return (user + nice + system + irq + softirq + steal) / double(sysconf(_SC_CLK_TCK));
}

// The Redis server's own CPU seconds so far, from INFO.
double redisCpu(const std::string& url)
{
    const std::string info = redisCli(url, {"INFO", "cpu"});
    double total = 0;
    for (const char* name : {"used_cpu_sys:", "used_cpu_user:"})
        if (const auto at = info.find(name); at != std::string::npos)
            total += std::atof(info.c_str() + at + std::strlen(name));
    return total;
}

// One tellwire-relay program.
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
        const auto argv = argvOf(args);
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
    void stop() const
    {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
};

struct Reply {
    int status = 0; // 0: no reply came
    std::string body;
};

// One kept-alive HTTP connection, made again after a failure.
class Connection {
public:
    Connection(asio::io_context& io, int port)
        : stream_(io)
        , endpoint_(asio::ip::make_address_v4("127.0.0.1"), std::uint16_t(port))
    {
    }

    asio::awaitable<Reply> call(http::verb method, std::string target, const std::string& token, std::string body = {})
    {
        if (!connected_) {
            stream_.expires_after(std::chrono::seconds(5));
            auto [error] = co_await stream_.async_connect(endpoint_, tuple);
            if (error) {
                stream_.close();
                co_return Reply{};
            }
            stream_.socket().set_option(tcp::no_delay(true));
            connected_ = true;
        }
        http::request<http::string_body> request{method, target, 11};
        request.set(http::field::host, "127.0.0.1");
        if (!token.empty())
            request.set(http::field::authorization, "Bearer " + token);
        if (method == http::verb::post) {
            request.set(http::field::content_type, "application/json");
            request.body() = std::move(body);
        }
        request.keep_alive(true);
        request.prepare_payload();
        stream_.expires_after(std::chrono::seconds(30)); // longer than any hold
        auto [writeError, written] = co_await http::async_write(stream_, request, tuple);
        http::response<http::string_body> response;
        if (!writeError) {
            auto [readError, read] = co_await http::async_read(stream_, buffer_, response, tuple);
            if (!readError) {
                if (!response.keep_alive())
                    close();
                co_return Reply{int(response.result_int()), std::move(response.body())};
            }
        }
        close();
        co_return Reply{};
    }

    void close()
    {
        stream_.close();
        buffer_.clear();
        connected_ = false;
    }

private:
    beast::tcp_stream stream_;
    tcp::endpoint endpoint_;
    beast::flat_buffer buffer_;
    bool connected_ = false;
};

asio::awaitable<void> pause(std::chrono::milliseconds duration)
{
    asio::steady_timer timer(co_await asio::this_coro::executor, duration);
    co_await timer.async_wait(tuple);
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

// The whole run on one io_context: sign-ins, desktops, phones, the report.
class Load {
public:
    Load(asio::io_context& io, const Settings& settings, std::vector<Instance>& instances)
        : io_(io)
        , settings_(settings)
        , instances_(instances)
        , perPhone_(settings.rate * settings.seconds / settings.phones)
        , sentAt_(std::size_t(settings.phones), std::vector<std::int64_t>(std::size_t(perPhone_)))
    {
    }

    asio::awaitable<void> run()
    {
        // Account k: its desktop polls relay k, its phone (k < phones) publishes through relay k + 1.
        desktopTokens_.resize(std::size_t(settings_.desktops));
        phoneTokens_.resize(std::size_t(settings_.phones));
        int next = 0, signers = 0;
        for (int i = 0; i < 64; ++i, ++signers)
            asio::co_spawn(io_, [&]() -> asio::awaitable<void> {
                for (int k; (k = next++) < settings_.desktops;) {
                    desktopTokens_[std::size_t(k)] = co_await signIn(k, portOf(k), "desktop");
                    if (k < settings_.phones)
                        phoneTokens_[std::size_t(k)] = co_await signIn(k, portOf(k + 1), "phone");
                }
                --signers;
            }, asio::detached);
        while (signers > 0)
            co_await pause(std::chrono::milliseconds(10));
        if (std::count(desktopTokens_.begin(), desktopTokens_.end(), "") || std::count(phoneTokens_.begin(), phoneTokens_.end(), "")) {
            std::cerr << "sign-in failed\n";
            co_return;
        }
        signedIn_ = true;

        for (int k = 0; k < settings_.desktops; ++k)
            asio::co_spawn(io_, desktop(k), asio::detached);
        while (polling_ < settings_.desktops)
            co_await pause(std::chrono::milliseconds(10));

        for (auto& instance : instances_)
            cpuBefore_ += cost(instance.pid).first;
        redisCpuBefore_ = settings_.redis.empty() ? 0 : redisCpu(settings_.redis);
        rusage self{};
        getrusage(RUSAGE_SELF, &self);
        selfCpuBefore_ = seconds(self);
        machineCpuBefore_ = machineCpu();
        const auto started = Clock::now() + std::chrono::milliseconds(500);
        startedAt_ = micros() + 500'000;
        int phonesLeft = settings_.phones;
        for (int k = 0; k < settings_.phones; ++k)
            asio::co_spawn(io_, [this, k, started, &phonesLeft]() -> asio::awaitable<void> {
                co_await phone(k, started);
                --phonesLeft;
            }, asio::detached);
        while (phonesLeft > 0)
            co_await pause(std::chrono::milliseconds(10));
        publishSeconds_ = std::chrono::duration<double>(Clock::now() - started).count();
        const int expected = perPhone_ * settings_.phones;
        for (const auto until = Clock::now() + std::chrono::seconds(10);
             received_ < expected - failedPublishes_ && Clock::now() < until;)
            co_await pause(std::chrono::milliseconds(10));
        runSeconds_ = std::chrono::duration<double>(Clock::now() - started).count() + 0.5;
        for (auto& instance : instances_) {
            const auto [cpu, rss] = cost(instance.pid);
            cpu_ += cpu;
            rss_ = std::max(rss_, rss);
        }
        cpu_ -= cpuBefore_;
        redisCpu_ = settings_.redis.empty() ? 0 : redisCpu(settings_.redis) - redisCpuBefore_;
        getrusage(RUSAGE_SELF, &self);
        selfCpu_ = seconds(self) - selfCpuBefore_;
        machineCpu_ = machineCpu() - machineCpuBefore_;
        finished_ = true;
        io_.stop();
    }

    // Prints the figures; true when nothing was lost, doubled or refused.
    bool report(double loadBefore, double loadAfter) const
    {
        if (!finished_)
            return false;
        const int expected = perPhone_ * settings_.phones;
        const int lost = expected - failedPublishes_ - received_;
        std::printf("fleet load: %d relays on %s, %d desktops, %d phones, %d events/s for %d s\n", settings_.instances,
                    settings_.redis.empty() ? "their own store" : settings_.redis.c_str(), settings_.desktops,
                    settings_.phones, settings_.rate, settings_.seconds);
        std::printf("  machine load average %.2f before, %.2f after\n", loadBefore, loadAfter);
        std::printf("  published %d in %.2f s (%.0f/s), %d refused; publish answered: p50 %.1f ms, p99 %.1f ms\n",
                    expected, publishSeconds_, expected / publishSeconds_, failedPublishes_,
                    percentile(publishTimes_, 0.5) / 1000, percentile(publishTimes_, 0.99) / 1000);
        std::printf("  delivered %d, lost %d, doubled or out of order %d, polls refused busy %d, failed %d\n", received_,
                    lost, faults_, busy_, failedPolls_);
        std::printf("  publish to desktop: p50 %.1f ms, p99 %.1f ms, max %.1f ms\n", percentile(delays_, 0.5) / 1000,
                    percentile(delays_, 0.99) / 1000, percentile(delays_, 1.0) / 1000);
        // Where in the run the slow ones were (polls ending together, other work on the machine).
        std::printf("  p99 by 10 s of the run:");
        for (const auto& window : windows_)
            std::printf(" %.0f", percentile(window, 0.99) / 1000);
        std::printf(" ms\n");
        std::printf("  relays' CPU: %.2f s in all, %.3f s per 1,000 events; largest RSS %ld MB\n", cpu_,
                    cpu_ * 1000 / std::max(expected, 1), rss_ / 1024);
        std::printf("  Redis CPU %.2f s (%.3f s per 1,000 events); this load generator %.2f s; the machine %.2f s of "
                    "its %.0f, other work %.2f s of it\n",
                    redisCpu_, redisCpu_ * 1000 / std::max(expected, 1), selfCpu_, machineCpu_,
                    double(sysconf(_SC_NPROCESSORS_ONLN)) * runSeconds_, machineCpu_ - cpu_ - redisCpu_ - selfCpu_);
        const bool ok = lost == 0 && faults_ == 0 && failedPublishes_ == 0;
        std::printf("%s\n", ok ? "PASS" : "FAIL");
        return ok;
    }

    bool signedIn() const { return signedIn_; }

private:
    static double seconds(const rusage& usage)
    {
        return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
            + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    }

    int portOf(int k) const { return instances_[std::size_t(k % settings_.instances)].port; }

    asio::awaitable<std::string> signIn(int k, int port, const std::string& role)
    {
        const std::string number = std::to_string(13000000000LL + k);
        Connection connection(io_, port);
        // Named, not temporaries: GCC 12 mishandles some temporaries in co_await expressions.
        const std::string none, request = "/v1/auth/phone/request", verify = "/v1/auth/phone/verify";
        std::string asked = json({{"phone", number}}).dump();
        std::string signIn = json({{"phone", number}, {"code", "123456"}, {"role", role}, {"device_id", role}}).dump();
        co_await connection.call(http::verb::post, request, none, std::move(asked));
        const Reply reply = co_await connection.call(http::verb::post, verify, none, std::move(signIn));
        connection.close();
        co_return reply.status == 200 ? json::parse(reply.body)["token"].get<std::string>() : std::string();
    }

    asio::awaitable<void> desktop(int k)
    {
        Connection connection(io_, portOf(k));
        const std::string& token = desktopTokens_[std::size_t(k)];
        std::int64_t cursor = -1;
        int next = 0;
        bool first = true;
        while (!finished_) {
            const Reply reply = co_await connection.call(http::verb::get, "/v1/events?after=" + std::to_string(cursor), token);
            const std::int64_t now = micros();
            if (first) {
                first = false;
                ++polling_;
            }
            if (reply.status != 200) {
                busy_ += reply.status == 503;
                failedPolls_ += reply.status != 503;
                co_await pause(std::chrono::milliseconds(200)); // the desktop's pause, shortened
                continue;
            }
            const json batch = json::parse(reply.body);
            cursor = batch["cursor"];
            for (const json& event : batch["events"]) {
                const int index = std::stoi(event["text"].get<std::string>());
                faults_ += index != next++;
                if (k < settings_.phones && index >= 0 && index < perPhone_) {
                    const std::int64_t sent = sentAt_[std::size_t(k)][std::size_t(index)];
                    delays_.push_back(now - sent);
                    const auto window = std::size_t(std::max<std::int64_t>(sent - startedAt_, 0) / 10'000'000);
                    windows_.resize(std::max(windows_.size(), window + 1));
                    windows_[window].push_back(now - sent);
                }
                ++received_;
            }
        }
    }

    asio::awaitable<void> phone(int k, Clock::time_point started)
    {
        Connection connection(io_, portOf(k + 1));
        const std::string& token = phoneTokens_[std::size_t(k)];
        const auto interval = std::chrono::microseconds(1'000'000LL * settings_.phones / settings_.rate);
        const auto offset = interval * k / settings_.phones; // phones spread over each interval
        asio::steady_timer timer(io_);
        for (int i = 0; i < perPhone_; ++i) {
            timer.expires_at(started + offset + interval * i);
            co_await timer.async_wait(tuple);
            const json event{{"utterance", std::to_string(i)}, {"text", std::to_string(i)}, {"final", true}};
            const std::int64_t sent = micros();
            sentAt_[std::size_t(k)][std::size_t(i)] = sent;
            const Reply reply = co_await connection.call(http::verb::post, "/v1/events", token, event.dump());
            publishTimes_.push_back(micros() - sent);
            failedPublishes_ += reply.status != 200;
        }
    }

    asio::io_context& io_;
    const Settings& settings_;
    std::vector<Instance>& instances_;
    const int perPhone_;
    std::vector<std::vector<std::int64_t>> sentAt_;
    std::vector<std::string> desktopTokens_, phoneTokens_;
    std::vector<std::int64_t> delays_, publishTimes_;
    std::vector<std::vector<std::int64_t>> windows_; // delays by when they were published
    std::int64_t startedAt_ = 0;
    int polling_ = 0, received_ = 0, faults_ = 0, busy_ = 0, failedPolls_ = 0, failedPublishes_ = 0;
    bool signedIn_ = false, finished_ = false;
    double cpuBefore_ = 0, cpu_ = 0, redisCpuBefore_ = 0, redisCpu_ = 0, selfCpuBefore_ = 0, selfCpu_ = 0;
    double publishSeconds_ = 0, runSeconds_ = 0, machineCpuBefore_ = 0, machineCpu_ = 0;
    long rss_ = 0;
};

double loadAverage()
{
    double load = 0;
    getloadavg(&load, 1);
    return load;
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
    rlimit files{}; // a socket per desktop and phone
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    if (!settings.redis.empty() && redisCli(settings.redis, {"FLUSHDB"}).empty()) {
        std::cerr << "cannot empty " << settings.redis << " with redis-cli\n";
        return 1;
    }
    const double loadBefore = loadAverage();
    const auto state = std::filesystem::temp_directory_path() / ("fleet-load-" + std::to_string(getpid()));
    std::vector<Instance> instances(std::size_t(settings.instances));
    for (std::size_t i = 0; i < instances.size(); ++i) {
        if (!instances[i].start(settings, (state / std::to_string(i)).string())) {
            std::cerr << "cannot start tellwire-relay\n";
            return 1;
        }
    }
    asio::io_context io(1);
    Load load(io, settings, instances);
    asio::co_spawn(io, load.run(), asio::detached);
    io.run();
    const double loadAfter = loadAverage();
    for (auto& instance : instances)
        instance.stop();
    std::filesystem::remove_all(state);
    return load.report(loadBefore, loadAfter) ? 0 : 1;
}
