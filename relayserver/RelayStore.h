#pragma once

#include "EventLog.h"
#include "RelayOptions.h"

#include <boost/asio/awaitable.hpp>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace tellwire {

// Who a bearer token speaks for.
struct Credential {
    std::string number;
    std::string role; // "desktop" or "phone"
    std::string deviceId;

    friend bool operator==(const Credential&, const Credential&) = default;
};

// A signed-in device as the desktop lists it.
struct Device {
    std::string deviceId;
    std::string role;
    std::string name;
    std::int64_t lastSeen = 0; // milliseconds since 1970
};

// The store cannot be reached just now (a shared store that is down or slow);
// the request is refused with 503 and nothing of it is kept.
class StoreUnavailable : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Everything the relay knows: accounts, the token of each signed-in device,
// open pairings, live sign-in codes and each account's recent events. Every
// relay sharing one store sees the same state. Called with the relay's lock
// held, one call at a time.
class RelayStore {
public:
    virtual ~RelayStore() = default;

    // The bounds to keep; set once, before any other call.
    virtual void setLimits(const RelayLimits& limits) = 0;
    // Throws StoreUnavailable unless the store answers now.
    virtual void ping() = 0;

    // Binds a new token to the device `who` names (account, role and device
    // id), replacing that device's previous token; other devices keep theirs.
    // Beyond the devices an account may have, the one signed in longest ago is signed out.
    virtual void bind(const std::string& token, const Credential& who, const std::string& name, std::int64_t now) = 0;
    virtual std::optional<Credential> credential(const std::string& token) = 0;
    virtual void touch(const Credential& who, std::int64_t now) = 0;
    // The account's devices, the one seen last first.
    virtual std::vector<Device> devices(const std::string& number) = 0;
    // Signs the device out; false when the account has no such device.
    virtual bool removeDevice(const std::string& number, const std::string& deviceId) = 0;
    // A pairing secret for the account until `expiresAt`; the account keeps
    // only its newest open ones.
    virtual void addPairing(const std::string& secret, const std::string& number, std::int64_t expiresAt) = 0;
    // The account a live pairing secret belongs to; it is used up by this.
    virtual std::optional<std::string> claimPairing(const std::string& secret, std::int64_t now) = 0;

    // Keeps a new code for the number; false when the number asked too often.
    virtual bool addCode(const std::string& number, const std::string& code, std::int64_t now) = 0;
    // Uses up the matching live code. Too many wrong codes in a row discard
    // every live code of the number.
    virtual bool redeemCode(const std::string& number, const std::string& code, std::int64_t now) = 0;

    // Numbers the event with the account's next seq, which no earlier append,
    // by any relay or before a restart, has handed out.
    virtual Event append(const std::string& number, EventDraft draft, std::int64_t at) = 0;
    // The kept events after `cursor`, as EventLog::after reads them.
    virtual EventBatch eventsAfter(const std::string& number, std::int64_t cursor, std::size_t limit) = 0;

    // The calls of every request, awaited by the server's coroutines. A store over the network waits for its answers without
    // holding the thread or `lock`; by default they are the calls above, made
    // holding `lock`, the relay's, which orders every call to the store.
    virtual boost::asio::awaitable<void> asyncPing(std::mutex& lock);
    virtual boost::asio::awaitable<std::optional<Credential>> asyncCredential(std::string token, std::mutex& lock);
    virtual boost::asio::awaitable<void> asyncTouch(Credential who, std::int64_t now, std::mutex& lock);
    virtual boost::asio::awaitable<Event> asyncAppend(std::string number, EventDraft draft, std::int64_t at,
                                                      std::mutex& lock);
    virtual boost::asio::awaitable<EventBatch> asyncEventsAfter(std::string number, std::int64_t cursor,
                                                                std::size_t limit, std::mutex& lock);
    virtual boost::asio::awaitable<void> asyncBind(std::string token, Credential who, std::string name,
                                                   std::int64_t now, std::mutex& lock);
    virtual boost::asio::awaitable<std::vector<Device>> asyncDevices(std::string number, std::mutex& lock);
    virtual boost::asio::awaitable<bool> asyncRemoveDevice(std::string number, std::string deviceId, std::mutex& lock);
    virtual boost::asio::awaitable<void> asyncAddPairing(std::string secret, std::string number,
                                                         std::int64_t expiresAt, std::mutex& lock);
    virtual boost::asio::awaitable<std::optional<std::string>> asyncClaimPairing(std::string secret, std::int64_t now,
                                                                                 std::mutex& lock);
    virtual boost::asio::awaitable<bool> asyncAddCode(std::string number, std::string code, std::int64_t now,
                                                      std::mutex& lock);
    virtual boost::asio::awaitable<bool> asyncRedeemCode(std::string number, std::string code, std::int64_t now,
                                                         std::mutex& lock);

    // Tells `appended` of each event another relay appends to this store,
    // with its account's number, or with "" when events may have been missed;
    // called on a thread of the store's own. Empty: stops telling, at once.
    virtual void watchAppends(std::function<void(const std::string& number)> appended) = 0;
};

} // namespace tellwire
