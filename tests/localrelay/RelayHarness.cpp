#include "RelayHarness.h"

#include <httplib.h>

namespace tellwire::test {

namespace {

Reply toReply(const httplib::Result& result)
{
    Reply reply;
    if (!result)
        return reply;
    reply.status = result->status;
    reply.raw = result->body;
    reply.body = nlohmann::json::parse(result->body, nullptr, false);
    return reply;
}

httplib::Headers bearer(const std::string& token)
{
    httplib::Headers headers;
    if (!token.empty())
        headers.emplace("Authorization", "Bearer " + token);
    return headers;
}

} // namespace

RelayOptions RelayHarness::withHold(std::chrono::milliseconds hold)
{
    RelayOptions options;
    options.fixedCode = code;
    options.hold = hold;
    return options;
}

RelayHarness::RelayHarness(RelayOptions options)
    : relay([this, &options] {
        options.now = [this] { return clock.load(); };
        options.notice = [this](const std::string& line) {
            std::lock_guard lock(mutex_);
            notices_.push_back(line);
        };
        return options;
    }())
    , server(relay)
{
    port = server.bind("127.0.0.1", 0);
    server.start();
}

RelayHarness::~RelayHarness()
{
    server.stop();
}

std::vector<std::string> RelayHarness::notices()
{
    std::lock_guard lock(mutex_);
    return notices_;
}

Reply post(int port, const std::string& path, const std::string& body, const std::string& token)
{
    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(30);
    return toReply(client.Post(path, bearer(token), body, "application/json"));
}

Reply get(int port, const std::string& path, const std::string& token)
{
    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(30);
    return toReply(client.Get(path, bearer(token)));
}

std::string signIn(int port, const std::string& phone, const std::string& role, const std::string& code)
{
    post(port, "/v1/auth/phone/request", nlohmann::json{{"phone", phone}}.dump());
    const Reply reply = post(port, "/v1/auth/phone/verify",
                             nlohmann::json{{"phone", phone}, {"code", code}, {"role", role}, {"device_id", role + "-test"}}
                                 .dump());
    if (reply.status != 200 || !reply.body.is_object() || !reply.body.contains("token"))
        return {};
    return reply.body["token"].get<std::string>();
}

Reply RelayHarness::post(const std::string& path, const nlohmann::json& body, const std::string& token)
{
    return test::post(port, path, body.dump(), token);
}

Reply RelayHarness::postRaw(const std::string& path, const std::string& body, const std::string& token)
{
    return test::post(port, path, body, token);
}

Reply RelayHarness::get(const std::string& path, const std::string& token)
{
    return test::get(port, path, token);
}

std::string RelayHarness::signIn(const std::string& phone, const std::string& role)
{
    return test::signIn(port, phone, role, code);
}

Reply RelayHarness::publish(const std::string& phoneToken, const nlohmann::json& event)
{
    return post("/v1/events", event, phoneToken);
}

Reply RelayHarness::events(const std::string& desktopToken, std::int64_t after)
{
    return get("/v1/events?after=" + std::to_string(after), desktopToken);
}

} // namespace tellwire::test
