#pragma once

#include <nlohmann/json_fwd.hpp>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

namespace httplib {
class Client;
}

namespace tellwire {

// A failure the phone explains to its user in one sentence.
class PhoneError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The phone's side of the relay: code request, sign-in as "phone", publishing.
class PhoneClient {
public:
    // origin like "http://127.0.0.1:8787"; caCertificate checks HTTPS against
    // that file instead of the system's certificates.
    PhoneClient(const std::string& origin, const std::string& caCertificate = {});
    ~PhoneClient();

    void requestCode(const std::string& phone);
    void signIn(const std::string& phone, const std::string& code, const std::string& deviceId);
    // The seq the relay gave the event.
    std::int64_t publish(const nlohmann::json& event);

private:
    nlohmann::json post(const std::string& path, const nlohmann::json& body, const char* doing);

    std::string origin_;
    std::unique_ptr<httplib::Client> client_;
    std::string token_;
};

} // namespace tellwire
