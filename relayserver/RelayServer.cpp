#include "RelayServer.h"

#include "Relay.h"
#include "RelayRoutes.h"

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>

#include <array>
#include <cerrno>
#include <cstdint>
#include <list>
#include <random>
#include <thread>
#include <unordered_map>

namespace tellwire {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using asio::ip::tcp;

namespace {

constexpr auto tuple = asio::as_tuple(asio::use_awaitable);
// A client gets this long to send a request's headers and body, or to take a reply.
constexpr std::chrono::seconds transferTimeout{30};
// A connection with no request in flight is closed after this long.
constexpr std::chrono::seconds idleTimeout{120};
// How much of an oversized body is read and thrown away before giving up on it.
constexpr std::size_t maxDrainedBytes = 1 << 20;

http::response<http::string_body> toResponse(const HttpReply& reply, bool keepAlive, bool head)
{
    http::response<http::string_body> response{static_cast<http::status>(reply.status), 11};
    response.set(http::field::content_type, reply.contentType);
    for (const auto& [name, value] : reply.headers)
        response.set(name, value);
    response.body() = reply.body;
    response.keep_alive(keepAlive && !reply.close);
    response.prepare_payload();
    if (head)
        response.body().clear(); // Content-Length still tells the size of a GET
    return response;
}

} // namespace

class RelayServer::Impl {
public:
    Impl(Relay& relay, const std::optional<TlsFiles>& tls, Reach reach)
        : relay_(relay)
        , routes_(relay, reach)
    {
        if (tls) {
            tls_.emplace(asio::ssl::context::tls_server);
            boost::system::error_code error;
            tls_->set_options(asio::ssl::context::default_workarounds | asio::ssl::context::no_sslv2
                              | asio::ssl::context::no_sslv3 | asio::ssl::context::no_tlsv1
                              | asio::ssl::context::no_tlsv1_1);
            tls_->use_certificate_chain_file(tls->certificate, error);
            if (!error)
                tls_->use_private_key_file(tls->privateKey, asio::ssl::context::pem, error);
            valid_ = !error;
        }
        // Every publish, here or on another relay, and the stop: the held polls of that account look again.
        listener_ = relay_.addWakeListener([this](const std::string& number) {
            asio::post(io_, [this, number] { wake(number); });
        });
    }

    ~Impl()
    {
        relay_.removeWakeListener(listener_);
    }

    bool valid_ = true;
    std::optional<asio::ssl::context> tls_;
    std::function<void(const std::string&)> logLine_;
    asio::io_context io_{1};
    tcp::acceptor acceptor_{io_};
    std::thread thread_;
    bool started_ = false;

    int bind(const std::string& host, int port)
    {
        boost::system::error_code error;
        tcp::resolver resolver(io_);
        const auto endpoints = resolver.resolve(host, std::to_string(port), tcp::resolver::numeric_service, error);
        if (error || endpoints.empty()) {
            errno = EADDRNOTAVAIL;
            return -1;
        }
        const tcp::endpoint endpoint = *endpoints.begin();
        acceptor_.open(endpoint.protocol(), error);
        if (!error)
            acceptor_.set_option(asio::socket_base::reuse_address(true), error);
        if (!error)
            acceptor_.bind(endpoint, error);
        if (!error)
            acceptor_.listen(asio::socket_base::max_listen_connections, error);
        if (error) {
            errno = error.value();
            acceptor_.close();
            return -1;
        }
        return acceptor_.local_endpoint().port();
    }

    void start()
    {
        started_ = true;
        asio::co_spawn(io_, accept(), asio::detached);
        thread_ = std::thread([this] { io_.run(); });
    }

    void stop()
    {
        relay_.stop();
        if (!started_)
            return;
        asio::post(io_, [this] {
            stopping_ = true;
            acceptor_.close();
            // Connections waiting for their next request end now; the others
            // end after the reply they are making.
            for (beast::tcp_stream* idle : idle_)
                idle->socket().close();
        });
        thread_.join();
        started_ = false;
    }

private:
    asio::awaitable<void> accept()
    {
        for (;;) {
            auto [error, socket] = co_await acceptor_.async_accept(tuple);
            if (stopping_ || error == asio::error::operation_aborted)
                co_return;
            if (error) {
                // Out of descriptors, most likely: pause instead of spinning.
                asio::steady_timer pause(io_, std::chrono::milliseconds(100));
                co_await pause.async_wait(tuple);
                continue;
            }
            socket.set_option(tcp::no_delay(true));
            if (tls_)
                asio::co_spawn(io_, secureSession(beast::ssl_stream<beast::tcp_stream>(std::move(socket), *tls_)),
                               asio::detached);
            else
                asio::co_spawn(io_, session(beast::tcp_stream(std::move(socket))), asio::detached);
        }
    }

