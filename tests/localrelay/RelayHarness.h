#pragma once

#include "Relay.h"
#include "RelayServer.h"

#include <httplib.h>
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

// Plain HTTP requests to a relay on 127.0.0.1:port.
inline Reply send(int port, const std::string& method, const std::string& path, const std::string& body = {},
                  const std::string& token = {})
{
    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(30);
    httplib::Headers headers;
    if (!token.empty())
        headers.emplace("Authorization", "Bearer " + token);
    const auto result = method == "GET" ? client.Get(path, headers) : client.Post(path, headers, body, "application/json");
    if (!result)
        return {};
    return {result->status, nlohmann::json::parse(result->body, nullptr, false), result->body};
}

// Requests a code and signs in with it; the token, or empty.
inline std::string signIn(int port, const std::string& phone, const std::string& role, const std::string& code)
{
    using nlohmann::json;
    send(port, "POST", "/v1/auth/phone/request", json{{"phone", phone}}.dump());
    const Reply reply = send(port, "POST", "/v1/auth/phone/verify",
                             json{{"phone", phone}, {"code", code}, {"role", role}, {"device_id", role + "-test"}}.dump());
    return reply.status == 200 ? reply.body.value("token", "") : std::string();
}

// A relay served in this process on a free loopback port, with a clock the
// test moves and every console line kept.
class RelayHarness {
public:
    static constexpr const char* code = "123456";
    static constexpr std::int64_t startTime = 1'700'000'000'000;

    static RelayOptions withHold(std::chrono::milliseconds hold)
    {
        RelayOptions options;
        options.fixedCode = code;
        options.hold = hold;
        return options;
    }

    explicit RelayHarness(RelayOptions options = withHold(std::chrono::milliseconds(300)))
        : relay([this, &options] {
            options.now = [this] { return clock.load(); };
            options.notice = [this](const std::string& line) {
                std::lock_guard lock(mutex_);
                notices_.push_back(line);
            };
            return options;
        }())
        , server(relay)
        , port(server.bind("127.0.0.1", 0))
    {
        server.start();
    }
    ~RelayHarness() { server.stop(); }

    Reply post(const std::string& path, const nlohmann::json& body, const std::string& token = {})
    {
        return send(port, "POST", path, body.dump(), token);
    }
    Reply get(const std::string& path, const std::string& token = {}) { return send(port, "GET", path, {}, token); }
    std::string signIn(const std::string& phone, const std::string& role) { return test::signIn(port, phone, role, code); }
    Reply publish(const std::string& phoneToken, const nlohmann::json& event) { return post("/v1/events", event, phoneToken); }
    Reply events(const std::string& desktopToken, std::int64_t after)
    {
        return get("/v1/events?after=" + std::to_string(after), desktopToken);
    }
    void advance(std::int64_t ms) { clock += ms; }
    std::vector<std::string> notices()
    {
        std::lock_guard lock(mutex_);
        return notices_;
    }

private:
    std::mutex mutex_;
    std::vector<std::string> notices_;

public:
    std::atomic<std::int64_t> clock{startTime};
    Relay relay;
    RelayServer server;
    const int port;
};

} // namespace tellwire::test
