#include "RelayRoutes.h"

#include "PhonePage.h"
#include "Relay.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <regex>

namespace tellwire {

namespace asio = boost::asio;

namespace {

HttpReply answer(int status, const nlohmann::json& body)
{
    return {status, "application/json", body.dump(), {{"Cache-Control", "no-store"}}, false};
}

// Pulls a string member; an absent or mistyped one is a bad request.
std::optional<std::string> member(const nlohmann::json& body, const char* name)
{
    const auto it = body.find(name);
    if (it == body.end() || !it->is_string())
        return std::nullopt;
    return it->get<std::string>();
}

std::optional<std::string> bearerToken(const std::string& header)
{
    constexpr std::string_view scheme = "bearer ";
    if (header.size() <= scheme.size())
        return std::nullopt;
    for (std::size_t i = 0; i < scheme.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(header[i])) != scheme[i])
            return std::nullopt;
    }
    return header.substr(scheme.size());
}

// The Host of a request to the loopback listener: a loopback name, with or
// without a port.
bool isLoopbackHost(const std::string& host)
{
    std::string_view name = host;
    if (!name.empty() && name.front() == '[') {
        const auto close = name.find(']');
        name = close == std::string_view::npos ? std::string_view() : name.substr(0, close + 1);
    } else if (const auto colon = name.rfind(':'); colon != std::string_view::npos) {
        name = name.substr(0, colon);
    }
    return name == "127.0.0.1" || name == "localhost" || name == "[::1]";
}

std::optional<std::int64_t> parseCursor(const std::string& text)
{
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < -1)
        return std::nullopt;
    return value;
}

