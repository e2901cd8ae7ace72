#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace tellwire {

// Every bound the relay keeps, so that no client can make it grow without end.
struct RelayLimits {
    std::size_t accounts = 64;
    std::size_t devicesPerAccount = 16;
    std::size_t eventsPerAccount = 1024;
    std::size_t textBytesPerAccount = 1 << 20;
    std::size_t eventsPerReply = 500;
    std::size_t numbersWithCodes = 4096;
    std::size_t liveCodesPerNumber = 5;
    std::size_t codeRequestsPerMinute = 5;
    std::size_t wrongCodesAllowed = 5;
    std::size_t heldPolls = 48;
    std::int64_t codeLifetimeMs = 5 * 60 * 1000;
};

struct RelayOptions {
    // Issued by every code request instead of a random code (tests, demos).
    std::optional<std::string> fixedCode;
    // How long an events request with nothing new is held open.
    std::chrono::milliseconds hold{20000};
    // Milliseconds since 1970; the system clock when empty. Tests move it.
    std::function<std::int64_t()> now;
    // One console line (codes, sign-ins); nothing is said when empty.
    std::function<void(const std::string&)> notice;
    RelayLimits limits;
};

// The longest hold: the desktop gives up on a request after 25 seconds.
inline constexpr std::chrono::milliseconds maximumHold{24000};

} // namespace tellwire
