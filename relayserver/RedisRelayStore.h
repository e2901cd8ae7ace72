#pragma once

#include "RedisAddress.h"
#include "RedisAsyncConnection.h"
#include "RedisConnection.h"
#include "RelayStore.h"

#include <memory>
#include <mutex>
#include <string>

namespace tellwire {

class RedisAppendWatcher;

// The relay's state in Redis, shared by every relay pointed at it: any of
// them answers any request. Each change is one Lua script, so relays never
// see one another's half-done work. Tokens and pairing secrets are kept as
// their SHA-256; events, codes and idle accounts expire. Every relay hears
// of each append on a pub/sub channel.
class RedisRelayStore final : public RelayStore {
public:
    explicit RedisRelayStore(const RedisAddress& address);
    ~RedisRelayStore() override;

    void setLimits(const RelayLimits& limits) override;
    void ping() override;
    void bind(const std::string& token, const Credential& who, const std::string& name, std::int64_t now) override;
    std::optional<Credential> credential(const std::string& token) override;
    void touch(const Credential& who, std::int64_t now) override;
    std::vector<Device> devices(const std::string& number) override;
    bool removeDevice(const std::string& number, const std::string& deviceId) override;
    void addPairing(const std::string& secret, const std::string& number, std::int64_t expiresAt) override;
    std::optional<std::string> claimPairing(const std::string& secret, std::int64_t now) override;
    bool addCode(const std::string& number, const std::string& code, std::int64_t now) override;
    bool redeemCode(const std::string& number, const std::string& code, std::int64_t now) override;
    Event append(const std::string& number, EventDraft draft, std::int64_t at) override;
    EventBatch eventsAfter(const std::string& number, std::int64_t cursor, std::size_t limit) override;
    void watchAppends(std::function<void(const std::string&)> appended) override;

    boost::asio::awaitable<void> asyncPing(std::mutex& lock) override;
    boost::asio::awaitable<std::optional<Credential>> asyncCredential(std::string token, std::mutex& lock) override;
    boost::asio::awaitable<void> asyncTouch(Credential who, std::int64_t now, std::mutex& lock) override;
    boost::asio::awaitable<Event> asyncAppend(std::string number, EventDraft draft, std::int64_t at,
                                              std::mutex& lock) override;
    boost::asio::awaitable<EventBatch> asyncEventsAfter(std::string number, std::int64_t cursor, std::size_t limit,
                                                        std::mutex& lock) override;
    boost::asio::awaitable<void> asyncBind(std::string token, Credential who, std::string name, std::int64_t now,
                                           std::mutex& lock) override;
    boost::asio::awaitable<std::vector<Device>> asyncDevices(std::string number, std::mutex& lock) override;
    boost::asio::awaitable<bool> asyncRemoveDevice(std::string number, std::string deviceId, std::mutex& lock) override;
    boost::asio::awaitable<void> asyncAddPairing(std::string secret, std::string number, std::int64_t expiresAt,
                                                 std::mutex& lock) override;
    boost::asio::awaitable<std::optional<std::string>> asyncClaimPairing(std::string secret, std::int64_t now,
                                                                         std::mutex& lock) override;
    boost::asio::awaitable<bool> asyncAddCode(std::string number, std::string code, std::int64_t now,
                                              std::mutex& lock) override;
    boost::asio::awaitable<bool> asyncRedeemCode(std::string number, std::string code, std::int64_t now,
                                                 std::mutex& lock) override;

private:
    // This thread's connection for the awaited calls.
    boost::asio::awaitable<RedisAsyncConnection*> connection();
    std::vector<std::string> touchArguments(const Credential& who, std::int64_t now) const;
    std::vector<std::string> appendArguments(const std::string& number, const EventDraft& draft, std::int64_t at) const;

    RedisAddress address_;
    std::string channel_;
    RedisConnection redis_;
    RelayLimits limits_;
    std::unique_ptr<RedisAppendWatcher> watcher_;
};

} // namespace tellwire
