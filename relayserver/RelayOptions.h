#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

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
    std::size_t heldPolls = 20000; // a socket and a timer each; the descriptor limit is raised to match
    std::size_t pairingsPerAccount = 5;
    std::size_t pairingClaimsPerMinute = 10;
    std::int64_t pairingLifetimeMs = 5 * 60 * 1000;
    std::int64_t codeLifetimeMs = 5 * 60 * 1000;
    // A shared store forgets events this old, and accounts unused this long.
    std::int64_t eventLifetimeMs = 24 * 60 * 60 * 1000;
    std::int64_t idleAccountLifetimeMs = std::int64_t(90) * 24 * 60 * 60 * 1000;
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
    // Sends a code to its number by text message; without it the code goes
    // to the console.
    std::function<void(const std::string& number, const std::string& code)> sendCode;
    RelayLimits limits;
    // Signs the desktop of this machine's user in to the local account; only
    // that user can read it. Empty: no local sign-in.
    std::string localSecret;
    // The origins ("https://192.168.1.20:8788") by which phones on this
    // machine's networks reach the relay, asked anew for each pairing; and the
    // fingerprint of the certificate they will be shown.
    std::function<std::vector<std::string>()> phoneOrigins;
    std::string fingerprint;
};

// The longest hold: the desktop gives up on a request after 25 seconds.
inline constexpr std::chrono::milliseconds maximumHold{24000};

} // namespace tellwire
