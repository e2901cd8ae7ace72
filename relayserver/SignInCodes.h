#pragma once

#include "Refusal.h"
#include "RelayOptions.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tellwire {

// The text-message codes of every number: issued on request, single use,
// expiring, and rate limited per number. Not synchronised; the relay locks.
class SignInCodes {
public:
    // Follows the limits as they change.
    explicit SignInCodes(const RelayLimits& limits);

    // Keeps a new code for the account number; false when it asked too often.
    bool issue(const std::string& number, const std::string& code, std::int64_t now);

    // Uses up the matching live code. Too many wrong codes in a row discard
    // every live code of the number.
    bool redeem(const std::string& number, std::string_view code, std::int64_t now);

private:
    struct LiveCode {
        std::string code;
        std::int64_t expiresAt;
    };
    struct Number {
        std::deque<std::int64_t> requests; // times of the requests of the last minute
        std::vector<LiveCode> codes;
        std::size_t wrongCodes = 0;
    };

    static void forgetStale(Number& entry, std::int64_t now);
    bool makeRoom(std::int64_t now);

    const RelayLimits& limits_;
    std::unordered_map<std::string, Number> numbers_;
};

} // namespace tellwire
