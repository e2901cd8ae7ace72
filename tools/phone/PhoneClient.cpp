#include "PhoneClient.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

namespace tellwire {

PhoneClient::PhoneClient(const std::string& origin, const std::string& caCertificate)
    : origin_(origin)
{
    while (!origin_.empty() && origin_.back() == '/')
        origin_.pop_back();
    if (origin_.rfind("http://", 0) != 0 && origin_.rfind("https://", 0) != 0)
        throw PhoneError("the relay origin must start with http:// or https:// (got \"" + origin + "\")");
    client_ = std::make_unique<httplib::Client>(origin_);
    if (!client_->is_valid())
        throw PhoneError("cannot use the relay origin \"" + origin + "\"");
    client_->set_keep_alive(true);
    client_->set_connection_timeout(5);
    client_->set_read_timeout(25);
    client_->set_write_timeout(10);
    if (!caCertificate.empty())
        client_->set_ca_cert_path(caCertificate);
}

PhoneClient::~PhoneClient() = default;

nlohmann::json PhoneClient::post(const std::string& path, const nlohmann::json& body, const char* doing)
{
    httplib::Headers headers;
    if (!token_.empty())
        headers.emplace("Authorization", "Bearer " + token_);
    const std::string payload = body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    const auto result = client_->Post(path, headers, payload, "application/json");
    if (!result) {
        const auto error = result.error();
        if (error == httplib::Error::Connection)
            throw PhoneError("cannot reach the relay at " + origin_ + " (is tellwire-relay running?)");
        if (error == httplib::Error::SSLServerVerification || error == httplib::Error::SSLConnection)
            throw PhoneError("the relay at " + origin_ + " failed the TLS check (" + httplib::to_string(error)
                             + "); pass --ca-cert for a self-signed certificate");
        throw PhoneError("no answer from the relay at " + origin_ + " while " + doing + " ("
                         + httplib::to_string(error) + ")");
    }
    auto reply = nlohmann::json::parse(result->body, nullptr, false);
    if (result->status >= 200 && result->status < 300) {
        if (!reply.is_object())
            throw PhoneError(std::string("the relay's answer to ") + doing + " is not a JSON object");
        return reply;
    }
    std::string said;
    if (reply.is_object() && reply.contains("message") && reply["message"].is_string())
        said = reply["message"].get<std::string>();
    switch (result->status) {
    case 429:
        throw PhoneError("too many requests for this number; wait a minute and try again");
    case 401:
        throw PhoneError(token_.empty()
                             ? "the relay refused the code: wrong, expired or already used"
                               " (a relay started with --code accepts only that code)"
                             : "the relay no longer accepts this phone's sign-in (was it restarted?)");
    default:
        throw PhoneError("the relay refused " + std::string(doing) + " with status " + std::to_string(result->status)
                         + (said.empty() ? "" : ": " + said));
    }
}

void PhoneClient::requestCode(const std::string& phone)
{
    post("/v1/auth/phone/request", {{"phone", phone}}, "the code request");
}

void PhoneClient::signIn(const std::string& phone, const std::string& code, const std::string& deviceId)
{
    token_.clear();
    const auto reply = post("/v1/auth/phone/verify",
                            {{"phone", phone}, {"code", code}, {"role", "phone"}, {"device_id", deviceId}},
                            "the sign-in");
    const auto token = reply.find("token");
    if (token == reply.end() || !token->is_string() || token->get<std::string>().empty())
        throw PhoneError("the relay's sign-in answer carries no token");
    token_ = token->get<std::string>();
}

std::int64_t PhoneClient::publish(const nlohmann::json& event)
{
    const auto reply = post("/v1/events", event, "an event");
    const auto seq = reply.find("seq");
    if (seq == reply.end() || !seq->is_number_integer())
        throw PhoneError("the relay's answer to an event carries no seq");
    return seq->get<std::int64_t>();
}

} // namespace tellwire
