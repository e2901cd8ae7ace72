#include "SqliteRelayStore.h"

#include <openssl/evp.h>
#include <sqlite3.h>

#include <algorithm>
#include <stdexcept>
#include <string_view>

namespace tellwire {

namespace {

const char* const kSchema = R"(
PRAGMA foreign_keys = ON;
CREATE TABLE IF NOT EXISTS accounts (
    number    TEXT PRIMARY KEY,
    next_seq  INTEGER NOT NULL DEFAULT 1,
    signed_in INTEGER NOT NULL DEFAULT 0
);
CREATE TABLE IF NOT EXISTS devices (
    number       TEXT NOT NULL REFERENCES accounts (number) ON DELETE CASCADE,
    role         TEXT NOT NULL,
    device_id    TEXT NOT NULL,
    token_sha256 BLOB NOT NULL UNIQUE,
    signed_in    INTEGER NOT NULL,
    name         TEXT NOT NULL DEFAULT '',
    last_seen    INTEGER NOT NULL DEFAULT 0,
    PRIMARY KEY (number, role, device_id)
);
CREATE TABLE IF NOT EXISTS pairings (
    secret_sha256 BLOB PRIMARY KEY,
    number        TEXT NOT NULL REFERENCES accounts (number) ON DELETE CASCADE,
    expires_at    INTEGER NOT NULL
);
)";

// Event numbers are reserved in the file this many at a time, so that a
// restarted relay numbers on beyond every cursor a desktop may hold.
constexpr std::int64_t sequenceBlock = 1000;

std::string sha256(const std::string& text)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(text.data(), text.size(), digest, &size, EVP_sha256(), nullptr) != 1)
        throw std::runtime_error("SHA-256 failed");
    return std::string(reinterpret_cast<const char*>(digest), size);
}

[[noreturn]] void fail(sqlite3* db)
{
    throw std::runtime_error(std::string("relay store: ") + sqlite3_errmsg(db));
}

} // namespace

