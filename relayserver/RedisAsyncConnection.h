#pragma once

#include "RedisAddress.h"
#include "RedisConnection.h"

#include <boost/asio/awaitable.hpp>
#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/posix/stream_descriptor.hpp>

#include <chrono>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

struct redisAsyncContext;

namespace tellwire {

// Commands to Redis from the coroutines of one io_context, on a connection
// whose socket that io_context watches (hiredis's asynchronous context): no
// thread waits for a reply, and the commands of many requests are in flight
// at once. Used on the io_context's thread only.
class RedisAsyncConnection {
public:
    // The connection of the executor's io_context to the Redis at `address`,
    // made on first use; it lasts as long as the io_context.
    static RedisAsyncConnection& of(const boost::asio::any_io_executor& executor, const RedisAddress& address,
                                    std::chrono::milliseconds timeout);

    RedisAsyncConnection(boost::asio::any_io_executor executor, RedisAddress address, std::chrono::milliseconds timeout);
    ~RedisAsyncConnection();
    RedisAsyncConnection(const RedisAsyncConnection&) = delete;
    RedisAsyncConnection& operator=(const RedisAsyncConnection&) = delete;

    // The reply to one command. Throws StoreUnavailable when Redis cannot be
    // reached, is not ready to serve, or does not answer within the timeout;
    // then the connection ends, failing every command in flight on it.
    boost::asio::awaitable<RedisReply> command(std::vector<std::string> arguments);
    // Runs a Lua script on the keys and arguments, as one atomic step. The
    // script is sent by its SHA-1 once Redis knows it; `source` must outlive the connection.
    boost::asio::awaitable<RedisReply> script(const char* source, std::vector<std::string> keys,
                                              std::vector<std::string> arguments);

private:
    struct Pending;
    static void answered(redisAsyncContext* context, void* reply, void* pending);

    void connect();
    [[noreturn]] void fail(const std::string& why);
    std::string where() const;
    // Keeps one wait for the socket to be readable (or writable) while hiredis
    // wants it; readable only while commands are in flight, so that an idle
    // connection leaves its io_context free to run out of work and return.
    void watch(bool read);
    void ended();

    boost::asio::any_io_executor executor_;
    RedisAddress address_;
    std::chrono::milliseconds timeout_;
    redisAsyncContext* context_ = nullptr;
    boost::asio::posix::stream_descriptor socket_;
    std::uint64_t generation_ = 0; // of the context; waits of an ended one are ignored
    bool wantsRead_ = false, wantsWrite_ = false;
    bool waitsRead_ = false, waitsWrite_ = false;
    std::size_t inFlight_ = 0;
    std::unordered_map<const char*, std::string> scriptHashes_;
    std::chrono::steady_clock::time_point retryAt_{};
};

} // namespace tellwire
