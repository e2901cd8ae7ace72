#pragma once

#include "Refusal.h"
#include "RelayServer.h"
#include "RelayStore.h"

#include <boost/asio/awaitable.hpp>
#include <nlohmann/json_fwd.hpp>

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace tellwire {

class Relay;

// What the routes need of one request; the body is complete and within the limit.
struct HttpRequest {
    std::string method;
    std::string target; // path and query
    std::string host;
    std::string authorization;
    std::string body;
};

struct HttpReply {
    int status = 200;
    std::string contentType = "application/json";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
    bool close = false; // the connection ends after this reply
};

// An events request with nothing to read yet: held until there is.
struct HeldPoll {
    Credential who;
    std::int64_t cursor = 0;
};

// What the relay answers to each request, apart from any network: the
// routes, the checks of host, method and body, and the {"error", "message"}
// body of every refusal.
class RelayRoutes {
public:
    RelayRoutes(Relay& relay, Reach reach);

    // The reply, or a poll to hold.
    boost::asio::awaitable<std::variant<HttpReply, HeldPoll>> handle(HttpRequest request);
    // Another look for a held poll: its reply once there are events, the
    // relay stops or the hold has `expired`; nothing while it should go on.
    boost::asio::awaitable<std::optional<HttpReply>> lookAgain(HeldPoll poll, bool expired);
    // The reply to a held poll whose hold ran out with no news: no events, the same cursor.
    static HttpReply ranOut(const HeldPoll& poll);
    // One console line for a request as it arrives: method, path and cursor,
    // never tokens or text.
    static std::string arrivalLine(const HttpRequest& request);
    // One console line for each answer: method, route, status and how long it took.
    static std::string answerLine(const HttpRequest& request, int status, std::chrono::microseconds took);
    static HttpReply refusal(const Refusal& refusal);

private:
    using Query = std::map<std::string, std::string>;

    boost::asio::awaitable<std::variant<HttpReply, HeldPoll>> route(const HttpRequest& request);
    boost::asio::awaitable<HttpReply> post(const std::string& path, const HttpRequest& request);
    boost::asio::awaitable<HttpReply> requestCode(const nlohmann::json& body);
    boost::asio::awaitable<HttpReply> verify(const nlohmann::json& body);
    HttpReply me(const std::optional<Credential>& who);
    boost::asio::awaitable<std::variant<HttpReply, HeldPoll>> readEvents(std::optional<Credential> who,
                                                                         const Query& query);
    boost::asio::awaitable<HttpReply> publish(std::optional<Credential> who, const nlohmann::json& body);
    boost::asio::awaitable<HttpReply> signInLocally(const nlohmann::json& body);
    boost::asio::awaitable<HttpReply> startPairing(std::optional<Credential> who);
    boost::asio::awaitable<HttpReply> claimPairing(const nlohmann::json& body);
    boost::asio::awaitable<HttpReply> devices(std::optional<Credential> who);
    boost::asio::awaitable<HttpReply> removeDevice(std::optional<Credential> who, const nlohmann::json& body);
    boost::asio::awaitable<HttpReply> health();
    HttpReply page(const std::string& path);
    static HttpReply eventsReply(const EventBatch& batch);
    boost::asio::awaitable<std::optional<Credential>> caller(const HttpRequest& request);
    // 503 for a store that cannot be reached just now.
    HttpReply storeDown();

    Relay& relay_;
    Reach reach_;
};

} // namespace tellwire
