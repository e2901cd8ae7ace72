#include "RedisRelayStore.h"

#include "RedisAppendWatcher.h"

#include <boost/asio/this_coro.hpp>
#include <hiredis/hiredis.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>

namespace tellwire {

namespace asio = boost::asio;

namespace {

// Keys: tellwire:token:<sha256> → hash of number, role, device;
// tellwire:devices:<number> → hash "<role>\n<device>" → {t: token sha256,
// s: sign-in order, n: name, l: last seen}; tellwire:pairing:<sha256> →
// "<expires> <number>" and tellwire:pairings:<number> → its open ones by age;
// tellwire:codes:<number> → {r: request times, c: [[code, expires]], w: wrong
// codes}; tellwire:seq:<number> → the last seq handed out;
// tellwire:events:<number> → "<seq> <at> <json>" scored by seq, and
// tellwire:eventbytes:<number> → their bytes in all.
const std::string prefix = "tellwire:";

std::string key(std::string_view kind, std::string_view id)
{
    return prefix + std::string(kind) + ":" + std::string(id);
}

std::string text(const redisReply* reply)
{
    return reply && reply->type == REDIS_REPLY_STRING ? std::string(reply->str, reply->len) : std::string();
}

const char* const bindScript = R"(
local field = ARGV[2] .. '\n' .. ARGV[3]
local order = redis.call('INCR', KEYS[3])
local old = redis.call('HGET', KEYS[1], field)
if old then redis.call('DEL', ARGV[9] .. cjson.decode(old).t) end
redis.call('HSET', KEYS[1], field, cjson.encode({t = ARGV[8], s = order, n = ARGV[4], l = ARGV[5]}))
redis.call('HSET', KEYS[2], 'number', ARGV[1], 'role', ARGV[2], 'device', ARGV[3])
redis.call('PEXPIRE', KEYS[2], ARGV[7])
local devices = {}
local all = redis.call('HGETALL', KEYS[1])
for i = 1, #all, 2 do
  local device = cjson.decode(all[i + 1])
  table.insert(devices, {field = all[i], token = device.t, order = device.s})
end
table.sort(devices, function(a, b) return a.order > b.order end)
for i = tonumber(ARGV[6]) + 1, #devices do
  redis.call('HDEL', KEYS[1], devices[i].field)
  redis.call('DEL', ARGV[9] .. devices[i].token)
end
redis.call('PEXPIRE', KEYS[1], ARGV[7])
return 1
)";

const char* const touchScript = R"(
local device = redis.call('HGET', KEYS[1], ARGV[1])
if not device then return 0 end
device = cjson.decode(device)
device.l = ARGV[2]
redis.call('HSET', KEYS[1], ARGV[1], cjson.encode(device))
redis.call('PEXPIRE', KEYS[1], ARGV[3])
redis.call('PEXPIRE', ARGV[4] .. device.t, ARGV[3])
redis.call('PEXPIRE', KEYS[2], ARGV[3])
return 1
)";

const char* const removeScript = R"(
local removed = 0
for _, role in ipairs({'desktop', 'phone'}) do
  local field = role .. '\n' .. ARGV[1]
  local device = redis.call('HGET', KEYS[1], field)
  if device then
    redis.call('DEL', ARGV[2] .. cjson.decode(device).t)
    redis.call('HDEL', KEYS[1], field)
    removed = 1
  end
end
return removed
)";

const char* const addPairingScript = R"(
local order = redis.call('INCR', KEYS[3])
redis.call('SET', KEYS[1], ARGV[2] .. ' ' .. ARGV[1], 'PX', ARGV[6])
redis.call('ZADD', KEYS[2], order, ARGV[4])
local excess = redis.call('ZCARD', KEYS[2]) - tonumber(ARGV[3])
if excess > 0 then
  for _, secret in ipairs(redis.call('ZRANGE', KEYS[2], 0, excess - 1)) do redis.call('DEL', ARGV[5] .. secret) end
  redis.call('ZREMRANGEBYRANK', KEYS[2], 0, excess - 1)
end
redis.call('PEXPIRE', KEYS[2], ARGV[6])
return 1
)";

const char* const claimScript = R"(
local pairing = redis.call('GET', KEYS[1])
if not pairing then return false end
redis.call('DEL', KEYS[1])
local expires, number = string.match(pairing, '^(%d+) (.*)$')
redis.call('ZREM', ARGV[2] .. number, ARGV[3])
if tonumber(expires) <= tonumber(ARGV[1]) then return false end
return number
)";