std::string percentDecoded(std::string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned value = 0;
        if (text[i] == '%' && i + 2 < text.size()
            && std::from_chars(text.data() + i + 1, text.data() + i + 3, value, 16).ptr == text.data() + i + 3) {
            out += char(value);
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::pair<std::string, std::map<std::string, std::string>> splitTarget(const std::string& target)
{
    const auto mark = target.find('?');
    std::map<std::string, std::string> query;
    if (mark != std::string::npos) {
        std::string_view rest = std::string_view(target).substr(mark + 1);
        while (!rest.empty()) {
            const auto amp = rest.find('&');
            const std::string_view pair = rest.substr(0, amp);
            const auto equals = pair.find('=');
            query.emplace(percentDecoded(pair.substr(0, equals)),
                          equals == std::string_view::npos ? "" : percentDecoded(pair.substr(equals + 1)));
            rest = amp == std::string_view::npos ? std::string_view() : rest.substr(amp + 1);
        }
    }
    return {percentDecoded(std::string_view(target).substr(0, mark)), query};
}

} // namespace

RelayRoutes::RelayRoutes(Relay& relay, Reach reach)
    : relay_(relay)
    , reach_(reach)
{
}

HttpReply RelayRoutes::refusal(const Refusal& refusal)
{
    return answer(refusal.status, {{"error", refusal.error}, {"message", refusal.message}});
}

std::string RelayRoutes::arrivalLine(const HttpRequest& request)
{
    // One line each, whatever bytes the request holds.
    auto printable = [](std::string text) {
        text.resize(std::min<std::size_t>(text.size(), 200));
        for (char& c : text)
            c = c > ' ' && c < 0x7f ? c : '?';
        return text;
    };
    const auto [path, query] = splitTarget(request.target);
    std::string line = "request " + printable(request.method) + " " + printable(path);
    if (const auto after = query.find("after"); after != query.end())
        line += " after=" + printable(after->second);
    return line;
}

std::string RelayRoutes::answerLine(const HttpRequest& request, int status, std::chrono::microseconds took)
{
    const auto [method, route] = RelayMetrics::label(request.method, splitTarget(request.target).first);
    char milliseconds[32];
    std::snprintf(milliseconds, sizeof milliseconds, "%.3f", double(took.count()) / 1000);
    return "answer method=" + method + " route=" + route + " status=" + std::to_string(status) + " ms=" + milliseconds;
}

asio::awaitable<std::variant<HttpReply, HeldPoll>> RelayRoutes::handle(HttpRequest request)
{
    try {
        co_return co_await route(request);
    } catch (const StoreUnavailable&) {
        co_return storeDown();
    } catch (const std::exception&) {
        co_return refusal(Refusal::internal());
    }
}

HttpReply RelayRoutes::storeDown()
{
    relay_.metrics().countStoreError();
    return refusal(Refusal::unavailable());
}

asio::awaitable<std::optional<HttpReply>> RelayRoutes::lookAgain(HeldPoll poll, bool expired)
{
    try {
        const auto batch = co_await relay_.lookForEvents(poll.who, poll.cursor);
        if (const auto* refused = std::get_if<Refusal>(&batch))
            co_return refusal(*refused);
        const auto& events = std::get<EventBatch>(batch);
        if (events.events.empty() && !expired && !relay_.isStopping())
            co_return std::nullopt;
        co_return eventsReply(events);
    } catch (const StoreUnavailable&) {
        co_return storeDown();
    } catch (const std::exception&) {
        co_return refusal(Refusal::internal());
    }
}

asio::awaitable<std::variant<HttpReply, HeldPoll>> RelayRoutes::route(const HttpRequest& request)
{
    if (reach_ == Reach::Loopback && !isLoopbackHost(request.host)) {
        HttpReply reply = refusal({421, "wrong_host", "只接受发往本机地址的请求"});
        reply.close = true;
        co_return reply;
    }
    const auto [path, query] = splitTarget(request.target);
    if (request.method == "POST")
        co_return co_await post(path, request);
    if (request.method != "GET" && request.method != "HEAD") {
        HttpReply reply = refusal(Refusal::methodNotAllowed());
        reply.headers.emplace_back("Allow", "GET, POST");
        reply.close = true;
        co_return reply;
    }
    if (path == "/v1/events")
        co_return co_await readEvents(co_await caller(request), query);
    if (path == "/v1/me")
        co_return me(co_await caller(request));
    if (path == "/v1/devices")
        co_return co_await devices(co_await caller(request));
    if (path == "/healthz")
        co_return co_await health();
    if (path == "/metrics")
        co_return HttpReply{200, "text/plain; version=0.0.4", relay_.metricsText(), {{"Cache-Control", "no-store"}}, false};
    static const std::regex pagePath("/|/[a-z0-9.-]+");
    if (std::regex_match(path, pagePath))
        co_return page(path);
    co_return refusal(Refusal::notFound());
}

asio::awaitable<HttpReply> RelayRoutes::post(const std::string& path, const HttpRequest& request)
{
    const auto body = nlohmann::json::parse(request.body, nullptr, false);
    if (body.is_discarded() || !body.is_object())
        co_return refusal(Refusal::invalidJson());
    if (path == "/v1/auth/phone/request")
        co_return co_await requestCode(body);
    if (path == "/v1/auth/phone/verify")
        co_return co_await verify(body);
    if (path == "/v1/events")
        co_return co_await publish(co_await caller(request), body);
    if (path == "/v1/pairings")
        co_return co_await startPairing(co_await caller(request));
    if (path == "/v1/pairings/claim")
        co_return co_await claimPairing(body);
    if (path == "/v1/devices/remove")
        co_return co_await removeDevice(co_await caller(request), body);
    if (path == "/v1/auth/local" && reach_ == Reach::Loopback)
        co_return co_await signInLocally(body);
    co_return refusal(Refusal::notFound());
}

asio::awaitable<HttpReply> RelayRoutes::requestCode(const nlohmann::json& body)
{
    const auto phone = member(body, "phone");
    if (!phone)
        co_return refusal(Refusal::invalidPhone());
    const auto issued = co_await relay_.requestCode(*phone);
    if (const auto* refused = std::get_if<Refusal>(&issued))
        co_return refusal(*refused);
    co_return answer(200, {{"ok", true}, {"expires_in", 300}});
}

asio::awaitable<HttpReply> RelayRoutes::verify(const nlohmann::json& body)
{
    const auto phone = member(body, "phone");
    if (!phone)
        co_return refusal(Refusal::invalidPhone());
    const auto code = member(body, "code");
    const auto role = member(body, "role");
    const auto deviceId = member(body, "device_id");
    if (!code || !role || !deviceId)
        co_return refusal(Refusal::invalidRequest("登录请求需要 phone、code、role 和 device_id"));
    const auto token = co_await relay_.verify(*phone, *code, *role, *deviceId);
    if (const auto* refused = std::get_if<Refusal>(&token))
        co_return refusal(*refused);
    co_return answer(200, {{"token", std::get<std::string>(token)}});
}

asio::awaitable<std::optional<Credential>> RelayRoutes::caller(const HttpRequest& request)
{
    auto token = bearerToken(request.authorization);
    if (!token)
        co_return std::nullopt;
    co_return co_await relay_.identify(std::move(*token));
}

HttpReply RelayRoutes::me(const std::optional<Credential>& who)
{
    if (!who)
        return refusal(Refusal::unauthorized());
    return answer(200, {{"phone", who->number}, {"role", who->role}, {"device_id", who->deviceId}});
}

asio::awaitable<std::variant<HttpReply, HeldPoll>> RelayRoutes::readEvents(std::optional<Credential> who,
                                                                               const Query& query)
{
    if (!who)
        co_return refusal(Refusal::unauthorized());
    std::int64_t after = -1;
    if (const auto it = query.find("after"); it != query.end()) {
        const auto parsed = parseCursor(it->second);
        if (!parsed)
            co_return refusal({400, "invalid_cursor", "after 必须是 -1 或非负整数"});
        after = *parsed;
    }
    const auto batch = co_await relay_.lookForEvents(*who, after);
    if (const auto* refused = std::get_if<Refusal>(&batch))
        co_return refusal(*refused);
    const auto& events = std::get<EventBatch>(batch);
    if (!events.events.empty() || relay_.hold().count() == 0 || relay_.isStopping())
        co_return eventsReply(events);
    // Held after the cursor the read gave, so that a hold running out can answer it without another read.
    co_return HeldPoll{*who, events.cursor};
}

HttpReply RelayRoutes::ranOut(const HeldPoll& poll)
{
    return eventsReply(EventBatch{{}, poll.cursor});
}

HttpReply RelayRoutes::eventsReply(const EventBatch& batch)
{
    nlohmann::json list = nlohmann::json::array();
    for (const Event& event : batch.events)
        list.push_back(event.toJson());
    return answer(200, {{"events", std::move(list)}, {"cursor", batch.cursor}});
}

asio::awaitable<HttpReply> RelayRoutes::publish(std::optional<Credential> who, const nlohmann::json& body)
{
    if (!who)
        co_return refusal(Refusal::unauthorized());
    if (who->role != "phone")
        co_return refusal(Refusal::forbidden());
    auto draft = EventDraft::fromJson(body);
    if (const auto* refused = std::get_if<Refusal>(&draft))
        co_return refusal(*refused);
    const auto published = co_await relay_.publish(*who, std::move(std::get<EventDraft>(draft)));
    if (const auto* refused = std::get_if<Refusal>(&published))
        co_return refusal(*refused);
    const auto& event = std::get<PublishedEvent>(published);
    co_return answer(200, {{"seq", event.seq}, {"at", event.at}, {"cursor", event.seq}});
}

asio::awaitable<HttpReply> RelayRoutes::signInLocally(const nlohmann::json& body)
{
    const auto secret = member(body, "secret");
    const auto deviceId = member(body, "device_id");
    if (!secret || !deviceId)
        co_return refusal(Refusal::invalidRequest("本机登录需要 secret 和 device_id"));
    const auto token = co_await relay_.signInLocally(*secret, *deviceId);
    if (const auto* refused = std::get_if<Refusal>(&token))
        co_return refusal(*refused);
    co_return answer(200, {{"token", std::get<std::string>(token)}});
}

asio::awaitable<HttpReply> RelayRoutes::startPairing(std::optional<Credential> who)
{
    if (!who)
        co_return refusal(Refusal::unauthorized());
    const auto pairing = co_await relay_.startPairing(*who);
    if (const auto* refused = std::get_if<Refusal>(&pairing))
        co_return refusal(*refused);
    const auto& started = std::get<Pairing>(pairing);
    co_return answer(200, {{"secret", started.secret}, {"expires_in", started.expiresInSeconds}, {"links", started.links},
                        {"fingerprint", started.fingerprint}});
}

asio::awaitable<HttpReply> RelayRoutes::claimPairing(const nlohmann::json& body)
{
    const auto secret = member(body, "secret");
    const auto deviceId = member(body, "device_id");
    const auto name = body.contains("name") ? member(body, "name") : std::optional<std::string>("");
    if (!secret || !deviceId || !name)
        co_return refusal(Refusal::invalidRequest("配对需要 secret 和 device_id"));
    const auto token = co_await relay_.claimPairing(*secret, *deviceId, *name);
    if (const auto* refused = std::get_if<Refusal>(&token))
        co_return refusal(*refused);
    co_return answer(200, {{"token", std::get<std::string>(token)}});
}

asio::awaitable<HttpReply> RelayRoutes::devices(std::optional<Credential> who)
{
    if (!who)
        co_return refusal(Refusal::unauthorized());
    const auto listed = co_await relay_.devices(*who);
    if (const auto* refused = std::get_if<Refusal>(&listed))
        co_return refusal(*refused);
    nlohmann::json list = nlohmann::json::array();
    for (const Device& device : std::get<std::vector<Device>>(listed))
        list.push_back({{"device_id", device.deviceId}, {"role", device.role}, {"name", device.name},
                        {"last_seen", device.lastSeen}, {"this", device.deviceId == who->deviceId}});
    co_return answer(200, {{"devices", std::move(list)}});
}

asio::awaitable<HttpReply> RelayRoutes::removeDevice(std::optional<Credential> who, const nlohmann::json& body)
{
    if (!who)
        co_return refusal(Refusal::unauthorized());
    const auto deviceId = member(body, "device_id");
    if (!deviceId)
        co_return refusal(Refusal::invalidRequest("需要 device_id"));
    const auto removed = co_await relay_.removeDevice(*who, *deviceId);
    if (const auto* refused = std::get_if<Refusal>(&removed))
        co_return refusal(*refused);
    if (!std::get<bool>(removed))
        co_return refusal({404, "no_such_device", "没有这台设备"});
    co_return answer(200, {{"ok", true}});
}

asio::awaitable<HttpReply> RelayRoutes::health()
{
    const auto healthy = co_await relay_.health();
    if (const auto* refused = std::get_if<Refusal>(&healthy))
        co_return refusal(*refused);
    co_return answer(200, {{"ok", true}});
}

HttpReply RelayRoutes::page(const std::string& path)
{
    const auto asset = phoneAsset(path);
    if (!asset)
        return refusal(Refusal::notFound());
    return {200, std::string(asset->type), std::string(asset->content),
            {{"Cache-Control", "no-cache"}, {"X-Content-Type-Options", "nosniff"}, {"Referrer-Policy", "no-referrer"},
             {"Content-Security-Policy", "default-src 'self'; script-src 'self'; style-src 'self'; "
                                         "connect-src 'self'; img-src 'self' data:; frame-ancestors 'none'"}},
            false};
}

} // namespace tellwire
