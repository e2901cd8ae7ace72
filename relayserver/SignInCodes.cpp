#include "SignInCodes.h"

#include <algorithm>

namespace tellwire {

namespace {
constexpr std::int64_t minuteMs = 60 * 1000;
}

SignInCodes::SignInCodes(const RelayLimits& limits)
    : limits_(limits)
{
}

void SignInCodes::forgetStale(Number& entry, std::int64_t now)
{
    while (!entry.requests.empty() && entry.requests.front() <= now - minuteMs)
        entry.requests.pop_front();
    std::erase_if(entry.codes, [now](const LiveCode& c) { return c.expiresAt <= now; });
}

bool SignInCodes::makeRoom(std::int64_t now)
{
    if (numbers_.size() < limits_.numbersWithCodes)
        return true;
    for (auto it = numbers_.begin(); it != numbers_.end();) {
        forgetStale(it->second, now);
        if (it->second.requests.empty() && it->second.codes.empty())
            it = numbers_.erase(it);
        else
            ++it;
    }
    return numbers_.size() < limits_.numbersWithCodes;
}

bool SignInCodes::issue(const std::string& number, const std::string& code, std::int64_t now)
{
    auto it = numbers_.find(number);
    if (it == numbers_.end()) {
        if (!makeRoom(now))
            return false;
        it = numbers_.emplace(number, Number{}).first;
    }
    Number& entry = it->second;
    forgetStale(entry, now);
    if (entry.requests.size() >= limits_.codeRequestsPerMinute)
        return false;
    entry.requests.push_back(now);
    if (entry.codes.size() >= limits_.liveCodesPerNumber)
        entry.codes.erase(entry.codes.begin());
    entry.codes.push_back({code, now + limits_.codeLifetimeMs});
    return true;
}

bool SignInCodes::redeem(const std::string& number, std::string_view code, std::int64_t now)
{
    const auto it = numbers_.find(number);
    if (it == numbers_.end())
        return false;
    Number& entry = it->second;
    forgetStale(entry, now);
    const auto match = std::find_if(entry.codes.begin(), entry.codes.end(),
                                    [code](const LiveCode& c) { return c.code == code; });
    if (match != entry.codes.end()) {
        entry.codes.erase(match);
        entry.wrongCodes = 0;
        return true;
    }
    if (++entry.wrongCodes >= limits_.wrongCodesAllowed) {
        entry.codes.clear();
        entry.wrongCodes = 0;
    }
    return false;
}

} // namespace tellwire