    asio::awaitable<void> secureSession(beast::ssl_stream<beast::tcp_stream> stream)
    {
        beast::get_lowest_layer(stream).expires_after(transferTimeout);
        auto [error] = co_await stream.async_handshake(asio::ssl::stream_base::server, tuple);
        if (error)
            co_return;
        co_await serve(stream);
        beast::get_lowest_layer(stream).expires_after(std::chrono::seconds(5));
        co_await stream.async_shutdown(tuple);
    }

    asio::awaitable<void> session(beast::tcp_stream stream)
    {
        co_await serve(stream);
        boost::system::error_code ignored;
        stream.socket().shutdown(tcp::socket::shutdown_send, ignored);
    }

    template <typename Stream>
    asio::awaitable<void> serve(Stream& stream)
    {
        beast::tcp_stream& lowest = beast::get_lowest_layer(stream);
        beast::flat_buffer buffer;
        while (!stopping_) {
            http::request_parser<http::string_body> parser;
            parser.body_limit(RelayServer::maxBodyBytes);
            parser.header_limit(16 * 1024);
            // Idle until the first byte, then a deadline for the whole request.
            lowest.expires_after(idleTimeout);
            idle_.push_back(&lowest);
            const auto idleEntry = std::prev(idle_.end());
            auto [readError, read] = co_await http::async_read_header(stream, buffer, parser, tuple);
            idle_.erase(idleEntry);
            if (!readError && !parser.is_done()) {
                lowest.expires_after(transferTimeout);
                std::tie(readError, read) = co_await http::async_read(stream, buffer, parser, tuple);
            }
            if (readError == http::error::body_limit) {
                co_await reply(stream, RelayRoutes::refusal(Refusal::tooLarge()), false, false);
                co_await drain(stream, buffer);
                co_return;
            }
            if (readError == http::error::end_of_stream || readError == beast::error::timeout
                || readError == asio::error::operation_aborted || readError == asio::error::connection_reset
                || readError == asio::error::eof || readError == asio::error::bad_descriptor)
                co_return;
            if (readError) {
                HttpReply bad = RelayRoutes::refusal(Refusal::forStatus(400));
                co_await reply(stream, bad, false, false);
                co_return;
            }
            const auto& message = parser.get();
            HttpRequest request{std::string(message.method_string()), std::string(message.target()),
                                std::string(message[http::field::host]),
                                std::string(message[http::field::authorization]), message.body()};
            if (logLine_)
                logLine_(RelayRoutes::arrivalLine(request));
            const auto arrived = std::chrono::steady_clock::now();
            lowest.expires_never();
            const std::uint64_t wakesBefore = wakes_;
            auto handled = co_await routes_.handle(request);
            HttpReply answer;
            if (auto* held = std::get_if<HeldPoll>(&handled))
                answer = co_await hold(*held, wakesBefore);
            else
                answer = std::move(std::get<HttpReply>(handled));
            relay_.metrics().countRequest(request.method, request.target.substr(0, request.target.find('?')),
                                          answer.status);
            if (logLine_)
                logLine_(RelayRoutes::answerLine(request, answer.status,
                                                 std::chrono::duration_cast<std::chrono::microseconds>(
                                                     std::chrono::steady_clock::now() - arrived)));
            if (!co_await reply(stream, answer, message.keep_alive(), message.method() == http::verb::head))
                co_return;
            if (answer.close || !message.keep_alive())
                co_return;
        }
    }

    // True when the reply went out whole.
    template <typename Stream>
    asio::awaitable<bool> reply(Stream& stream, const HttpReply& answer, bool keepAlive, bool head)
    {
        auto response = toResponse(answer, keepAlive && !stopping_, head);
        beast::get_lowest_layer(stream).expires_after(transferTimeout);
        auto [error, written] = co_await http::async_write(stream, response, tuple);
        co_return !error;
    }

