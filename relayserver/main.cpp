#include "Relay.h"
#include "RelayCommandLine.h"
#include "RelayServer.h"
#include "NetworkAddresses.h"
#include "RandomSource.h"
#include "SelfSignedCertificate.h"
#include "RedisRelayStore.h"
#include "SqliteRelayStore.h"

#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
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
void makePrivateFolder(const std::filesystem::path& dir)
{
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    if (error)
        throw std::runtime_error("cannot make the state folder " + dir.string() + ": " + error.message());
    if (chmod(dir.c_str(), 0700) != 0)
        throw std::runtime_error("cannot make " + dir.string() + " private: " + std::strerror(errno));
}

// The secret this user's desktop signs in with, made at first start; like
// every file of the relay, only its owner can read it.
std::string localSecret(const std::filesystem::path& dir)
{
    const auto path = dir / "local-secret";
    std::ifstream existing(path);
    std::string secret;
    if (existing >> secret && secret.size() == 64)
        return secret;
    secret = RandomSource::hex(32);
    const auto temporary = dir / "local-secret.new";
    std::ofstream(temporary, std::ios::trunc) << secret << "\n";
    std::filesystem::rename(temporary, path);
    return secret;
}

// Runs the command with number and code as arguments, never through a shell;
// the child is reaped by the kernel (SIGCHLD is ignored).
void textCode(const std::string& command, const std::string& number, const std::string& code)
{
    std::vector<char*> argv{const_cast<char*>(command.c_str()), const_cast<char*>(number.c_str()),
                            const_cast<char*>(code.c_str()), nullptr};
    pid_t child = 0;
    if (const int error = posix_spawnp(&child, command.c_str(), nullptr, nullptr, argv.data(), environ))
        std::cerr << "tellwire-relay: cannot run " << command << ": " << std::strerror(error) << std::endl;
}

struct Listener {
    std::string host;
    int port = 0;
    Reach reach = Reach::Loopback;
    std::optional<TlsFiles> tls;
    std::unique_ptr<RelayServer> server;
    int boundPort = -1;

    std::string origin() const
    {
        const bool v6 = host.find(':') != std::string::npos;
        return std::string(tls ? "https" : "http") + "://" + (v6 ? "[" + host + "]" : host) + ":"
            + std::to_string(boundPort);
    }
};

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

    // Sign-ins, secrets and keys: nothing the relay writes is for other users.
    umask(077);

    // Signals are taken by sigwait below, so every thread must block them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);
    signal(SIGCHLD, SIG_IGN);
    // Every held poll keeps a socket open.
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }

    // Off loopback only HTTPS, with a certificate made at first start unless one is given.
    std::vector<Listener> listeners;
    const bool primaryLoopback = RelayCommandLine::isLoopback(line.host);
    listeners.push_back({line.host, line.port, primaryLoopback ? Reach::Loopback : Reach::Network, line.tls, {}});
    if (line.lan)
        listeners.push_back({line.lan->first, line.lan->second, Reach::Network, line.tls, {}});

    std::mutex console;
    RelayOptions options;
    options.fixedCode = line.fixedCode;
    options.hold = line.hold;
    options.notice = [&console](const std::string& text) {
        std::lock_guard lock(console);
        std::cout << text << std::endl;
    };
    if (!line.smsCommand.empty())
        options.sendCode = [command = line.smsCommand](const std::string& number, const std::string& code) {
            textCode(command, number, code);
        };
    std::unique_ptr<RelayStore> store;
    try {
        const std::filesystem::path state = line.stateDir.empty() ? defaultStateDir() : std::filesystem::path(line.stateDir);
        makePrivateFolder(state);
        if (line.redis)
            store = std::make_unique<RedisRelayStore>(*line.redis);
        else
            store = std::make_unique<SqliteRelayStore>((state / "relay.db").string());
        options.localSecret = localSecret(state);
        for (Listener& listener : listeners) {
            if (listener.reach == Reach::Network && !listener.tls) {
                std::vector<std::string> addresses = networkAddresses();
                if (listener.host.find_first_not_of("0123456789.") == std::string::npos && listener.host != "0.0.0.0")
                    addresses.push_back(listener.host);
                listener.tls = SelfSignedCertificate::ensure(state, addresses);
            }
            if (listener.reach == Reach::Network)
                options.fingerprint = SelfSignedCertificate::fingerprint(listener.tls->certificate);
        }
    } catch (const std::exception& problem) {
        std::cerr << "tellwire-relay: " << problem.what() << "\n";
        return 1;
    }
    options.phoneOrigins = [&listeners] {
        std::vector<std::string> origins;
        for (const Listener& listener : listeners) {
            if (listener.reach != Reach::Network)
                continue;
            const bool anywhere = listener.host == "0.0.0.0" || listener.host == "::";
            for (const std::string& host : anywhere ? networkAddresses() : std::vector<std::string>{listener.host})
                origins.push_back(Listener{host, 0, Reach::Network, listener.tls, {}, listener.boundPort}.origin());
        }
        return origins;
    };

    Relay relay(options, std::move(store));
    // The servers refer to the relay, so they go before it on every way out.
    struct ServersFirst {
        std::vector<Listener>& listeners;
        ~ServersFirst()
        {
            for (Listener& listener : listeners)
                listener.server.reset();
        }
    } serversFirst{listeners};
    for (Listener& listener : listeners) {
        listener.server = std::make_unique<RelayServer>(relay, listener.tls, listener.reach);
        if (!listener.server->isValid()) {
            std::cerr << "tellwire-relay: cannot load the TLS certificate " << listener.tls->certificate
                      << " or key " << listener.tls->privateKey << "\n";
            return 1;
        }
        if (line.logRequests)
            listener.server->logRequests(options.notice);
        listener.boundPort = listener.server->bind(listener.host, listener.port);
        if (listener.boundPort < 0) {
            std::cerr << "tellwire-relay: cannot listen on " << listener.host << ":" << listener.port << ": "
                      << std::strerror(errno) << "\n";
            return 1;
        }
    }
    {
        std::lock_guard lock(console);
        for (const Listener& listener : listeners)
            std::cout << "listening on " << listener.origin() << std::endl;
        if (!options.fingerprint.empty())
            std::cout << "certificate " << options.fingerprint << std::endl;
    }
    for (Listener& listener : listeners)
        listener.server->start();

    int received = 0;
    sigwait(&stopSignals, &received);
    for (Listener& listener : listeners)
        listener.server->stop();
    return 0;
}
