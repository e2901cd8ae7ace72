#include "RelayServer.h"

#include "PhonePage.h"
#include "Relay.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <sys/socket.h>

#include <charconv>
#include <chrono>

namespace tellwire {

namespace {

// How much of an oversized body is read and thrown away before giving up on it.
constexpr std::size_t maxDrainedBytes = 1 << 20;

void answer(httplib::Response& res, int status, const nlohmann::json& body)
{
    res.status = status;
    res.set_header("Cache-Control", "no-store");
    res.set_content(body.dump(), "application/json");
}

void refuse(httplib::Response& res, const Refusal& refusal)
{
    answer(res, refusal.status, {{"error", refusal.error}, {"message", refusal.message}});
}

// Pulls a string member; an absent or mistyped one is a bad request.
std::optional<std::string> member(const nlohmann::json& body, const char* name)
{
    const auto it = body.find(name);
    if (it == body.end() || !it->is_string())
        return std::nullopt;
    return it->get<std::string>();
}

std::optional<std::string> bearerToken(const httplib::Request& req)
{
    const std::string header = req.get_header_value("Authorization");
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

} // namespace

RelayServer::RelayServer(Relay& relay, const std::optional<TlsFiles>& tls, Reach reach)
    : relay_(relay)
    , reach_(reach)
{
    if (tls)
        server_ = std::make_unique<httplib::SSLServer>(tls->certificate.c_str(), tls->privateKey.c_str());
    else
        server_ = std::make_unique<httplib::Server>();
    // Held polls keep their thread, so the pool is larger than the default.
    server_->new_task_queue = [] { return new httplib::ThreadPool(threads); };
    server_->set_payload_max_length(maxBodyBytes);
    server_->set_keep_alive_max_count(1000);
    // Headers and body go out in two writes; Nagle would hold the body back.
    server_->set_tcp_nodelay(true);
    // The library's default adds SO_REUSEPORT, which would let a second relay
    // share the port silently instead of failing to listen.
    server_->set_socket_options([](int sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    route();
}

RelayServer::~RelayServer()
{
    stop();
}

bool RelayServer::isValid() const
{
    return server_->is_valid();
}

int RelayServer::bind(const std::string& host, int port)
{
    if (port == 0)
        return server_->bind_to_any_port(host);
    return server_->bind_to_port(host, port) ? port : -1;
}

void RelayServer::logRequests(std::function<void(const std::string&)> line)
{
    server_->set_pre_routing_handler([line = std::move(line)](const httplib::Request& req, httplib::Response&) {
        // One line each, whatever bytes the request holds.
        auto printable = [](std::string text) {
            text.resize(std::min<std::size_t>(text.size(), 200));
            for (char& c : text)
                c = c > ' ' && c < 0x7f ? c : '?';
            return text;
        };
        std::string text = "request " + printable(req.method) + " " + printable(req.path);
        if (req.has_param("after"))
            text += " after=" + printable(req.get_param_value("after"));
        line(text);
        return httplib::Server::HandlerResponse::Unhandled;
    });
}

void RelayServer::start()
{
    listening_ = true;
    thread_ = std::thread([this] {
        server_->listen_after_bind();
        finished_ = true;
    });
}

void RelayServer::stop()
{
    relay_.stop();
    if (!listening_.exchange(false))
        return;
    // stop() does nothing before the server loop has started.
    while (!server_->is_running() && !finished_)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    server_->stop();
    thread_.join();
}

std::function<void(const httplib::Request&, httplib::Response&, const httplib::ContentReader&)>
RelayServer::withBody(BodyHandler handler)
{
    return [handler = std::move(handler)](const httplib::Request& req, httplib::Response& res,
                                          const httplib::ContentReader& reader) {
        std::string body;
        bool tooLarge = false;
        std::size_t discarded = 0;
        const bool complete = reader([&](const char* data, std::size_t length) {
            if (!tooLarge && body.size() + length <= maxBodyBytes) {
                body.append(data, length);
                return true;
            }
            // Read on a while without keeping anything, so that the client is
            // not reset before it can read the refusal.
            tooLarge = true;
            discarded += length;
            return discarded <= maxDrainedBytes;
        });
        if (tooLarge || res.status == 413)
            return refuse(res, Refusal::tooLarge());
        if (!complete)
            return refuse(res, Refusal::invalidRequest("请求内容不完整"));
        const auto json = nlohmann::json::parse(body, nullptr, false);
        if (json.is_discarded() || !json.is_object())
            return refuse(res, Refusal::invalidJson());
        res.status = 200;
        handler(req, res, json);
    };
}

void RelayServer::route()
{
    using namespace std::placeholders;
    auto& s = *server_;
    s.Post("/v1/auth/phone/request", withBody(std::bind(&RelayServer::requestCode, this, _1, _2, _3)));
    s.Post("/v1/auth/phone/verify", withBody(std::bind(&RelayServer::verify, this, _1, _2, _3)));
    s.Post("/v1/events", withBody(std::bind(&RelayServer::publish, this, _1, _2, _3)));
    s.Get("/v1/me", std::bind(&RelayServer::me, this, _1, _2));
    s.Get("/v1/events", std::bind(&RelayServer::readEvents, this, _1, _2));
    s.Post("/v1/pairings", withBody(std::bind(&RelayServer::startPairing, this, _1, _2, _3)));
    s.Post("/v1/pairings/claim", withBody(std::bind(&RelayServer::claimPairing, this, _1, _2, _3)));
    s.Get("/v1/devices", std::bind(&RelayServer::devices, this, _1, _2));
    s.Post("/v1/devices/remove", withBody(std::bind(&RelayServer::removeDevice, this, _1, _2, _3)));
    if (reach_ == Reach::Loopback)
        s.Post("/v1/auth/local", withBody(std::bind(&RelayServer::signInLocally, this, _1, _2, _3)));
    s.Get("/healthz", std::bind(&RelayServer::health, this, _1, _2));
    s.Get("/metrics", std::bind(&RelayServer::metrics, this, _1, _2));
    s.Get("/|/[a-z0-9.-]+", std::bind(&RelayServer::page, this, _1, _2));
    // Unknown paths: bodies are still read within the limit, so none lingers.
    s.Post(".*", withBody([](const auto&, auto& res, const auto&) { refuse(res, Refusal::notFound()); }));
    s.Get(".*", [](const auto&, auto& res) { refuse(res, Refusal::notFound()); });

    s.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        if (reach_ == Reach::Loopback && !isLoopbackHost(req.get_header_value("Host"))) {
            refuse(res, {421, "wrong_host", "只接受发往本机地址的请求"});
            res.set_header("Connection", "close");
            return httplib::Server::HandlerResponse::Handled;
        }
        // Other methods would have their bodies read without a bound.
        if (req.method == "GET" || req.method == "HEAD" || req.method == "POST")
            return httplib::Server::HandlerResponse::Unhandled;
        refuse(res, Refusal::methodNotAllowed());
        res.set_header("Allow", "GET, POST");
        res.set_header("Connection", "close");
        return httplib::Server::HandlerResponse::Handled;
    });
    // Replies the library makes on its own (a bad request line, 413, 404) get
    // the same body as ours; ours already carry one.
    s.set_error_handler(httplib::Server::HandlerWithResponse(
        [](const httplib::Request&, httplib::Response& res) {
            if (!res.body.empty())
                return httplib::Server::HandlerResponse::Unhandled;
            refuse(res, Refusal::forStatus(res.status));
            return httplib::Server::HandlerResponse::Handled;
        }));
    s.set_logger([this](const httplib::Request& req, const httplib::Response& res) {
        relay_.metrics().countRequest(req.method, req.path, res.status);
    });
    s.set_exception_handler([this](const httplib::Request&, httplib::Response& res, std::exception_ptr problem) {
        try {
            std::rethrow_exception(problem);
        } catch (const StoreUnavailable&) {
            relay_.metrics().countStoreError();
            refuse(res, Refusal::unavailable());
        } catch (...) {
            refuse(res, Refusal::internal());
        }
    });
}

void RelayServer::requestCode(const httplib::Request&, httplib::Response& res, const nlohmann::json& body)
{
    const auto phone = member(body, "phone");
    if (!phone)
        return refuse(res, Refusal::invalidPhone());
    const auto issued = relay_.requestCode(*phone);
    if (const auto* refusal = std::get_if<Refusal>(&issued))
        return refuse(res, *refusal);
    answer(res, 200, {{"ok", true}, {"expires_in", 300}});
}

void RelayServer::verify(const httplib::Request&, httplib::Response& res, const nlohmann::json& body)
{
    const auto phone = member(body, "phone");
    if (!phone)
        return refuse(res, Refusal::invalidPhone());
    const auto code = member(body, "code");
    const auto role = member(body, "role");
    const auto deviceId = member(body, "device_id");
    if (!code || !role || !deviceId)
        return refuse(res, Refusal::invalidRequest("登录请求需要 phone、code、role 和 device_id"));
    const auto token = relay_.verify(*phone, *code, *role, *deviceId);
    if (const auto* refusal = std::get_if<Refusal>(&token))
        return refuse(res, *refusal);
    answer(res, 200, {{"token", std::get<std::string>(token)}});
}

std::optional<Credential> RelayServer::caller(const httplib::Request& req, httplib::Response& res)
{
    const auto token = bearerToken(req);
    auto who = token ? relay_.identify(*token) : std::nullopt;
    if (!who)
        refuse(res, Refusal::unauthorized());
    return who;
}

void RelayServer::me(const httplib::Request& req, httplib::Response& res)
{
    const auto who = caller(req, res);
    if (!who)
        return;
    answer(res, 200, {{"phone", who->number}, {"role", who->role}, {"device_id", who->deviceId}});
}

void RelayServer::readEvents(const httplib::Request& req, httplib::Response& res)
{
    const auto who = caller(req, res);
    if (!who)
        return;
    std::int64_t after = -1;
    if (req.has_param("after")) {
        const auto parsed = parseCursor(req.get_param_value("after"));
        if (!parsed)
            return refuse(res, {400, "invalid_cursor", "after 必须是 -1 或非负整数"});
        after = *parsed;
    }
    const auto batch = relay_.events(*who, after);
    if (const auto* refusal = std::get_if<Refusal>(&batch))
        return refuse(res, *refusal);
    const auto& events = std::get<EventBatch>(batch);
    nlohmann::json list = nlohmann::json::array();
    for (const Event& event : events.events)
        list.push_back(event.toJson());
    answer(res, 200, {{"events", std::move(list)}, {"cursor", events.cursor}});
}

void RelayServer::publish(const httplib::Request& req, httplib::Response& res, const nlohmann::json& body)
{
    const auto who = caller(req, res);
    if (!who)
        return;
    if (who->role != "phone")
        return refuse(res, Refusal::forbidden());
    auto draft = EventDraft::fromJson(body);
    if (const auto* refusal = std::get_if<Refusal>(&draft))
        return refuse(res, *refusal);
    const auto published = relay_.publish(*who, std::move(std::get<EventDraft>(draft)));
    if (const auto* refusal = std::get_if<Refusal>(&published))
        return refuse(res, *refusal);
    const auto& event = std::get<PublishedEvent>(published);
    answer(res, 200, {{"seq", event.seq}, {"at", event.at}, {"cursor", event.seq}});
}

void RelayServer::signInLocally(const httplib::Request&, httplib::Response& res, const nlohmann::json& body)
{
    const auto secret = member(body, "secret");
    const auto deviceId = member(body, "device_id");
    if (!secret || !deviceId)
        return refuse(res, Refusal::invalidRequest("本机登录需要 secret 和 device_id"));
    const auto token = relay_.signInLocally(*secret, *deviceId);
    if (const auto* refusal = std::get_if<Refusal>(&token))
        return refuse(res, *refusal);
    answer(res, 200, {{"token", std::get<std::string>(token)}});
}

void RelayServer::startPairing(const httplib::Request& req, httplib::Response& res, const nlohmann::json&)
{
    const auto who = caller(req, res);
    if (!who)
        return;
    const auto pairing = relay_.startPairing(*who);
    if (const auto* refusal = std::get_if<Refusal>(&pairing))
        return refuse(res, *refusal);
    const auto& started = std::get<Pairing>(pairing);
    answer(res, 200, {{"secret", started.secret}, {"expires_in", started.expiresInSeconds}, {"links", started.links},
                      {"fingerprint", started.fingerprint}});
}

void RelayServer::claimPairing(const httplib::Request&, httplib::Response& res, const nlohmann::json& body)
{
    const auto secret = member(body, "secret");
    const auto deviceId = member(body, "device_id");
    const auto name = body.contains("name") ? member(body, "name") : std::optional<std::string>("");
    if (!secret || !deviceId || !name)
        return refuse(res, Refusal::invalidRequest("配对需要 secret 和 device_id"));
    const auto token = relay_.claimPairing(*secret, *deviceId, *name);
    if (const auto* refusal = std::get_if<Refusal>(&token))
        return refuse(res, *refusal);
    answer(res, 200, {{"token", std::get<std::string>(token)}});
}

void RelayServer::devices(const httplib::Request& req, httplib::Response& res)
{
    const auto who = caller(req, res);
    if (!who)
        return;
    const auto listed = relay_.devices(*who);
    if (const auto* refusal = std::get_if<Refusal>(&listed))
        return refuse(res, *refusal);
    nlohmann::json list = nlohmann::json::array();
    for (const Device& device : std::get<std::vector<Device>>(listed))
        list.push_back({{"device_id", device.deviceId}, {"role", device.role}, {"name", device.name},
                        {"last_seen", device.lastSeen}, {"this", device.deviceId == who->deviceId}});
    answer(res, 200, {{"devices", std::move(list)}});
}

void RelayServer::removeDevice(const httplib::Request& req, httplib::Response& res, const nlohmann::json& body)
{
    const auto who = caller(req, res);
    if (!who)
        return;
    const auto deviceId = member(body, "device_id");
    if (!deviceId)
        return refuse(res, Refusal::invalidRequest("需要 device_id"));
    const auto removed = relay_.removeDevice(*who, *deviceId);
    if (const auto* refusal = std::get_if<Refusal>(&removed))
        return refuse(res, *refusal);
    if (!std::get<bool>(removed))
        return refuse(res, {404, "no_such_device", "没有这台设备"});
    answer(res, 200, {{"ok", true}});
}

void RelayServer::health(const httplib::Request&, httplib::Response& res)
{
    const auto healthy = relay_.health();
    if (const auto* refusal = std::get_if<Refusal>(&healthy))
        return refuse(res, *refusal);
    answer(res, 200, {{"ok", true}});
}

void RelayServer::metrics(const httplib::Request&, httplib::Response& res)
{
    res.status = 200;
    res.set_header("Cache-Control", "no-store");
    res.set_content(relay_.metricsText(), "text/plain; version=0.0.4");
}

void RelayServer::page(const httplib::Request& req, httplib::Response& res)
{
    const auto asset = phoneAsset(req.path);
    if (!asset)
        return refuse(res, Refusal::notFound());
    res.status = 200;
    res.set_header("Cache-Control", "no-cache");
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_header("Referrer-Policy", "no-referrer");
    res.set_header("Content-Security-Policy", "default-src 'self'; script-src 'self'; style-src 'self'; "
                                              "connect-src 'self'; img-src 'self' data:; frame-ancestors 'none'");
    res.set_content(std::string(asset->content), asset->type);
}

} // namespace tellwire