const char* const addCodeScript = R"(
local now = tonumber(ARGV[2])
local state = redis.call('GET', KEYS[1])
state = state and cjson.decode(state) or {}
local requests, codes = {}, {}
for _, t in ipairs(state.r or {}) do if t > now - 60000 then table.insert(requests, t) end end
for _, c in ipairs(state.c or {}) do if c[2] > now then table.insert(codes, c) end end
if #requests >= tonumber(ARGV[4]) then return 0 end
table.insert(requests, now)
if #codes >= tonumber(ARGV[5]) then table.remove(codes, 1) end
table.insert(codes, {ARGV[1], now + tonumber(ARGV[3])})
redis.call('SET', KEYS[1], cjson.encode({r = requests, c = codes, w = state.w or 0}), 'PX', ARGV[6])
return 1
)";

const char* const redeemScript = R"(
local state = redis.call('GET', KEYS[1])
if not state then return 0 end
state = cjson.decode(state)
local now = tonumber(ARGV[2])
local codes = {}
for _, c in ipairs(state.c or {}) do if c[2] > now then table.insert(codes, c) end end
local redeemed = 0
for i, c in ipairs(codes) do
  if c[1] == ARGV[1] then table.remove(codes, i); redeemed = 1; break end
end
if redeemed == 1 then
  state.w = 0
else
  state.w = (state.w or 0) + 1
  if state.w >= tonumber(ARGV[3]) then codes = {}; state.w = 0 end
end
state.c = codes
redis.call('SET', KEYS[1], cjson.encode(state), 'KEEPTTL')
return redeemed
)";

// The oldest events go while there are too many, they hold too many bytes or
// are too old; the newest always stays, however large or old it is. The bytes
// of the kept events are counted as they come and go (and counted afresh for
// events kept before there was a count).
const char* const appendScript = R"(
local seq = redis.call('INCR', KEYS[1])
local entry = seq .. ' ' .. ARGV[1] .. ' ' .. ARGV[2]
if redis.call('EXISTS', KEYS[3]) == 0 then
  local counted = 0
  for _, kept in ipairs(redis.call('ZRANGE', KEYS[2], 0, -1)) do counted = counted + #kept end
  redis.call('SET', KEYS[3], counted)
end
redis.call('ZADD', KEYS[2], seq, entry)
local bytes = redis.call('INCRBY', KEYS[3], #entry)
local count = redis.call('ZCARD', KEYS[2])
local oldest = tonumber(ARGV[1]) - tonumber(ARGV[4])
while count > 1 do
  local head = redis.call('ZRANGE', KEYS[2], 0, 0)[1]
  if count <= tonumber(ARGV[3]) and bytes <= tonumber(ARGV[8])
     and tonumber(string.match(head, '^%d+ (%d+)')) > oldest then break end
  redis.call('ZREMRANGEBYRANK', KEYS[2], 0, 0)
  bytes = redis.call('DECRBY', KEYS[3], #head)
  count = count - 1
end
redis.call('PEXPIRE', KEYS[1], ARGV[5])
redis.call('PEXPIRE', KEYS[2], ARGV[4])
redis.call('PEXPIRE', KEYS[3], ARGV[4])
redis.call('PUBLISH', ARGV[6], ARGV[7])
return seq
)";

const char* const eventsScript = R"(
local newest = tonumber(redis.call('GET', KEYS[1]) or '0')
local cursor = tonumber(ARGV[1])
if cursor < 0 or cursor > newest then
  return {newest, 1, redis.call('ZRANGE', KEYS[2], 0, tonumber(ARGV[2]) - 1)}
end
return {newest, 0, redis.call('ZRANGEBYSCORE', KEYS[2], '(' .. ARGV[1], '+inf', 'LIMIT', 0, tonumber(ARGV[2]))}
)";

constexpr std::chrono::milliseconds timeout{1000};

// Commands made outside the coroutines: GCC 12 cannot compile braced lists of
// literals inside them.
std::vector<std::string> pingCommand()
{
    return {"PING"};
}

std::vector<std::string> credentialCommand(const std::string& token)
{
    return {"HMGET", key("token", sha256Hex(token)), "number", "role", "device"};
}

std::vector<std::string> eventKeys(const std::string& number)
{
    return {key("seq", number), key("events", number), key("eventbytes", number)};
}

std::vector<std::string> touchKeys(const std::string& number)
{
    return {key("devices", number), key("seq", number)};
}

std::vector<std::string> eventsArguments(std::int64_t cursor, std::size_t limit)
{
    return {std::to_string(cursor), std::to_string(limit)};
}

