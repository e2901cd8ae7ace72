#pragma once

#include "RedisAddress.h"

#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct redisContext;
struct redisReply;

namespace tellwire {

struct RedisReplyFree {
    void operator()(redisReply* reply) const;
};
using RedisReply = std::unique_ptr<redisReply, RedisReplyFree>;

// A reply of our own, which freeReplyObject frees like one of hiredis's.
RedisReply copyOfReply(const redisReply& reply);
// A command's arguments as hiredis's argv calls take them; they point into
// the strings, which must outlive them.
struct RedisArgv {
    explicit RedisArgv(const std::vector<std::string>& arguments);
    int count() const { return int(pointers.size()); }
    std::vector<const char*> pointers;
    std::vector<std::size_t> lengths;
};
// SHA-1 (scripts' names to Redis) and SHA-256 (stored tokens), in hex.
std::string sha1Hex(std::string_view text);
std::string sha256Hex(std::string_view text);
// An error reply that means "not now" (loading, busy, read-only) rather than a mistake of ours.
bool isPassingError(std::string_view error);

// One connection to Redis for commands, made on first use and made again
// after a failure. Not synchronised; the store's caller locks.
class RedisConnection {
public:
    RedisConnection(RedisAddress address, std::chrono::milliseconds timeout);
    ~RedisConnection();
    RedisConnection(const RedisConnection&) = delete;
    RedisConnection& operator=(const RedisConnection&) = delete;

    // The reply to one command. Throws StoreUnavailable when Redis cannot be
    // reached, does not answer in time, or is not ready to serve.
    RedisReply command(const std::vector<std::string>& arguments);
    // Runs a Lua script on the keys and arguments, as one atomic step.
    RedisReply script(const std::string& source, const std::vector<std::string>& keys,
                      const std::vector<std::string>& arguments);

private:
    void connect();
    [[noreturn]] void fail(const std::string& why);

    RedisAddress address_;
    std::chrono::milliseconds timeout_;
    redisContext* context_ = nullptr;
    std::chrono::steady_clock::time_point retryAt_{};
};

} // namespace tellwire
