#pragma once

#include "EventLog.h"
#include "Refusal.h"
#include "RelayOptions.h"
#include "SignInCodes.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace tellwire {

// Who a bearer token speaks for.
struct Credential {
    std::string number;
    std::string role; // "desktop" or "phone"
    std::string deviceId;
};

struct PublishedEvent {
    std::int64_t seq = 0;
    std::int64_t at = 0;
};

// The relay's whole state: codes, accounts, tokens and event logs, in memory
// and bounded. Safe to call from every server thread.
class Relay {
public:
    explicit Relay(RelayOptions options);

    Outcome<std::string> requestCode(std::string_view phone);
    // The new bearer token, bound to the account of `phone` and to `role`.
    Outcome<std::string> verify(std::string_view phone, std::string_view code,
                                std::string_view role, std::string_view deviceId);
    std::optional<Credential> identify(std::string_view token);

    Outcome<PublishedEvent> publish(const Credential& who, EventDraft draft);
    // Waits up to the hold for events after `cursor` unless some are already
    // there; an empty batch when the hold runs out or the relay stops.
    Outcome<EventBatch> events(const Credential& who, std::int64_t cursor);

    // Answers every held request and makes new ones answer at once.
    void stop();

    // Waits until at least `count` events requests are held (tests, tools).
    bool waitForHeldPolls(std::size_t count, std::chrono::milliseconds timeout);

    std::chrono::milliseconds hold() const { return options_.hold; }

private:
    struct Account {
        explicit Account(const RelayLimits& limits);
        EventLog log;
        std::deque<std::string> tokens;
        std::uint64_t lastUsed = 0;
    };

    std::int64_t now() const;
    void say(const std::string& line) const;
    Account& accountFor(const std::string& number);
    Account* find(const std::string& number);

    RelayOptions options_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool stopping_ = false;
    std::size_t heldPolls_ = 0;
    std::uint64_t useCounter_ = 0;
    SignInCodes codes_;
    std::map<std::string, Account> accounts_;
    std::unordered_map<std::string, Credential> tokens_;
};

} // namespace tellwire
