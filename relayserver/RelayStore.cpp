#include "RelayStore.h"

namespace tellwire {

namespace asio = boost::asio;

asio::awaitable<void> RelayStore::asyncPing(std::mutex& lock)
{
    std::lock_guard locked(lock);
    ping();
    co_return;
}

asio::awaitable<std::optional<Credential>> RelayStore::asyncCredential(std::string token, std::mutex& lock)
{
    std::lock_guard locked(lock);
    co_return credential(token);
}

asio::awaitable<void> RelayStore::asyncTouch(Credential who, std::int64_t now, std::mutex& lock)
{
    std::lock_guard locked(lock);
    touch(who, now);
    co_return;
}

asio::awaitable<Event> RelayStore::asyncAppend(std::string number, EventDraft draft, std::int64_t at, std::mutex& lock)
{
    std::lock_guard locked(lock);
    co_return append(number, std::move(draft), at);
}

asio::awaitable<EventBatch> RelayStore::asyncEventsAfter(std::string number, std::int64_t cursor, std::size_t limit,
                                                         std::mutex& lock)
{
    std::lock_guard locked(lock);
    co_return eventsAfter(number, cursor, limit);
}

} // namespace tellwire
