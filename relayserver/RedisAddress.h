#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tellwire {

// Where a Redis server is: redis://HOST:PORT[/DB].
struct RedisAddress {
    std::string host;
    int port = 6379;
    int database = 0;

    static std::optional<RedisAddress> parse(std::string_view url);
};

} // namespace tellwire
