// How much one relay pays for held polls: one tellwire-relay on Redis, a
// desktop of a distinct account per poll, every poll held at once. Prints
// the relay's resident memory and its CPU use while the polls wait.
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

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

using nlohmann::json;

namespace {

pid_t spawn(std::vector<std::string> args, int out)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (out >= 0)
        posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
    else
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int failed = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return failed ? 0 : pid;
}

// CPU seconds (user + system) and resident megabytes of a process.
std::pair<double, double> cost(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    double ticks = 0, pages = 0;
    for (int i = 3; fields >> field; ++i) {
        if (i == 14 || i == 15)
            ticks += std::stod(field);
        if (i == 24)
            pages = std::stod(field);
    }
    return {ticks / double(sysconf(_SC_CLK_TCK)), pages * double(sysconf(_SC_PAGESIZE)) / (1 << 20)};
}

double heldPolls(int port)
{
    const auto metrics = httplib::Client("127.0.0.1", port).Get("/metrics");
    const std::string name = "\ntellwire_relay_held_polls ";
    const auto at = metrics ? metrics->body.find(name) : std::string::npos;
    return at == std::string::npos ? -1 : std::stod(metrics->body.substr(at + name.size()));
}

} // namespace

int main(int argc, char** argv)
{
    std::string redis;
    int polls = 10000, idleSeconds = 5;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i], value = argv[i + 1];
        if (option == "--redis")
            redis = value;
        else if (option == "--polls")
            polls = std::stoi(value);
        else if (option == "--idle")
            idleSeconds = std::stoi(value);
    }
    if (redis.empty() || polls <= 0 || idleSeconds <= 0 || idleSeconds > 15) {
        std::cerr << "usage: relayserver_held_polls --redis redis://HOST:PORT/DB [--polls 10000] [--idle 5 (at most 15)]\n"
                     "(the Redis database is emptied first)\n";
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);
    int flushed = -1;
    const pid_t flush = spawn({"redis-cli", "-u", redis, "FLUSHDB"}, -1);
    if (!flush || waitpid(flush, &flushed, 0) < 0 || flushed != 0) {
        std::cerr << "cannot empty " << redis << " with redis-cli\n";
        return 1;
    }
    const auto state = std::filesystem::temp_directory_path() / ("held-polls-" + std::to_string(getpid()));
    int out[2];
    if (pipe(out) != 0)
        return 1;
    const pid_t relay = spawn({TELLWIRE_RELAY_BINARY, "--listen", "127.0.0.1:0", "--code", "123456", "--hold", "24",
                               "--state", state.string(), "--store", redis}, out[1]);
    close(out[1]);
    FILE* console = fdopen(out[0], "r");
    char line[256] = {};
    int port = 0;
    const char* colon = relay && std::fgets(line, sizeof line, console) ? std::strrchr(line, ':') : nullptr;
    if (!colon || std::from_chars(colon + 1, line + std::strlen(line), port).ec != std::errc()) {
        std::cerr << "cannot start tellwire-relay\n";
        return 1;
    }
    std::thread([console] {
        char rest[256];
        while (std::fgets(rest, sizeof rest, console)) {}
    }).detach();

    httplib::Client client("127.0.0.1", port);
    client.set_keep_alive(true);
    client.set_tcp_nodelay(true); // headers and body go out in two writes
    std::vector<std::string> tokens;
    for (int k = 0; k < polls; ++k) {
        const std::string number = std::to_string(13000000000LL + k);
        client.Post("/v1/auth/phone/request", json({{"phone", number}}).dump(), "application/json");
        const auto reply = client.Post("/v1/auth/phone/verify",
                                       json({{"phone", number}, {"code", "123456"}, {"role", "desktop"},
                                             {"device_id", "desktop"}}).dump(), "application/json");
        if (!reply || reply->status != 200) {
            std::cerr << "sign-in " << k << " failed\n";
            return 1;
        }
        tokens.push_back(json::parse(reply->body)["token"]);
    }
    const auto [cpuBefore, rssBefore] = cost(relay);

    std::vector<int> sockets;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(std::uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (const std::string& token : tokens) {
        const int sock = socket(AF_INET, SOCK_STREAM, 0);
        const std::string request = "GET /v1/events?after=-1 HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer "
            + token + "\r\n\r\n";
        if (sock < 0 || connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
            || send(sock, request.data(), request.size(), 0) != ssize_t(request.size())) {
            std::cerr << "cannot open poll " << sockets.size() << ": " << std::strerror(errno) << "\n";
            return 1;
        }
        sockets.push_back(sock);
    }
    const auto opened = std::chrono::steady_clock::now();
    while (heldPolls(port) < polls && std::chrono::steady_clock::now() - opened < std::chrono::seconds(10))
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const double held = heldPolls(port);
    const auto [cpuHeld, rssHeld] = cost(relay);
    std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
    const auto [cpuIdle, rssIdle] = cost(relay);
    const double stillHeld = heldPolls(port);

    for (int sock : sockets)
        close(sock);
    kill(relay, SIGTERM);
    waitpid(relay, nullptr, 0);
    std::filesystem::remove_all(state);

    std::printf("held polls: one relay on %s, %d desktops of distinct accounts\n", redis.c_str(), polls);
    std::printf("  held at once %.0f (still %.0f after %d s idle)\n", held, stillHeld, idleSeconds);
    std::printf("  RSS %.1f MB signed in, %.1f MB holding, %.1f MB after the idle time\n", rssBefore, rssHeld, rssIdle);
    std::printf("  CPU while the polls wait: %.2f s in %d s\n", cpuIdle - cpuHeld, idleSeconds);
    const bool ok = held == polls && stillHeld == polls && rssIdle <= 200;
    std::printf("%s\n", ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}
