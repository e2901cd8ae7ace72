#include "RedisConnection.h"

#include "RelayStore.h"

#include <hiredis/hiredis.h>
#include <openssl/evp.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <new>

namespace tellwire {

namespace {

// After a failed attempt requests fail at once for this long, instead of each
// waiting out a Redis that is down or hanging.
constexpr std::chrono::milliseconds retryPause{200};

timeval timevalOf(std::chrono::milliseconds duration)
{
    return {static_cast<time_t>(duration.count() / 1000), static_cast<suseconds_t>(duration.count() % 1000 * 1000)};
}

std::string digestHex(std::string_view text, const EVP_MD* kind)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(text.data(), text.size(), digest, &size, kind, nullptr) != 1)
        throw std::runtime_error("digest failed");
    static constexpr char hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned int i = 0; i < size; ++i)
        out += {hex[digest[i] >> 4], hex[digest[i] & 15]};
    return out;
}

} // namespace

RedisArgv::RedisArgv(const std::vector<std::string>& arguments)
{
    for (const std::string& argument : arguments) {
        pointers.push_back(argument.data());
        lengths.push_back(argument.size());
    }
}

std::string sha1Hex(std::string_view text)
{
    return digestHex(text, EVP_sha1());
}

std::string sha256Hex(std::string_view text)
{
    return digestHex(text, EVP_sha256());
}

bool isPassingError(std::string_view error)
{
    for (std::string_view passing : {"LOADING", "BUSY", "MISCONF", "READONLY", "MASTERDOWN", "TRYAGAIN"})
        if (error.starts_with(passing))
            return true;
    return false;
}

RedisReply copyOfReply(const redisReply& reply)
{
    RedisReply copy(static_cast<redisReply*>(std::calloc(1, sizeof(redisReply))));
    if (!copy)
        throw std::bad_alloc();
    copy->type = reply.type;
    copy->integer = reply.integer;
    if (reply.str) {
        copy->str = static_cast<char*>(std::malloc(reply.len + 1));
        if (!copy->str)
            throw std::bad_alloc();
        std::memcpy(copy->str, reply.str, reply.len);
        copy->str[reply.len] = '\0';
        copy->len = reply.len;
    }
    if (reply.elements > 0) {
        copy->element = static_cast<redisReply**>(std::calloc(reply.elements, sizeof(redisReply*)));
        if (!copy->element)
            throw std::bad_alloc();
        copy->elements = reply.elements;
        for (std::size_t i = 0; i < reply.elements; ++i)
            copy->element[i] = copyOfReply(*reply.element[i]).release();
    }
    return copy;
}

void RedisReplyFree::operator()(redisReply* reply) const
{
    freeReplyObject(reply);
}

RedisConnection::RedisConnection(RedisAddress address, std::chrono::milliseconds timeout)
    : address_(std::move(address))
    , timeout_(timeout)
{
}

RedisConnection::~RedisConnection()
{
    if (context_)
        redisFree(context_);
}

void RedisConnection::fail(const std::string& why)
{
    if (context_)
        redisFree(context_);
    context_ = nullptr;
    retryAt_ = std::chrono::steady_clock::now() + retryPause;
    throw StoreUnavailable("redis " + address_.host + ":" + std::to_string(address_.port) + ": " + why);
}

void RedisConnection::connect()
{
    if (std::chrono::steady_clock::now() < retryAt_)
        throw StoreUnavailable("redis " + address_.host + ":" + std::to_string(address_.port) + ": down a moment ago");
    context_ = redisConnectWithTimeout(address_.host.c_str(), address_.port, timevalOf(timeout_));
    if (!context_ || context_->err)
        fail(context_ ? context_->errstr : "out of memory");
    redisSetTimeout(context_, timevalOf(timeout_));
    redisEnableKeepAlive(context_);
    if (address_.database != 0)
        command({"SELECT", std::to_string(address_.database)});
}

RedisReply RedisConnection::command(const std::vector<std::string>& arguments)
{
    if (!context_)
        connect();
    RedisArgv argv(arguments);
    RedisReply reply(static_cast<redisReply*>(
        redisCommandArgv(context_, argv.count(), argv.pointers.data(), argv.lengths.data())));
    if (!reply)
        fail(context_->errstr);
    if (reply->type == REDIS_REPLY_ERROR) {
        const std::string error(reply->str, reply->len);
        if (isPassingError(error))
            fail(error);
        throw std::runtime_error("redis: " + error);
    }
    return reply;
}

RedisReply RedisConnection::script(const std::string& source, const std::vector<std::string>& keys,
                                   const std::vector<std::string>& arguments)
{
    std::vector<std::string> call{"EVAL", source, std::to_string(keys.size())};
    call.insert(call.end(), keys.begin(), keys.end());
    call.insert(call.end(), arguments.begin(), arguments.end());
    return command(call);
}

} // namespace tellwire
