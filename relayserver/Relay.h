#pragma once

#include "EventLog.h"
#include "Refusal.h"
#include "RelayMetrics.h"
#include "RelayOptions.h"
#include "RelayStore.h"

#include <boost/asio/awaitable.hpp>

#include <functional>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace tellwire {

struct Pairing {
    std::string secret;
    std::int64_t expiresInSeconds = 0;
    std::vector<std::string> links; // the page at each phone origin, signing in with the secret
    std::string fingerprint;
};

struct PublishedEvent {
    std::int64_t seq = 0;
    std::int64_t at = 0;
};

// What the relay does with each request; its state is in the store, which
// other relays may share. Safe to call from every server thread. A store
// that cannot be reached throws StoreUnavailable out of any call.
class Relay {
public:
    // Without a store, nothing outlives the process.
    explicit Relay(RelayOptions options, std::unique_ptr<RelayStore> store = nullptr);
    ~Relay();

    boost::asio::awaitable<Outcome<std::string>> requestCode(std::string phone);
    // The new bearer token of the device `deviceId` in `role`, for the account
    // of `phone`; it replaces that device's previous token.
    boost::asio::awaitable<Outcome<std::string>> verify(std::string phone, std::string code, std::string role,
                                                        std::string deviceId);
    boost::asio::awaitable<std::optional<Credential>> identify(std::string token);

    // The account of this machine's desktop, which signs in with the local
    // secret instead of a text message.
    static constexpr const char* localAccount = "local";
    boost::asio::awaitable<Outcome<std::string>> signInLocally(std::string secret, std::string deviceId);

    // A single-use secret that signs a phone in to the desktop's account.
    boost::asio::awaitable<Outcome<Pairing>> startPairing(Credential who);
    boost::asio::awaitable<Outcome<std::string>> claimPairing(std::string secret, std::string deviceId,
                                                              std::string name);
    // The devices signed in to the desktop's account, and signing one out.
    boost::asio::awaitable<Outcome<std::vector<Device>>> devices(Credential who);
    boost::asio::awaitable<Outcome<bool>> removeDevice(Credential who, std::string deviceId);

    boost::asio::awaitable<Outcome<PublishedEvent>> publish(Credential who, EventDraft draft);

    // One look at the account's events after `cursor`. With none, the server
    // holds the request (holdPoll) and looks again whenever woken for the
    // account, until the hold runs out or the relay stops.
    boost::asio::awaitable<Outcome<EventBatch>> lookForEvents(Credential who, std::int64_t cursor);
    // Counts a held request; false, beyond the limit, to refuse it instead.
    bool holdPoll();
    void releasePoll();
    bool isStopping();
    // Tells `woken`, on any thread, the account of each event published here
    // or by another relay on the store, and "" when every held request should
    // look again (events may have been missed, or the relay stops).
    std::size_t addWakeListener(std::function<void(const std::string& number)> woken);
    void removeWakeListener(std::size_t id);

    // Answers every held request and makes new ones answer at once.
    void stop();
    // Whether this relay takes requests: its store answers and it is not stopping.
    boost::asio::awaitable<Outcome<bool>> health();

    // Waits until at least `count` events requests are held (tests, tools).
    bool waitForHeldPolls(std::size_t count, std::chrono::milliseconds timeout);

    std::chrono::milliseconds hold() const { return options_.hold; }
    RelayMetrics& metrics() { return metrics_; }
    // The metrics as Prometheus text.
    std::string metricsText();

private:
    std::int64_t now() const;
    void say(const std::string& line) const;
    // A fresh secret with its links; outside the coroutine, which GCC 12 miscompiles with them.
    Pairing newPairing() const;
    // Binds a fresh token to the device.
    boost::asio::awaitable<std::string> signIn(Credential who, std::string name);
    // Wakes the polls held for the account ("": for every account).
    void wake(const std::string& number);

    RelayOptions options_;
    std::unique_ptr<RelayStore> store_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool stopping_ = false;
    std::size_t heldPolls_ = 0;
    std::mutex listenersMutex_;
    std::map<std::size_t, std::function<void(const std::string&)>> wakeListeners_;
    std::size_t nextListener_ = 0;
    std::deque<std::int64_t> claims_; // times of the pairing claims of the last minute
    std::map<std::string, std::int64_t> touched_; // device → when its last use was stored
    std::set<std::string> listening_; // desktops that have polled since the start
    RelayMetrics metrics_;
};

} // namespace tellwire
