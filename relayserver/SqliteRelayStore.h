#pragma once

#include "RelayStore.h"

#include <memory>
#include <string>

struct sqlite3;

namespace tellwire {

// The relay's state in one SQLite file (":memory:" keeps it for the process
// only). Tokens and pairing secrets are kept as their SHA-256, so the file
// alone signs nobody in.
class SqliteRelayStore final : public RelayStore {
public:
    // Opens or creates the database; throws std::runtime_error when it cannot.
    explicit SqliteRelayStore(const std::string& path);
    ~SqliteRelayStore() override;

    std::vector<std::string> accounts() override;
    void bind(const std::string& token, const Credential& who, const std::string& name, std::int64_t now,
              std::size_t devicesPerAccount) override;
    std::optional<Credential> credential(const std::string& token) override;
    void touch(const Credential& who, std::int64_t now) override;
    std::vector<Device> devices(const std::string& number) override;
    bool removeDevice(const std::string& number, const std::string& deviceId) override;
    void addPairing(const std::string& secret, const std::string& number, std::int64_t expiresAt,
                    std::size_t perAccount) override;
    std::optional<std::string> claimPairing(const std::string& secret, std::int64_t now) override;
    void dropAccount(const std::string& number) override;
    std::int64_t reserveSequences(const std::string& number, std::int64_t count) override;

private:
    class Statement;

    void run(const char* sql);
    std::int64_t nextSignIn();

    sqlite3* db_ = nullptr;
};

} // namespace tellwire
