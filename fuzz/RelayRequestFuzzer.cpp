// Raw bytes on a connection to the relay: request lines, headers, query
// strings and bodies, one or more requests per connection. "{desktop}" and
// "{phone}" in the input stand for tokens signed in beforehand, so that the
// fuzzer reaches past the authorization check. The relay must answer and
// stay up; the sanitizers catch the rest.
#include "Relay.h"
#include "RelayServer.h"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/use_future.hpp>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace tellwire;

namespace {

void require(bool condition, const char* what)
{
    if (!condition) {
        fprintf(stderr, "fuzz_relay_requests: %s\n", what);
        std::abort();
    }
}

template <typename T>
T awaited(boost::asio::awaitable<T> call)
{
    boost::asio::io_context io;
    auto result = boost::asio::co_spawn(io, std::move(call), boost::asio::use_future);
    io.run();
    return result.get();
}

struct LiveRelay {
    Relay relay{RelayOptions{.fixedCode = "123456", .hold = std::chrono::milliseconds(0)}};
    RelayServer server{relay};
    int port = server.bind("127.0.0.1", 0);
    std::string desktop = token("desktop"), phone = token("phone");

    LiveRelay() { server.start(); }

    std::string token(const char* role)
    {
        require(std::holds_alternative<std::string>(awaited(relay.requestCode("13800138000"))), "no code");
        const auto issued = awaited(relay.verify("13800138000", "123456", role, std::string("fuzz-") + role));
        require(std::holds_alternative<std::string>(issued), "no sign-in");
        return std::get<std::string>(issued);
    }
};

void replaceAll(std::string& text, const std::string& from, const std::string& to)
{
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static LiveRelay live;
    require(live.port > 0, "the relay cannot listen");
    std::string request(reinterpret_cast<const char*>(data), size);
    replaceAll(request, "{desktop}", live.desktop);
    replaceAll(request, "{phone}", live.phone);

    const int sock = socket(AF_INET, SOCK_STREAM, 0);
    // Each run from another loopback address: closed connections linger in
    // TIME_WAIT, and from one address the ports would run out within a minute.
    static std::uint32_t runs = 0;
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl(0x7f010000u + (++runs & 0xffffu));
    require(bind(sock, reinterpret_cast<sockaddr*>(&from), sizeof from) == 0, "no local address");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(std::uint16_t(live.port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // libFuzzer's timeout alarm may interrupt connect(); the connection then completes on its own.
    int connected = connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof address);
    if (connected != 0 && errno == EINTR) {
        pollfd writable{sock, POLLOUT, 0};
        int error = 0;
        socklen_t size = sizeof error;
        while (poll(&writable, 1, 10000) < 0 && errno == EINTR) {
        }
        connected = getsockopt(sock, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0 ? 0 : (errno = error, -1);
    }
    if (connected != 0) {
        fprintf(stderr, "fuzz_relay_requests: the relay is gone: %s\n", strerror(errno));
        std::abort();
    }
    for (std::size_t sent = 0; sent < request.size();) {
        const ssize_t n = send(sock, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break; // the relay may close early on a refused request
        sent += std::size_t(n);
    }
    shutdown(sock, SHUT_WR);
    char reply[4096];
    for (ssize_t n = 1; n > 0 || (n < 0 && errno == EINTR);)
        n = recv(sock, reply, sizeof reply, 0);
    close(sock);
    return 0;
}
