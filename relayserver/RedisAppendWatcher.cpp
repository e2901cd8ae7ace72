#include "RedisAppendWatcher.h"

#include <hiredis/hiredis.h>

#include <sys/socket.h>

#include <chrono>
#include <memory>

namespace tellwire {

namespace {

// Between attempts to reach a Redis that is down.
constexpr std::chrono::milliseconds reconnectPause{250};

} // namespace

RedisAppendWatcher::RedisAppendWatcher(RedisAddress address, std::string channel,
                                       std::function<void(const std::string&)> appended)
    : address_(std::move(address))
    , channel_(std::move(channel))
    , appended_(std::move(appended))
    , thread_([this] { run(); })
{
}

RedisAppendWatcher::~RedisAppendWatcher()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        // Ends the blocking read of the subscription.
        if (context_)
            shutdown(context_->fd, SHUT_RDWR);
    }
    stopped_.notify_all();
    thread_.join();
}

void RedisAppendWatcher::run()
{
    for (;;) {
        redisContext* context = redisConnectWithTimeout(address_.host.c_str(), address_.port, {1, 0});
        if (context && !context->err) {
            // Messages come whenever they come: no read deadline; keepalive
            // notices a Redis that vanished.
            redisSetTimeout(context, {0, 0});
            redisEnableKeepAlive(context);
            listen(context);
        }
        {
            std::unique_lock lock(mutex_);
            context_ = nullptr;
            if (context)
                redisFree(context);
            if (stopped_.wait_for(lock, reconnectPause, [this] { return stopping_; }))
                return;
        }
    }
}

void RedisAppendWatcher::listen(redisContext* context)
{
    {
        std::lock_guard lock(mutex_);
        if (stopping_)
            return;
        context_ = context;
    }
    const auto reply = [context] {
        void* raw = nullptr;
        redisGetReply(context, &raw);
        return std::unique_ptr<redisReply, void (*)(void*)>(static_cast<redisReply*>(raw), freeReplyObject);
    };
    freeReplyObject(redisCommand(context, "SUBSCRIBE %b", channel_.data(), channel_.size()));
    if (context->err)
        return;
    // Appends made while no subscription was there went unheard.
    appended_("");
    for (;;) {
        const auto message = reply();
        if (!message)
            return;
        if (message->type == REDIS_REPLY_ARRAY && message->elements == 3
            && message->element[2]->type == REDIS_REPLY_STRING)
            appended_(std::string(message->element[2]->str, message->element[2]->len));
    }
}

} // namespace tellwire