class SqliteRelayStore::Statement {
public:
    Statement(sqlite3* db, const char* sql)
        : db_(db)
    {
        if (sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr) != SQLITE_OK)
            fail(db);
    }
    ~Statement() { sqlite3_finalize(statement_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& text(int index, std::string_view value)
    {
        return check(sqlite3_bind_text(statement_, index, value.data(), int(value.size()), SQLITE_TRANSIENT));
    }
    Statement& blob(int index, std::string_view value)
    {
        return check(sqlite3_bind_blob(statement_, index, value.data(), int(value.size()), SQLITE_TRANSIENT));
    }
    Statement& integer(int index, std::int64_t value) { return check(sqlite3_bind_int64(statement_, index, value)); }

    // True while there is a row to read.
    bool step()
    {
        const int result = sqlite3_step(statement_);
        if (result != SQLITE_ROW && result != SQLITE_DONE)
            fail(db_);
        return result == SQLITE_ROW;
    }
    std::string textAt(int column) const
    {
        const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
        return data ? std::string(data, std::size_t(sqlite3_column_bytes(statement_, column))) : std::string();
    }
    std::int64_t integerAt(int column) const { return sqlite3_column_int64(statement_, column); }

private:
    Statement& check(int result)
    {
        if (result != SQLITE_OK)
            fail(db_);
        return *this;
    }

    sqlite3* db_;
    sqlite3_stmt* statement_ = nullptr;
};

namespace {

// Rolls back unless committed, so that a failed step leaves nothing half done.
class Transaction {
public:
    explicit Transaction(sqlite3* db)
        : db_(db)
    {
        if (sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
            fail(db_);
    }
    ~Transaction()
    {
        if (!committed_)
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    void commit()
    {
        if (sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
            fail(db_);
        committed_ = true;
    }

private:
    sqlite3* db_;
    bool committed_ = false;
};

} // namespace

SqliteRelayStore::SqliteRelayStore(const std::string& path)
{
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        const std::string why = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        throw std::runtime_error("relay store " + path + ": " + why);
    }
    try {
        // Another relay on the same file waits its turn instead of failing.
        sqlite3_busy_timeout(db_, 2000);
        run("PRAGMA journal_mode = WAL");
        run(kSchema);
        Statement select(db_, "SELECT number FROM accounts ORDER BY signed_in, number");
        while (select.step())
            lastUse_[select.textAt(0)] = ++uses_;
    } catch (...) {
        sqlite3_close(db_);
        throw;
    }
}

SqliteRelayStore::~SqliteRelayStore()
{
    sqlite3_close(db_);
}

void SqliteRelayStore::run(const char* sql)
{
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        fail(db_);
}

std::int64_t SqliteRelayStore::nextSignIn()
{
    Statement newest(db_, "SELECT coalesce(max(signed_in), 0) + 1 FROM accounts");
    newest.step();
    return newest.integerAt(0);
}

void SqliteRelayStore::setLimits(const RelayLimits& limits)
{
    limits_ = limits;
}

void SqliteRelayStore::use(const std::string& number)
{
    if (!lastUse_.contains(number) && lastUse_.size() >= std::max<std::size_t>(limits_.accounts, 1)) {
        const auto oldest = std::min_element(lastUse_.begin(), lastUse_.end(),
                                             [](const auto& a, const auto& b) { return a.second < b.second; });
        dropAccount(oldest->first);
    }
    lastUse_[number] = ++uses_;
}

void SqliteRelayStore::bind(const std::string& token, const Credential& who, const std::string& name,
                            std::int64_t now)
{
    use(who.number);
    Transaction transaction(db_);
    const std::int64_t order = nextSignIn();
    Statement(db_, "INSERT INTO accounts (number, signed_in) VALUES (?1, ?2) "
                   "ON CONFLICT (number) DO UPDATE SET signed_in = excluded.signed_in")
        .text(1, who.number).integer(2, order).step();
    Statement(db_, "INSERT INTO devices (number, role, device_id, token_sha256, signed_in, name, last_seen) "
                   "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7) ON CONFLICT (number, role, device_id) DO UPDATE "
                   "SET token_sha256 = excluded.token_sha256, signed_in = excluded.signed_in, name = excluded.name, "
                   "last_seen = excluded.last_seen")
        .text(1, who.number).text(2, who.role).text(3, who.deviceId).blob(4, sha256(token)).integer(5, order)
        .text(6, name).integer(7, now).step();
    Statement(db_, "DELETE FROM devices WHERE number = ?1 AND signed_in NOT IN "
                   "(SELECT signed_in FROM devices WHERE number = ?1 ORDER BY signed_in DESC LIMIT ?2)")
        .text(1, who.number).integer(2, std::int64_t(limits_.devicesPerAccount)).step();
    transaction.commit();
}

std::optional<Credential> SqliteRelayStore::credential(const std::string& token)
{
    Statement select(db_, "SELECT number, role, device_id FROM devices WHERE token_sha256 = ?1");
    select.blob(1, sha256(token));
    if (!select.step())
        return std::nullopt;
    Credential who{select.textAt(0), select.textAt(1), select.textAt(2)};
    use(who.number);
    return who;
}

void SqliteRelayStore::touch(const Credential& who, std::int64_t now)
{
    Statement(db_, "UPDATE devices SET last_seen = ?4 WHERE number = ?1 AND role = ?2 AND device_id = ?3")
        .text(1, who.number).text(2, who.role).text(3, who.deviceId).integer(4, now).step();
}

std::vector<Device> SqliteRelayStore::devices(const std::string& number)
{
    Statement select(db_, "SELECT device_id, role, name, last_seen FROM devices WHERE number = ?1 "
                          "ORDER BY last_seen DESC, signed_in DESC");
    select.text(1, number);
    std::vector<Device> devices;
    while (select.step())
        devices.push_back({select.textAt(0), select.textAt(1), select.textAt(2), select.integerAt(3)});
    return devices;
}

bool SqliteRelayStore::removeDevice(const std::string& number, const std::string& deviceId)
{
    Statement(db_, "DELETE FROM devices WHERE number = ?1 AND device_id = ?2").text(1, number).text(2, deviceId).step();
    return sqlite3_changes(db_) > 0;
}

void SqliteRelayStore::addPairing(const std::string& secret, const std::string& number, std::int64_t expiresAt)
{
    Transaction transaction(db_);
    Statement(db_, "INSERT INTO pairings (secret_sha256, number, expires_at) VALUES (?1, ?2, ?3)")
        .blob(1, sha256(secret)).text(2, number).integer(3, expiresAt).step();
    Statement(db_, "DELETE FROM pairings WHERE number = ?1 AND rowid NOT IN "
                   "(SELECT rowid FROM pairings WHERE number = ?1 ORDER BY expires_at DESC, rowid DESC LIMIT ?2)")
        .text(1, number).integer(2, std::int64_t(limits_.pairingsPerAccount)).step();
    transaction.commit();
}

std::optional<std::string> SqliteRelayStore::claimPairing(const std::string& secret, std::int64_t now)
{
    Transaction transaction(db_);
    Statement(db_, "DELETE FROM pairings WHERE expires_at <= ?1").integer(1, now).step();
    Statement claim(db_, "DELETE FROM pairings WHERE secret_sha256 = ?1 RETURNING number");
    claim.blob(1, sha256(secret));
    std::optional<std::string> number;
    if (claim.step()) {
        number = claim.textAt(0);
        claim.step();
    }
    transaction.commit();
    return number;
}

void SqliteRelayStore::dropAccount(const std::string& number)
{
    Statement(db_, "DELETE FROM accounts WHERE number = ?1").text(1, number).step();
    events_.erase(number);
    lastUse_.erase(number);
}

bool SqliteRelayStore::addCode(const std::string& number, const std::string& code, std::int64_t now)
{
    return codes_.issue(number, code, now);
}

bool SqliteRelayStore::redeemCode(const std::string& number, const std::string& code, std::int64_t now)
{
    return codes_.redeem(number, code, now);
}

SqliteRelayStore::AccountEvents& SqliteRelayStore::eventsOf(const std::string& number)
{
    use(number);
    if (const auto it = events_.find(number); it != events_.end())
        return it->second;
    const std::int64_t firstSeq = reserveSequences(number, sequenceBlock);
    return events_.try_emplace(number, AccountEvents{
        EventLog(limits_.eventsPerAccount, limits_.textBytesPerAccount, firstSeq), firstSeq + sequenceBlock})
        .first->second;
}

Event SqliteRelayStore::append(const std::string& number, EventDraft draft, std::int64_t at)
{
    AccountEvents& account = eventsOf(number);
    if (account.log.nextSeq() == account.reservedEnd)
        account.reservedEnd = reserveSequences(number, sequenceBlock) + sequenceBlock;
    return account.log.append(std::move(draft), at);
}

EventBatch SqliteRelayStore::eventsAfter(const std::string& number, std::int64_t cursor, std::size_t limit)
{
    return eventsOf(number).log.after(cursor, limit);
}

std::int64_t SqliteRelayStore::reserveSequences(const std::string& number, std::int64_t count)
{
    Transaction transaction(db_);
    Statement(db_, "INSERT INTO accounts (number) VALUES (?1) ON CONFLICT (number) DO NOTHING").text(1, number).step();
    Statement update(db_, "UPDATE accounts SET next_seq = next_seq + ?2 WHERE number = ?1 RETURNING next_seq - ?2");
    update.text(1, number).integer(2, count).step();
    const std::int64_t first = update.integerAt(0);
    update.step(); // finish the statement before the commit
    transaction.commit();
    return first;
}

} // namespace tellwire
