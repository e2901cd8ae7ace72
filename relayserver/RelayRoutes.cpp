#include "RelayRoutes.h"

#include "PhonePage.h"
#include "Relay.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <regex>

namespace tellwire {

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

std::variant<HttpReply, HeldPoll> RelayRoutes::handle(const HttpRequest& request)
{
    try {
        return route(request);
    } catch (const StoreUnavailable&) {
        return storeDown();
    } catch (const std::exception&) {
        return refusal(Refusal::internal());
    }
}

HttpReply RelayRoutes::storeDown()
{
    relay_.metrics().countStoreError();
    return refusal(Refusal::unavailable());
}

std::optional<HttpReply> RelayRoutes::lookAgain(const HeldPoll& poll, bool expired)
{
    try {
        const auto batch = relay_.lookForEvents(poll.who, poll.cursor);
        if (const auto* refused = std::get_if<Refusal>(&batch))
            return refusal(*refused);
        const auto& events = std::get<EventBatch>(batch);
        if (events.events.empty() && !expired && !relay_.isStopping())
            return std::nullopt;
        return eventsReply(events);
    } catch (const StoreUnavailable&) {
        return storeDown();
    } catch (const std::exception&) {
        return refusal(Refusal::internal());
    }
}

std::variant<HttpReply, HeldPoll> RelayRoutes::route(const HttpRequest& request)
{
    if (reach_ == Reach::Loopback && !isLoopbackHost(request.host)) {
        HttpReply reply = refusal({421, "wrong_host", "只接受发往本机地址的请求"});
        reply.close = true;
        return reply;
    }
    const auto [path, query] = splitTarget(request.target);
    if (request.method == "POST")
        return post(path, request);
    if (request.method != "GET" && request.method != "HEAD") {
        HttpReply reply = refusal(Refusal::methodNotAllowed());
        reply.headers.emplace_back("Allow", "GET, POST");
        reply.close = true;
        return reply;
    }
    if (path == "/v1/events")
        return readEvents(caller(request), query);
    if (path == "/v1/me")
        return me(caller(request));
    if (path == "/v1/devices")
        return devices(caller(request));
    if (path == "/healthz")
        return health();
    if (path == "/metrics")
        return HttpReply{200, "text/plain; version=0.0.4", relay_.metricsText(), {{"Cache-Control", "no-store"}}, false};
    static const std::regex pagePath("/|/[a-z0-9.-]+");
    if (std::regex_match(path, pagePath))
        return page(path);
    return refusal(Refusal::notFound());
}

HttpReply RelayRoutes::post(const std::string& path, const HttpRequest& request)
{
    const auto body = nlohmann::json::parse(request.body, nullptr, false);
    if (body.is_discarded() || !body.is_object())
        return refusal(Refusal::invalidJson());
    if (path == "/v1/auth/phone/request")
        return requestCode(body);
    if (path == "/v1/auth/phone/verify")
        return verify(body);
    if (path == "/v1/events")
        return publish(caller(request), body);
    if (path == "/v1/pairings")
        return startPairing(caller(request));
    if (path == "/v1/pairings/claim")
        return claimPairing(body);
    if (path == "/v1/devices/remove")
        return removeDevice(caller(request), body);
    if (path == "/v1/auth/local" && reach_ == Reach::Loopback)
        return signInLocally(body);
    return refusal(Refusal::notFound());
}

HttpReply RelayRoutes::requestCode(const nlohmann::json& body)
{
    const auto phone = member(body, "phone");
    if (!phone)
        return refusal(Refusal::invalidPhone());
    const auto issued = relay_.requestCode(*phone);
    if (const auto* refused = std::get_if<Refusal>(&issued))
        return refusal(*refused);
    return answer(200, {{"ok", true}, {"expires_in", 300}});
}

HttpReply RelayRoutes::verify(const nlohmann::json& body)
{
    const auto phone = member(body, "phone");
    if (!phone)
        return refusal(Refusal::invalidPhone());
    const auto code = member(body, "code");
    const auto role = member(body, "role");
    const auto deviceId = member(body, "device_id");
    if (!code || !role || !deviceId)
        return refusal(Refusal::invalidRequest("登录请求需要 phone、code、role 和 device_id"));
    const auto token = relay_.verify(*phone, *code, *role, *deviceId);
    if (const auto* refused = std::get_if<Refusal>(&token))
        return refusal(*refused);
    return answer(200, {{"token", std::get<std::string>(token)}});
}

std::optional<Credential> RelayRoutes::caller(const HttpRequest& request)
{
    const auto token = bearerToken(request.authorization);
    return token ? relay_.identify(*token) : std::nullopt;
}

HttpReply RelayRoutes::me(const std::optional<Credential>& who)
{
    if (!who)
        return refusal(Refusal::unauthorized());
    return answer(200, {{"phone", who->number}, {"role", who->role}, {"device_id", who->deviceId}});
}

std::variant<HttpReply, HeldPoll> RelayRoutes::readEvents(const std::optional<Credential>& who, const Query& query)
{
    if (!who)
        return refusal(Refusal::unauthorized());
    std::int64_t after = -1;
    if (const auto it = query.find("after"); it != query.end()) {
        const auto parsed = parseCursor(it->second);
        if (!parsed)
            return refusal({400, "invalid_cursor", "after 必须是 -1 或非负整数"});
        after = *parsed;
    }
    const auto batch = relay_.lookForEvents(*who, after);
    if (const auto* refused = std::get_if<Refusal>(&batch))
        return refusal(*refused);
    const auto& events = std::get<EventBatch>(batch);
    if (!events.events.empty() || relay_.hold().count() == 0 || relay_.isStopping())
        return eventsReply(events);
    return HeldPoll{*who, after};
}

HttpReply RelayRoutes::eventsReply(const EventBatch& batch)
{
    nlohmann::json list = nlohmann::json::array();
    for (const Event& event : batch.events)
        list.push_back(event.toJson());
    return answer(200, {{"events", std::move(list)}, {"cursor", batch.cursor}});
}

HttpReply RelayRoutes::publish(const std::optional<Credential>& who, const nlohmann::json& body)
{
    if (!who)
        return refusal(Refusal::unauthorized());
    if (who->role != "phone")
        return refusal(Refusal::forbidden());
    auto draft = EventDraft::fromJson(body);
    if (const auto* refused = std::get_if<Refusal>(&draft))
        return refusal(*refused);
    const auto published = relay_.publish(*who, std::move(std::get<EventDraft>(draft)));
    if (const auto* refused = std::get_if<Refusal>(&published))
        return refusal(*refused);
    const auto& event = std::get<PublishedEvent>(published);
    return answer(200, {{"seq", event.seq}, {"at", event.at}, {"cursor", event.seq}});
}

HttpReply RelayRoutes::signInLocally(const nlohmann::json& body)
{
    const auto secret = member(body, "secret");
    const auto deviceId = member(body, "device_id");
    if (!secret || !deviceId)
        return refusal(Refusal::invalidRequest("本机登录需要 secret 和 device_id"));
    const auto token = relay_.signInLocally(*secret, *deviceId);
    if (const auto* refused = std::get_if<Refusal>(&token))
        return refusal(*refused);
    return answer(200, {{"token", std::get<std::string>(token)}});
}

HttpReply RelayRoutes::startPairing(const std::optional<Credential>& who)
{
    if (!who)
        return refusal(Refusal::unauthorized());
    const auto pairing = relay_.startPairing(*who);
    if (const auto* refused = std::get_if<Refusal>(&pairing))
        return refusal(*refused);
    const auto& started = std::get<Pairing>(pairing);
    return answer(200, {{"secret", started.secret}, {"expires_in", started.expiresInSeconds}, {"links", started.links},
                        {"fingerprint", started.fingerprint}});
}

HttpReply RelayRoutes::claimPairing(const nlohmann::json& body)
{
    const auto secret = member(body, "secret");
    const auto deviceId = member(body, "device_id");
    const auto name = body.contains("name") ? member(body, "name") : std::optional<std::string>("");
    if (!secret || !deviceId || !name)
        return refusal(Refusal::invalidRequest("配对需要 secret 和 device_id"));
    const auto token = relay_.claimPairing(*secret, *deviceId, *name);
    if (const auto* refused = std::get_if<Refusal>(&token))
        return refusal(*refused);
    return answer(200, {{"token", std::get<std::string>(token)}});
}

HttpReply RelayRoutes::devices(const std::optional<Credential>& who)
{
    if (!who)
        return refusal(Refusal::unauthorized());
    const auto listed = relay_.devices(*who);
    if (const auto* refused = std::get_if<Refusal>(&listed))
        return refusal(*refused);
    nlohmann::json list = nlohmann::json::array();
    for (const Device& device : std::get<std::vector<Device>>(listed))
        list.push_back({{"device_id", device.deviceId}, {"role", device.role}, {"name", device.name},
                        {"last_seen", device.lastSeen}, {"this", device.deviceId == who->deviceId}});
    return answer(200, {{"devices", std::move(list)}});
}

HttpReply RelayRoutes::removeDevice(const std::optional<Credential>& who, const nlohmann::json& body)
{
    if (!who)
        return refusal(Refusal::unauthorized());
    const auto deviceId = member(body, "device_id");
    if (!deviceId)
        return refusal(Refusal::invalidRequest("需要 device_id"));
    const auto removed = relay_.removeDevice(*who, *deviceId);
    if (const auto* refused = std::get_if<Refusal>(&removed))
        return refusal(*refused);
    if (!std::get<bool>(removed))
        return refusal({404, "no_such_device", "没有这台设备"});
    return answer(200, {{"ok", true}});
}

HttpReply RelayRoutes::health()
{
    const auto healthy = relay_.health();
    if (const auto* refused = std::get_if<Refusal>(&healthy))
        return refusal(*refused);
    return answer(200, {{"ok", true}});
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
