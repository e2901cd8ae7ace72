#pragma once

#include "RelayStore.h"
#include "SignInCodes.h"

#include <map>
#include <memory>
#include <string>
#include <unordered_map>

struct sqlite3;

namespace tellwire {

// The relay's state on one machine: sign-ins in one SQLite file (":memory:"
// keeps them for the process only), codes and events in memory. Tokens and
// pairing secrets are kept as their SHA-256, so the file alone signs nobody
// in. Beyond the limit of accounts, the one used least recently is dropped
// with its devices.
class SqliteRelayStore final : public RelayStore {
public:
    // Opens or creates the database; throws std::runtime_error when it cannot.
    explicit SqliteRelayStore(const std::string& path);
    ~SqliteRelayStore() override;

    void setLimits(const RelayLimits& limits) override;
    void ping() override {}
    void bind(const std::string& token, const Credential& who, const std::string& name, std::int64_t now) override;
    std::optional<Credential> credential(const std::string& token) override;
    void touch(const Credential& who, std::int64_t now) override;
    std::vector<Device> devices(const std::string& number) override;
    bool removeDevice(const std::string& number, const std::string& deviceId) override;
    void addPairing(const std::string& secret, const std::string& number, std::int64_t expiresAt) override;
    std::optional<std::string> claimPairing(const std::string& secret, std::int64_t now) override;
    bool addCode(const std::string& number, const std::string& code, std::int64_t now) override;
    bool redeemCode(const std::string& number, const std::string& code, std::int64_t now) override;
    Event append(const std::string& number, EventDraft draft, std::int64_t at) override;
    EventBatch eventsAfter(const std::string& number, std::int64_t cursor, std::size_t limit) override;
    void watchAppends(std::function<void(const std::string&)>) override {} // no other relay appends here

private:
    class Statement;
    struct AccountEvents {
        EventLog log;
        std::int64_t reservedEnd = 0; // the first seq not yet reserved in the file
    };

    void run(const char* sql);
    std::int64_t nextSignIn();
    // Counts a use of the account, making room for it when it is new.
    void use(const std::string& number);
    void dropAccount(const std::string& number);
    AccountEvents& eventsOf(const std::string& number);
    std::int64_t reserveSequences(const std::string& number, std::int64_t count);

    sqlite3* db_ = nullptr;
    RelayLimits limits_;
    SignInCodes codes_{limits_};
    std::map<std::string, AccountEvents> events_;
    std::unordered_map<std::string, std::uint64_t> lastUse_;
    std::uint64_t uses_ = 0;
};

} // namespace tellwire