// A script with its keys and arguments, the same for the direct and the awaited call.
struct ScriptCall {
    const char* source;
    std::vector<std::string> keys;
    std::vector<std::string> arguments;
};

ScriptCall bindCall(const std::string& token, const Credential& who, const std::string& name, std::int64_t now,
                    const RelayLimits& limits)
{
    const std::string hash = sha256Hex(token);
    return {bindScript,
            {key("devices", who.number), key("token", hash), prefix + "order"},
            {who.number, who.role, who.deviceId, name, std::to_string(now), std::to_string(limits.devicesPerAccount),
             std::to_string(limits.idleAccountLifetimeMs), hash, prefix + "token:"}};
}

std::vector<std::string> devicesCommand(const std::string& number)
{
    return {"HGETALL", key("devices", number)};
}

ScriptCall removeCall(const std::string& number, const std::string& deviceId)
{
    return {removeScript, {key("devices", number)}, {deviceId, prefix + "token:"}};
}

ScriptCall addPairingCall(const std::string& secret, const std::string& number, std::int64_t expiresAt,
                          const RelayLimits& limits)
{
    const std::string hash = sha256Hex(secret);
    // Kept a while past its expiry by Redis's clock; the relay's clock decides.
    const std::int64_t keep = 2 * limits.pairingLifetimeMs + 60 * 1000;
    return {addPairingScript,
            {key("pairing", hash), key("pairings", number), prefix + "order"},
            {number, std::to_string(expiresAt), std::to_string(limits.pairingsPerAccount), hash, prefix + "pairing:",
             std::to_string(keep)}};
}

ScriptCall claimCall(const std::string& secret, std::int64_t now)
{
    const std::string hash = sha256Hex(secret);
    return {claimScript, {key("pairing", hash)}, {std::to_string(now), prefix + "pairings:", hash}};
}

ScriptCall addCodeCall(const std::string& number, const std::string& code, std::int64_t now, const RelayLimits& limits)
{
    const std::int64_t keep = limits.codeLifetimeMs + 2 * 60 * 1000;
    return {addCodeScript,
            {key("codes", number)},
            {code, std::to_string(now), std::to_string(limits.codeLifetimeMs),
             std::to_string(limits.codeRequestsPerMinute), std::to_string(limits.liveCodesPerNumber),
             std::to_string(keep)}};
}

ScriptCall redeemCall(const std::string& number, const std::string& code, std::int64_t now, const RelayLimits& limits)
{
    return {redeemScript, {key("codes", number)}, {code, std::to_string(now), std::to_string(limits.wrongCodesAllowed)}};
}

RedisReply run(RedisConnection& redis, const ScriptCall& call)
{
    return redis.script(call.source, call.keys, call.arguments);
}

asio::awaitable<RedisReply> run(RedisAsyncConnection& redis, ScriptCall call)
{
    co_return co_await redis.script(call.source, std::move(call.keys), std::move(call.arguments));
}

std::optional<std::string> claimedOf(const redisReply& reply)
{
    if (reply.type != REDIS_REPLY_STRING)
        return std::nullopt;
    return text(&reply);
}

std::vector<Device> devicesOf(const redisReply& reply)
{
    struct Listed {
        Device device;
        std::int64_t order;
    };
    std::vector<Listed> listed;
    for (std::size_t i = 0; reply.type == REDIS_REPLY_ARRAY && i + 1 < reply.elements; i += 2) {
        const std::string field = text(reply.element[i]);
        const auto kept = nlohmann::json::parse(text(reply.element[i + 1]), nullptr, false);
        const auto newline = field.find('\n');
        if (newline == std::string::npos || !kept.is_object())
            continue;
        listed.push_back({{field.substr(newline + 1), field.substr(0, newline), kept.value("n", ""),
                           std::stoll(kept.value("l", "0"))},
                          kept.value("s", std::int64_t(0))});
    }
    std::sort(listed.begin(), listed.end(), [](const Listed& a, const Listed& b) {
        return std::tie(a.device.lastSeen, a.order) > std::tie(b.device.lastSeen, b.order);
    });
    std::vector<Device> devices;
    for (Listed& entry : listed)
        devices.push_back(std::move(entry.device));
    return devices;
}

std::optional<Credential> credentialOf(const redisReply& reply)
{
    if (reply.type != REDIS_REPLY_ARRAY || reply.elements != 3 || reply.element[0]->type != REDIS_REPLY_STRING)
        return std::nullopt;
    return Credential{text(reply.element[0]), text(reply.element[1]), text(reply.element[2])};
}

