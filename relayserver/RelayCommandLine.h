#pragma once

#include "RedisAddress.h"
#include "RelayOptions.h"
#include "RelayServer.h"

#include <optional>
#include <utility>
#include <string>
#include <variant>
#include <vector>

namespace tellwire {

// What `tellwire-relay` was asked to do.
struct RelayCommandLine {
    std::string host = "127.0.0.1";
    int port = 8787;
    std::optional<std::string> fixedCode;
    std::chrono::milliseconds hold{20000};
    std::optional<TlsFiles> tls;
    // A second listener, for phones on this machine's networks: HTTPS only.
    std::optional<std::pair<std::string, int>> lan;
    // Run with the number and the code as its two arguments to text a code.
    std::string smsCommand;
    // Where accounts and device tokens are kept; empty: the user's state folder.
    std::string stateDir;
    // A Redis shared with other relays instead of the state folder's database.
    std::optional<RedisAddress> redis;
    // One console line per request as it arrives: method, path and cursor.
    bool logRequests = false;
    bool help = false;

    // The parsed command line, or the sentence saying what is wrong with it.
    static std::variant<RelayCommandLine, std::string> parse(const std::vector<std::string>& args);
    static const char* usage();

    // 127.0.0.1, ::1 or localhost: a listener only this machine reaches.
    static bool isLoopback(const std::string& host);
};

} // namespace tellwire
