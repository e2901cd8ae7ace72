#pragma once

#include "Refusal.h"
#include "RelayStore.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>

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
// bodies of every refusal; and the phone page. Event-driven on one thread of
// its own: a held poll costs a socket and a timer, not a thread.
class RelayServer {
public:
    static constexpr std::size_t maxBodyBytes = 16 * 1024;

    RelayServer(Relay& relay, const std::optional<TlsFiles>& tls = std::nullopt, Reach reach = Reach::Loopback);
    ~RelayServer();

    // False when the TLS certificate or key could not be loaded.
    bool isValid() const;
    // Binds the listening socket; port 0 picks a free one. The bound port, or
    // -1 with errno set. Connections made after this wait until start().
    int bind(const std::string& host, int port);
    // Tells line, from the server's thread, of each request as it arrives.
    void logRequests(std::function<void(const std::string&)> line);
    // Serves on a thread of its own until stop().
    void start();
    // Answers held requests, stops listening, lets the requests being
    // answered finish, and joins the thread.
    void stop();

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace tellwire
