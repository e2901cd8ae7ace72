#include "Relay.h"

#include "PhoneNumber.h"
#include "RandomSource.h"
#include "SqliteRelayStore.h"

#include <algorithm>
#include <chrono>

namespace tellwire {

namespace asio = boost::asio;

namespace {

bool isCodeShaped(std::string_view code)
{
    return code.size() == 6
        && std::all_of(code.begin(), code.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

Relay::Relay(RelayOptions options, std::unique_ptr<RelayStore> store)
    : options_(std::move(options))
    , store_(store ? std::move(store) : std::make_unique<SqliteRelayStore>(":memory:"))
{
    options_.hold = std::clamp(options_.hold, std::chrono::milliseconds(0), maximumHold);
    store_->setLimits(options_.limits);
    store_->watchAppends([this](const std::string& number) { wake(number); });
}

Relay::~Relay()
{
    store_->watchAppends({});
}

std::int64_t Relay::now() const
{
    if (options_.now)
        return options_.now();
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

void Relay::say(const std::string& line) const
{
    if (options_.notice)
        options_.notice(line);
}

asio::awaitable<Outcome<std::string>> Relay::requestCode(std::string phone)
{
    const auto number = accountNumber(phone);
    if (!number)
        co_return Refusal::invalidPhone();
    const std::string code = options_.fixedCode ? *options_.fixedCode : RandomSource::digits(6);
    const bool issued = co_await store_->asyncAddCode(*number, code, now(), mutex_);
    if (!issued) {
        say("code request for " + *number + " refused: too many requests");
        co_return Refusal::rateLimited();
    }
    if (options_.sendCode) {
        options_.sendCode(*number, code);
        say("code sent to " + *number);
    } else {
        say("code " + code + " for " + *number + " (valid 5 minutes)");
    }
    co_return code;
}

asio::awaitable<Outcome<std::string>> Relay::verify(std::string phone, std::string code, std::string role,
                                                    std::string deviceId)
{
    const auto number = accountNumber(phone);
    if (!number)
        co_return Refusal::invalidPhone();
    if (role != "desktop" && role != "phone")
        co_return Refusal{400, "invalid_role", "role 必须是 desktop 或 phone"};
    if (deviceId.size() > EventDraft::maxIdBytes)
        co_return Refusal::invalidRequest("device_id 过长");
    if (!isCodeShaped(code))
        co_return Refusal::invalidCode();
    const bool redeemed = co_await store_->asyncRedeemCode(*number, code, now(), mutex_);
    if (!redeemed)
        co_return Refusal::invalidCode();
    // Named, not temporaries in the co_await: GCC 12 frees those twice.
    Credential who{*number, role, deviceId};
    std::string token = co_await signIn(std::move(who), std::string());
    say(role + " signed in for " + *number);
    co_return token;
}

asio::awaitable<std::string> Relay::signIn(Credential who, std::string name)
{
    std::string token = RandomSource::hex(32);
    co_await store_->asyncBind(token, std::move(who), std::move(name), now(), mutex_);
    co_return token;
}

asio::awaitable<Outcome<std::string>> Relay::signInLocally(std::string secret, std::string deviceId)
{
    if (deviceId.empty() || deviceId.size() > EventDraft::maxIdBytes)
        co_return Refusal::invalidRequest("device_id 为空或过长");
    // Compared in full whatever the first difference, so timing tells nothing.
    const std::string& expected = options_.localSecret;
    unsigned char difference = expected.empty() || secret.size() != expected.size();
    for (std::size_t i = 0; i < std::min(secret.size(), expected.size()); ++i)
        difference |= static_cast<unsigned char>(secret[i] ^ expected[i]);
    if (difference)
        co_return Refusal{401, "invalid_secret", "本机密钥不正确"};
    Credential who{localAccount, "desktop", deviceId};
    co_return co_await signIn(std::move(who), std::string());
}

Pairing Relay::newPairing() const
{
    Pairing pairing{RandomSource::hex(16), options_.limits.pairingLifetimeMs / 1000, {}, options_.fingerprint};
    for (const std::string& origin : options_.phoneOrigins ? options_.phoneOrigins() : std::vector<std::string>())
        pairing.links.push_back(origin + "/#pair=" + pairing.secret);
    return pairing;
}

asio::awaitable<Outcome<Pairing>> Relay::startPairing(Credential who)
{
    if (who.role != "desktop")
        co_return Refusal::forbidden();
    const Pairing pairing = newPairing();
    co_await store_->asyncAddPairing(pairing.secret, who.number, now() + options_.limits.pairingLifetimeMs, mutex_);
    co_return pairing;
}

asio::awaitable<Outcome<std::string>> Relay::claimPairing(std::string secret, std::string deviceId, std::string name)
{
    if (deviceId.empty() || deviceId.size() > EventDraft::maxIdBytes || name.size() > EventDraft::maxIdBytes)
        co_return Refusal::invalidRequest("device_id 或 name 为空或过长");
    const std::int64_t current = now();
    bool limited = false;
    {
        std::lock_guard lock(mutex_);
        // Guessing is slowed for everyone alike: the secret has 128 bits anyway.
        while (!claims_.empty() && claims_.front() <= current - 60 * 1000)
            claims_.pop_front();
        limited = claims_.size() >= options_.limits.pairingClaimsPerMinute;
        if (!limited)
            claims_.push_back(current);
    }
    if (limited)
        co_return Refusal::rateLimited();
    const auto claimed = co_await store_->asyncClaimPairing(std::move(secret), current, mutex_);
    if (!claimed)
        co_return Refusal{401, "invalid_pairing", "配对码无效或已过期，请在电脑上重新打开二维码"};
    Credential who{*claimed, "phone", deviceId};
    std::string token = co_await signIn(std::move(who), std::move(name));
    say("phone paired with " + *claimed);
    co_return token;
}

asio::awaitable<Outcome<std::vector<Device>>> Relay::devices(Credential who)
{
    if (who.role != "desktop")
        co_return Refusal::forbidden();
    co_return co_await store_->asyncDevices(who.number, mutex_);
}

asio::awaitable<Outcome<bool>> Relay::removeDevice(Credential who, std::string deviceId)
{
    if (who.role != "desktop")
        co_return Refusal::forbidden();
    co_return co_await store_->asyncRemoveDevice(who.number, std::move(deviceId), mutex_);
}

asio::awaitable<std::optional<Credential>> Relay::identify(std::string token)
{
    std::optional<Credential> who = co_await store_->asyncCredential(std::move(token), mutex_);
    if (!who)
        co_return who;
    // Last seen to the minute: a write per request would cost more than it tells.
    const std::int64_t current = now();
    bool due = false;
    {
        std::lock_guard lock(mutex_);
        auto& stored = touched_[who->number + '\n' + who->role + '\n' + who->deviceId];
        due = current - stored >= 60 * 1000;
        if (due)
            stored = current;
        if (touched_.size() > 4096)
            touched_.clear();
    }
    if (due)
        co_await store_->asyncTouch(*who, current, mutex_);
    co_return who;
}

asio::awaitable<Outcome<PublishedEvent>> Relay::publish(Credential who, EventDraft draft)
{
    if (who.role != "phone")
        co_return Refusal::forbidden();
    const Event event = co_await store_->asyncAppend(who.number, std::move(draft), now(), mutex_);
    metrics_.countPublished();
    wake(who.number);
    co_return PublishedEvent{event.seq, event.at};
}

asio::awaitable<Outcome<EventBatch>> Relay::lookForEvents(Credential who, std::int64_t cursor)
{
    if (who.role != "desktop")
        co_return Refusal::forbidden();
    bool first = false;
    {
        std::lock_guard lock(mutex_);
        first = listening_.size() < 4096 && listening_.insert(who.number + '\n' + who.deviceId).second;
    }
    if (first)
        say("a desktop of " + who.number + " is listening");
    EventBatch batch = co_await store_->asyncEventsAfter(who.number, cursor, options_.limits.eventsPerReply, mutex_);
    const std::int64_t current = now();
    for (const Event& event : batch.events)
        metrics_.countDelivered(current - event.at);
    co_return batch;
}

bool Relay::holdPoll()
{
    {
        std::lock_guard lock(mutex_);
        // An empty batch at once would have the desktop ask again at once,
        // without end; a refusal makes it pause before it retries.
        if (heldPolls_ >= options_.limits.heldPolls)
            return false;
        ++heldPolls_;
    }
    changed_.notify_all();
    return true;
}

void Relay::releasePoll()
{
    std::lock_guard lock(mutex_);
    --heldPolls_;
}

bool Relay::isStopping()
{
    std::lock_guard lock(mutex_);
    return stopping_;
}

std::size_t Relay::addWakeListener(std::function<void(const std::string&)> woken)
{
    std::lock_guard lock(listenersMutex_);
    wakeListeners_.emplace(nextListener_, std::move(woken));
    return nextListener_++;
}

void Relay::removeWakeListener(std::size_t id)
{
    std::lock_guard lock(listenersMutex_);
    wakeListeners_.erase(id);
}

void Relay::wake(const std::string& number)
{
    std::lock_guard lock(listenersMutex_);
    for (const auto& [id, woken] : wakeListeners_)
        woken(number);
}

bool Relay::waitForHeldPolls(std::size_t count, std::chrono::milliseconds timeout)
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return heldPolls_ >= count; });
}

std::string Relay::metricsText()
{
    std::lock_guard lock(mutex_);
    return metrics_.text(heldPolls_);
}

asio::awaitable<Outcome<bool>> Relay::health()
{
    if (isStopping())
        co_return Refusal{503, "stopping", "中继正在停止，请稍后重试"};
    co_await store_->asyncPing(mutex_);
    co_return true;
}

void Relay::stop()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake("");
}

} // namespace tellwire
