#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tellwire {

// Who a bearer token speaks for.
struct Credential {
    std::string number;
    std::string role; // "desktop" or "phone"
    std::string deviceId;

    friend bool operator==(const Credential&, const Credential&) = default;
};

// A signed-in device as the desktop lists it.
struct Device {
    std::string deviceId;
    std::string role;
    std::string name;
    std::int64_t lastSeen = 0; // milliseconds since 1970
};

// What the relay keeps across restarts: its accounts, the token of each
// signed-in device, open pairings, and how far each account's event
// numbering has gone.
// Codes, events and held polls live only in the relay's memory. Called with
// the relay's lock held, one call at a time.
class RelayStore {
public:
    virtual ~RelayStore() = default;

    // Every account, the one signed in to longest ago first.
    virtual std::vector<std::string> accounts() = 0;
    // Binds a new token to the device `who` names (account, role and device
    // id), replacing that device's previous token; other devices keep theirs.
    // Beyond `devicesPerAccount`, the device signed in longest ago is signed out.
    virtual void bind(const std::string& token, const Credential& who, const std::string& name, std::int64_t now,
                      std::size_t devicesPerAccount) = 0;
    virtual std::optional<Credential> credential(const std::string& token) = 0;
    virtual void touch(const Credential& who, std::int64_t now) = 0;
    // The account's devices, the one seen last first.
    virtual std::vector<Device> devices(const std::string& number) = 0;
    // Signs the device out; false when the account has no such device.
    virtual bool removeDevice(const std::string& number, const std::string& deviceId) = 0;
    // A pairing secret for the account until `expiresAt`; the account keeps
    // at most `perAccount` open ones, the newest.
    virtual void addPairing(const std::string& secret, const std::string& number, std::int64_t expiresAt,
                            std::size_t perAccount) = 0;
    // The account a live pairing secret belongs to; it is used up by this.
    virtual std::optional<std::string> claimPairing(const std::string& secret, std::int64_t now) = 0;
    // Forgets the account and signs out every device of it.
    virtual void dropAccount(const std::string& number) = 0;
    // The first of `count` event numbers for the account that no earlier call,
    // in this process or before a restart, has handed out.
    virtual std::int64_t reserveSequences(const std::string& number, std::int64_t count) = 0;
};

} // namespace tellwire
