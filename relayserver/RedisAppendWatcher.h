#pragma once

#include "RedisAddress.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

struct redisContext;

namespace tellwire {

// Listens on a Redis channel on a thread of its own and tells each message
// (an account number) as it comes. When the subscription breaks it tells ""
// (messages may have been missed) once it is back.
class RedisAppendWatcher {
public:
    RedisAppendWatcher(RedisAddress address, std::string channel, std::function<void(const std::string&)> appended);
    // Returns once the thread has stopped; nothing is told after that.
    ~RedisAppendWatcher();

private:
    void run();
    // One subscription, until it breaks or the watcher stops.
    void listen(redisContext* context);

    RedisAddress address_;
    std::string channel_;
    std::function<void(const std::string&)> appended_;
    std::mutex mutex_;
    std::condition_variable stopped_;
    bool stopping_ = false;
    redisContext* context_ = nullptr; // the subscription, shut down to stop
    std::thread thread_;
};

} // namespace tellwire