// "<seq> <at> <json>" as the append script keeps it.
Event parseEvent(std::string_view kept)
{
    Event event;
    const char* end = kept.data() + kept.size();
    auto [afterSeq, seqError] = std::from_chars(kept.data(), end, event.seq);
    auto [afterAt, atError] = std::from_chars(afterSeq + 1, end, event.at);
    const auto json = nlohmann::json::parse(std::string_view(afterAt, end), nullptr, false);
    auto draft = EventDraft::fromJson(json);
    if (seqError != std::errc() || atError != std::errc() || !std::holds_alternative<EventDraft>(draft))
        throw std::runtime_error("redis: a kept event is damaged");
    event.draft = std::move(std::get<EventDraft>(draft));
    return event;
}

// The events after `cursor` from the events script's reply.
EventBatch batchOf(const RedisReply& reply, std::int64_t cursor)
{
    if (reply->type != REDIS_REPLY_ARRAY || reply->elements != 3 || reply->element[2]->type != REDIS_REPLY_ARRAY)
        throw std::runtime_error("redis: an unexpected reply to an events read");
    const bool fromOldest = reply->element[1]->integer == 1;
    EventBatch batch;
    batch.cursor = fromOldest ? reply->element[0]->integer : cursor;
    const redisReply* kept = reply->element[2];
    for (std::size_t i = 0; i < kept->elements; ++i)
        batch.events.push_back(parseEvent(text(kept->element[i])));
    if (!batch.events.empty())
        batch.cursor = batch.events.back().seq;
    return batch;
}

} // namespace

RedisRelayStore::RedisRelayStore(const RedisAddress& address)
    : address_(address)
    , channel_(prefix + "appended:" + std::to_string(address.database))
    , redis_(address, timeout)
{
}

RedisRelayStore::~RedisRelayStore() = default;

void RedisRelayStore::setLimits(const RelayLimits& limits)
{
    limits_ = limits;
}

void RedisRelayStore::ping()
{
    redis_.command({"PING"});
}

void RedisRelayStore::bind(const std::string& token, const Credential& who, const std::string& name, std::int64_t now)
{
    run(redis_, bindCall(token, who, name, now, limits_));
}

std::optional<Credential> RedisRelayStore::credential(const std::string& token)
{
    return credentialOf(*redis_.command(credentialCommand(token)));
}

void RedisRelayStore::touch(const Credential& who, std::int64_t now)
{
    redis_.script(touchScript, touchKeys(who.number), touchArguments(who, now));
}

std::vector<Device> RedisRelayStore::devices(const std::string& number)
{
    return devicesOf(*redis_.command(devicesCommand(number)));
}

bool RedisRelayStore::removeDevice(const std::string& number, const std::string& deviceId)
{
    return run(redis_, removeCall(number, deviceId))->integer == 1;
}

void RedisRelayStore::addPairing(const std::string& secret, const std::string& number, std::int64_t expiresAt)
{
    run(redis_, addPairingCall(secret, number, expiresAt, limits_));
}

std::optional<std::string> RedisRelayStore::claimPairing(const std::string& secret, std::int64_t now)
{
    return claimedOf(*run(redis_, claimCall(secret, now)));
}

bool RedisRelayStore::addCode(const std::string& number, const std::string& code, std::int64_t now)
{
    return run(redis_, addCodeCall(number, code, now, limits_))->integer == 1;
}

bool RedisRelayStore::redeemCode(const std::string& number, const std::string& code, std::int64_t now)
{
    return run(redis_, redeemCall(number, code, now, limits_))->integer == 1;
}

Event RedisRelayStore::append(const std::string& number, EventDraft draft, std::int64_t at)
{
    const auto reply = redis_.script(appendScript, eventKeys(number), appendArguments(number, draft, at));
    return Event{std::move(draft), reply->integer, at};
}

EventBatch RedisRelayStore::eventsAfter(const std::string& number, std::int64_t cursor, std::size_t limit)
{
    return batchOf(redis_.script(eventsScript, eventKeys(number), eventsArguments(cursor, limit)), cursor);
}

std::vector<std::string> RedisRelayStore::touchArguments(const Credential& who, std::int64_t now) const
{
    return {who.role + '\n' + who.deviceId, std::to_string(now), std::to_string(limits_.idleAccountLifetimeMs),
            prefix + "token:"};
}

