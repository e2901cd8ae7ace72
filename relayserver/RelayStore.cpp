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

asio::awaitable<void> RelayStore::asyncBind(std::string token, Credential who, std::string name, std::int64_t now,
                                            std::mutex& lock)
{
    std::lock_guard locked(lock);
    bind(token, who, name, now);
    co_return;
}

asio::awaitable<std::vector<Device>> RelayStore::asyncDevices(std::string number, std::mutex& lock)
{
    std::lock_guard locked(lock);
    co_return devices(number);
}

asio::awaitable<bool> RelayStore::asyncRemoveDevice(std::string number, std::string deviceId, std::mutex& lock)
{
    std::lock_guard locked(lock);
    co_return removeDevice(number, deviceId);
}

asio::awaitable<void> RelayStore::asyncAddPairing(std::string secret, std::string number, std::int64_t expiresAt,
                                                  std::mutex& lock)
{
    std::lock_guard locked(lock);
    addPairing(secret, number, expiresAt);
    co_return;
}

asio::awaitable<std::optional<std::string>> RelayStore::asyncClaimPairing(std::string secret, std::int64_t now,
                                                                          std::mutex& lock)
{
    std::lock_guard locked(lock);
    co_return claimPairing(secret, now);
}

asio::awaitable<bool> RelayStore::asyncAddCode(std::string number, std::string code, std::int64_t now, std::mutex& lock)
{
    std::lock_guard locked(lock);
    co_return addCode(number, code, now);
}

asio::awaitable<bool> RelayStore::asyncRedeemCode(std::string number, std::string code, std::int64_t now,
                                                  std::mutex& lock)
{
    std::lock_guard locked(lock);
    co_return redeemCode(number, code, now);
}

} // namespace tellwire