    // Reads on a while without keeping anything, so that the client is not
    // reset before it can read the refusal.
    template <typename Stream>
    asio::awaitable<void> drain(Stream& stream, beast::flat_buffer& buffer)
    {
        beast::get_lowest_layer(stream).expires_after(std::chrono::seconds(2));
        std::size_t drained = 0;
        while (drained <= maxDrainedBytes) {
            buffer.consume(buffer.size());
            auto [error, read] = co_await stream.async_read_some(buffer.prepare(64 * 1024), tuple);
            if (error)
                break;
            drained += read;
        }
    }

    // Holds the poll until its account has news, the hold runs out or the relay
    // stops. `since`: the wakes counted before the poll's first read.
    asio::awaitable<HttpReply> hold(const HeldPoll& poll, std::uint64_t since)
    {
        if (!relay_.holdPoll())
            co_return RelayRoutes::refusal(Refusal::busy());
        // Between three quarters of the hold and all of it, so that polls begun
        // together (desktops back after a restart) do not all end together.
        const auto hold = relay_.hold() - relay_.hold() * std::uniform_int_distribution(0, 255)(random_) / 1024;
        const auto deadline = std::chrono::steady_clock::now() + hold;
        asio::steady_timer timer(io_, deadline);
        const auto entry = held_.emplace(poll.who.number, &timer);
        std::optional<HttpReply> answer;
        // A wake that came while a read was on its way to the store found no
        // timer to end: the read may have missed its event, so it is made again.
        bool look = wokenSince(poll.who.number, since);
        while (!answer) {
            if (!look) {
                auto [error] = co_await timer.async_wait(tuple);
                // Ran out unwoken: nothing to read.
                if (!error && !stopping_) {
                    answer = RelayRoutes::ranOut(poll);
                    break;
                }
            }
            since = wakes_;
            answer = co_await routes_.lookAgain(poll, std::chrono::steady_clock::now() >= deadline || stopping_);
            look = wokenSince(poll.who.number, since);
            timer.expires_at(deadline);
        }
        held_.erase(entry);
        relay_.releasePoll();
        co_return *answer;
    }

    static std::size_t bucketOf(const std::string& number) { return std::hash<std::string>()(number) % 4096; }

    // Whether the account (or every account) was woken after `since` wakes: a
    // bucket shared with other accounts may say so needlessly, never wrongly not.
    bool wokenSince(const std::string& number, std::uint64_t since) const
    {
        return lastWakeOfAll_ > since || lastWake_[bucketOf(number)] > since;
    }

    void wake(const std::string& number)
    {
        ++wakes_;
        if (number.empty()) {
            lastWakeOfAll_ = wakes_;
            for (auto& [account, timer] : held_)
                timer->cancel();
            return;
        }
        lastWake_[bucketOf(number)] = wakes_;
        const auto [first, last] = held_.equal_range(number);
        for (auto it = first; it != last; ++it)
            it->second->cancel();
    }

    Relay& relay_;
    RelayRoutes routes_;
    std::size_t listener_ = 0;
    bool stopping_ = false;
    std::list<beast::tcp_stream*> idle_;
    std::unordered_multimap<std::string, asio::steady_timer*> held_;
    std::uint64_t wakes_ = 0;
    std::uint64_t lastWakeOfAll_ = 0; // the count of wakes at the last one for every account
    std::array<std::uint64_t, 4096> lastWake_{}; // by a hash of the account number

    std::minstd_rand random_{std::random_device()()};
};

RelayServer::RelayServer(Relay& relay, const std::optional<TlsFiles>& tls, Reach reach)
    : impl_(std::make_unique<Impl>(relay, tls, reach))
{
}

RelayServer::~RelayServer()
{
    stop();
}

bool RelayServer::isValid() const
{
    return impl_->valid_;
}

int RelayServer::bind(const std::string& host, int port)
{
    return impl_->bind(host, port);
}

void RelayServer::logRequests(std::function<void(const std::string&)> line)
{
    impl_->logLine_ = std::move(line);
}

void RelayServer::start()
{
    impl_->start();
}

void RelayServer::stop()
{
    impl_->stop();
}

} // namespace tellwire
