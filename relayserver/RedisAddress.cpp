#include "RedisAddress.h"

#include <charconv>

namespace tellwire {

namespace {

std::optional<int> number(std::string_view text, int most)
{
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < 0 || value > most)
        return std::nullopt;
    return value;
}

} // namespace

std::optional<RedisAddress> RedisAddress::parse(std::string_view url)
{
    constexpr std::string_view scheme = "redis://";
    if (!url.starts_with(scheme))
        return std::nullopt;
    url.remove_prefix(scheme.size());
    RedisAddress address;
    if (const auto slash = url.find('/'); slash != std::string_view::npos) {
        const auto database = number(url.substr(slash + 1), 15);
        if (!database)
            return std::nullopt;
        address.database = *database;
        url = url.substr(0, slash);
    }
    const auto colon = url.rfind(':');
    if (colon == std::string_view::npos || colon == 0)
        return std::nullopt;
    const auto port = number(url.substr(colon + 1), 65535);
    if (!port || *port == 0)
        return std::nullopt;
    address.port = *port;
    address.host = std::string(url.substr(0, colon));
    if (address.host.size() > 2 && address.host.front() == '[' && address.host.back() == ']')
        address.host = address.host.substr(1, address.host.size() - 2);
    return address;
}

} // namespace tellwire