std::vector<std::string> RedisRelayStore::appendArguments(const std::string& number, const EventDraft& draft,
                                                          std::int64_t at) const
{
    return {std::to_string(at),
            draft.toJson().dump(),
            std::to_string(limits_.eventsPerAccount),
            std::to_string(limits_.eventLifetimeMs),
            std::to_string(limits_.idleAccountLifetimeMs),
            channel_,
            number,
            std::to_string(limits_.textBytesPerAccount)};
}

void RedisRelayStore::watchAppends(std::function<void(const std::string&)> appended)
{
    watcher_.reset();
    if (appended)
        watcher_ = std::make_unique<RedisAppendWatcher>(address_, channel_, std::move(appended));
}

asio::awaitable<RedisAsyncConnection*> RedisRelayStore::connection()
{
    co_return &RedisAsyncConnection::of(co_await asio::this_coro::executor, address_, timeout);
}

// The awaited calls take no lock: each thread has a connection of its own.

asio::awaitable<void> RedisRelayStore::asyncPing(std::mutex&)
{
    RedisAsyncConnection* redis = co_await connection();
    co_await redis->command(pingCommand());
}

asio::awaitable<std::optional<Credential>> RedisRelayStore::asyncCredential(std::string token, std::mutex&)
{
    RedisAsyncConnection* redis = co_await connection();
    const RedisReply reply = co_await redis->command(credentialCommand(token));
    co_return credentialOf(*reply);
}

asio::awaitable<void> RedisRelayStore::asyncTouch(Credential who, std::int64_t now, std::mutex&)
{
    RedisAsyncConnection* redis = co_await connection();
    co_await redis->script(touchScript, touchKeys(who.number), touchArguments(who, now));
}

asio::awaitable<Event> RedisRelayStore::asyncAppend(std::string number, EventDraft draft, std::int64_t at, std::mutex&)
{
    RedisAsyncConnection* redis = co_await connection();
    const RedisReply reply = co_await redis->script(appendScript, eventKeys(number), appendArguments(number, draft, at));
    co_return Event{std::move(draft), reply->integer, at};
}

asio::awaitable<EventBatch> RedisRelayStore::asyncEventsAfter(std::string number, std::int64_t cursor,
                                                              std::size_t limit, std::mutex&)
{
    RedisAsyncConnection* redis = co_await connection();
    const RedisReply reply = co_await redis->script(eventsScript, eventKeys(number), eventsArguments(cursor, limit));
    co_return batchOf(reply, cursor);
}

asio::awaitable<void> RedisRelayStore::asyncBind(std::string token, Credential who, std::string name, std::int64_t now,
                                                 std::mutex&)
{
    RedisAsyncConnection* redis = co_await connection();
    co_await run(*redis, bindCall(token, who, name, now, limits_));
}

asio::awaitable<std::vector<Device>> RedisRelayStore::asyncDevices(std::string number, std::mutex&)
{
    RedisAsyncConnection* redis = co_await connection();
    const RedisReply reply = co_await redis->command(devicesCommand(number));
    co_return devicesOf(*reply);
}

asio::awaitable<bool> RedisRelayStore::asyncRemoveDevice(std::string number, std::string deviceId, std::mutex&)
{
    RedisAsyncConnection* redis = co_await connection();
    const RedisReply reply = co_await run(*redis, removeCall(number, deviceId));
    co_return reply->integer == 1;
}

asio::awaitable<void> RedisRelayStore::asyncAddPairing(std::string secret, std::string number, std::int64_t expiresAt,
                                                       std::mutex&)
{
    RedisAsyncConnection* redis = co_await connection();
    co_await run(*redis, addPairingCall(secret, number, expiresAt, limits_));
}

asio::awaitable<std::optional<std::string>> RedisRelayStore::asyncClaimPairing(std::string secret, std::int64_t now,
                                                                               std::mutex&)
{
    RedisAsyncConnection* redis = co_await connection();
    const RedisReply reply = co_await run(*redis, claimCall(secret, now));
    co_return claimedOf(*reply);
}

asio::awaitable<bool> RedisRelayStore::asyncAddCode(std::string number, std::string code, std::int64_t now, std::mutex&)
{
    RedisAsyncConnection* redis = co_await connection();
    const RedisReply reply = co_await run(*redis, addCodeCall(number, code, now, limits_));
    co_return reply->integer == 1;
}

asio::awaitable<bool> RedisRelayStore::asyncRedeemCode(std::string number, std::string code, std::int64_t now,
                                                       std::mutex&)
{
    RedisAsyncConnection* redis = co_await connection();
    const RedisReply reply = co_await run(*redis, redeemCall(number, code, now, limits_));
    co_return reply->integer == 1;
}

} // namespace tellwire
