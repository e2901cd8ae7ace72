#pragma once

#include "Relay.h"
#include "RelayServer.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace tellwire::test {

struct Reply {
    int status = 0; // 0: no HTTP reply at all
    nlohmann::json body;
    std::string raw;
};

// Plain HTTP requests to a relay on 127.0.0.1:port, in the relay's own program
// or in this process.
Reply post(int port, const std::string& path, const std::string& body, const std::string& token = {});
Reply get(int port, const std::string& path, const std::string& token = {});
// Requests a code and signs in with it; the token, or empty.
std::string signIn(int port, const std::string& phone, const std::string& role, const std::string& code);

// A relay served in this process on a free loopback port, with a clock the
// test moves and every console line kept.
class RelayHarness {
public:
    static constexpr const char* code = "123456";
    static constexpr std::int64_t startTime = 1'700'000'000'000;

    explicit RelayHarness(RelayOptions options = withHold(std::chrono::milliseconds(300)));
    ~RelayHarness();

    static RelayOptions withHold(std::chrono::milliseconds hold);

    Reply post(const std::string& path, const nlohmann::json& body, const std::string& token = {});
    Reply postRaw(const std::string& path, const std::string& body, const std::string& token = {});
    Reply get(const std::string& path, const std::string& token = {});

    // Requests a code and signs in with it; the token.
    std::string signIn(const std::string& phone, const std::string& role);
    Reply publish(const std::string& phoneToken, const nlohmann::json& event);
    Reply events(const std::string& desktopToken, std::int64_t after);

    void advance(std::int64_t ms) { clock += ms; }
    std::vector<std::string> notices();

private:
    std::mutex mutex_;
    std::vector<std::string> notices_;

public:
    std::atomic<std::int64_t> clock{startTime};
    Relay relay;
    RelayServer server;
    int port = -1;
};

} // namespace tellwire::test
