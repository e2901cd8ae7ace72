#pragma once

#include "Refusal.h"
#include "RelayStore.h"

#include <nlohmann/json_fwd.hpp>

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

namespace httplib {
class Server;
struct Request;
struct Response;
class ContentReader;
} // namespace httplib

namespace tellwire {

class Relay;

struct TlsFiles {
    std::string certificate;
    std::string privateKey;
};

// Who can reach a listener. Only this machine's own: the local sign-in is
// offered, and a Host header naming anything but loopback is refused, so that
// a web page elsewhere cannot reach in through a DNS name pointed at 127.0.0.1.
enum class Reach { Loopback, Network };

// The relay's HTTP face: routes, body limits and the {"error", "message"}
// bodies of every refusal, on cpp-httplib's thread pool; and the phone page.
class RelayServer {
public:
    static constexpr std::size_t maxBodyBytes = 16 * 1024;
    static constexpr std::size_t threads = 64;

    RelayServer(Relay& relay, const std::optional<TlsFiles>& tls = std::nullopt, Reach reach = Reach::Loopback);
    ~RelayServer();

    // False when the TLS certificate or key could not be loaded.
    bool isValid() const;
    // Binds the listening socket; port 0 picks a free one. The bound port, or
    // -1. Connections made after this wait until start().
    int bind(const std::string& host, int port);
    // Tells line, from the server's threads, of each request as it arrives.
    void logRequests(std::function<void(const std::string&)> line);
    // Serves on a thread of its own until stop().
    void start();
    // Answers held requests, stops listening and joins the threads.
    void stop();

private:
    using BodyHandler =
        std::function<void(const httplib::Request&, httplib::Response&, const nlohmann::json&)>;

    void route();
    void requestCode(const httplib::Request&, httplib::Response&, const nlohmann::json&);
    void verify(const httplib::Request&, httplib::Response&, const nlohmann::json&);
    void me(const httplib::Request&, httplib::Response&);
    void readEvents(const httplib::Request&, httplib::Response&);
    void publish(const httplib::Request&, httplib::Response&, const nlohmann::json&);
    void signInLocally(const httplib::Request&, httplib::Response&, const nlohmann::json&);
    void startPairing(const httplib::Request&, httplib::Response&, const nlohmann::json&);
    void claimPairing(const httplib::Request&, httplib::Response&, const nlohmann::json&);
    void devices(const httplib::Request&, httplib::Response&);
    void removeDevice(const httplib::Request&, httplib::Response&, const nlohmann::json&);
    void page(const httplib::Request&, httplib::Response&);
    void health(const httplib::Request&, httplib::Response&);
    void metrics(const httplib::Request&, httplib::Response&);
    std::optional<Credential> caller(const httplib::Request&, httplib::Response&);
    std::function<void(const httplib::Request&, httplib::Response&, const httplib::ContentReader&)>
    withBody(BodyHandler handler);

    Relay& relay_;
    Reach reach_;
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    std::atomic<bool> listening_ = false;
    std::atomic<bool> finished_ = false;
};

} // namespace tellwire
