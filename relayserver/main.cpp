#include "Relay.h"
#include "RelayCommandLine.h"
#include "RelayServer.h"
#include "SqliteRelayStore.h"

#include <signal.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <mutex>

using namespace tellwire;

namespace {

std::filesystem::path defaultStateDir()
{
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state == '/')
        return std::filesystem::path(state) / "tellwire-relay";
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home && *home ? home : ".") / ".local/state/tellwire-relay";
}

// The folder holds sign-ins: only its owner may look inside.
std::unique_ptr<RelayStore> openStore(const std::filesystem::path& dir)
{
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    if (error)
        throw std::runtime_error("cannot make the state folder " + dir.string() + ": " + error.message());
    if (chmod(dir.c_str(), 0700) != 0)
        throw std::runtime_error("cannot make " + dir.string() + " private: " + std::strerror(errno));
    return std::make_unique<SqliteRelayStore>((dir / "relay.db").string());
}

} // namespace

int main(int argc, char** argv)
{
    const auto parsed = RelayCommandLine::parse({argv + 1, argv + argc});
    if (const auto* problem = std::get_if<std::string>(&parsed)) {
        std::cerr << "tellwire-relay: " << *problem << "\n" << RelayCommandLine::usage();
        return 2;
    }
    const auto& line = std::get<RelayCommandLine>(parsed);
    if (line.help) {
        std::cout << RelayCommandLine::usage();
        return 0;
    }

    // Signals are taken by sigwait below, so every thread must block them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    std::mutex console;
    RelayOptions options;
    options.fixedCode = line.fixedCode;
    options.hold = line.hold;
    options.notice = [&console](const std::string& text) {
        std::lock_guard lock(console);
        std::cout << text << std::endl;
    };
    std::unique_ptr<RelayStore> store;
    try {
        store = openStore(line.stateDir.empty() ? defaultStateDir() : std::filesystem::path(line.stateDir));
    } catch (const std::exception& problem) {
        std::cerr << "tellwire-relay: " << problem.what() << "\n";
        return 1;
    }
    Relay relay(options, std::move(store));
    RelayServer server(relay, line.tls);
    if (!server.isValid()) {
        std::cerr << "tellwire-relay: cannot load the TLS certificate " << line.tls->certificate
                  << " or key " << line.tls->privateKey << "\n";
        return 1;
    }
    const int port = server.bind(line.host, line.port);
    if (port < 0) {
        std::cerr << "tellwire-relay: cannot listen on " << line.host << ":" << line.port << ": "
                  << std::strerror(errno) << "\n";
        return 1;
    }
    {
        const bool v6 = line.host.find(':') != std::string::npos;
        std::lock_guard lock(console);
        std::cout << "listening on " << (line.tls ? "https" : "http") << "://"
                  << (v6 ? "[" + line.host + "]" : line.host) << ":" << port << std::endl;
    }
    server.start();

    int received = 0;
    sigwait(&stopSignals, &received);
    server.stop();
    return 0;
}
