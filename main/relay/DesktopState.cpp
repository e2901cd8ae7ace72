#include "relay/DesktopState.h"

#include "input/VoiceInputController.h"
#include "relay/Clipboard.h"
#include "relay/Defaults.h"
#include "relay/EventPoller.h"
#include "relay/SecretStore.h"
#include "ui/AppShell.h"

#include <QDateTime>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStringList>

namespace tellwire {

namespace {

const QString kTokenAccount = QStringLiteral("desktop-token");
const QString kDeviceIDKey = QStringLiteral("desktop-device-id");
const QString kEndpointKey = QStringLiteral("endpoint");

// The whole text must match, not a prefix before a trailing line break.
bool matchesWhole(const QRegularExpression& pattern, const QString& text)
{
    const QRegularExpressionMatch match = pattern.match(text);
    return match.hasMatch() && match.capturedLength() == text.size();
}

DesktopState::Services& providedServices()
{
    static DesktopState::Services services;
    return services;
}

} // namespace

void DesktopState::provide(Services services)
{
    providedServices() = services;
}

DesktopState& DesktopState::shared()
{
    // Deliberately never destroyed: windows and controllers may outlive static destruction.
    static DesktopState* instance = [] {
        Services services = providedServices();
        if (!services.secrets)
            services.secrets = new MemorySecretStore;
        if (!services.defaults)
            services.defaults = new MemoryDefaults;
        return new DesktopState(*services.secrets, *services.defaults, services.clipboard);
    }();
    return *instance;
}

QString DesktopState::defaultBase()
{
    const QString fromEnvironment = qEnvironmentVariable("TELLWIRE_RELAY_ORIGIN");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    return QStringLiteral("https://relay.orrisfeld.cc");
}

DesktopState::DesktopState(SecretStore& secrets, Defaults& defaults, Clipboard* clipboard,
                           QObject* parent)
    : QObject(parent)
    , secrets_(secrets)
    , defaults_(defaults)
    , clipboard_(clipboard)
    , status_(QStringLiteral("未连接手机"))
    , base_(defaultBase())
    , token_(secrets.load(kTokenAccount))
    , deviceID_(loadDeviceID(defaults))
{
    clock_ = [] { return double(QDateTime::currentMSecsSinceEpoch()); };
}

DesktopState::~DesktopState() = default;

QString DesktopState::loadDeviceID(Defaults& defaults)
{
    const QString stored = defaults.string(kDeviceIDKey);
    if (stored.size() >= 8)
        return stored;
    const QString fresh = QStringLiteral("mac-")
        + QUuid::createUuid().toString(QUuid::WithoutBraces).remove(QLatin1Char('-')).toLower();
    defaults.setString(kDeviceIDKey, fresh);
    return fresh;
}

void DesktopState::setBase(const QString& base)
{
    if (base_ == base)
        return;
    base_ = base;
    emit baseChanged();
}

void DesktopState::addToHistory(const Transcript& transcript)
{
    history_.prepend(transcript);
    if (history_.size() > kHistoryLimit)
        history_.resize(kHistoryLimit);
    emit historyChanged();
}

void DesktopState::clearHistory()
{
    if (history_.isEmpty())
        return;
    history_.clear();
    emit historyChanged();
}

void DesktopState::setStatus(const QString& status)
{
    if (status_ == status)
        return;
    status_ = status;
    emit statusChanged();
}

void DesktopState::setError(const QString& error)
{
    if (error_ == error)
        return;
    error_ = error;
    emit errorChanged();
}

void DesktopState::setPaused(bool paused)
{
    if (paused_ == paused)
        return;
    paused_ = paused;
    emit pausedChanged();
}

void DesktopState::setChinese(bool chinese)
{
    if (chinese_ == chinese)
        return;
    chinese_ = chinese;
    emit chineseChanged();
}

VoiceInputController* DesktopState::active() const
{
    return active_.data();
}

void DesktopState::setActive(VoiceInputController* controller)
{
    active_ = controller;
}

QString DesktopState::historyText() const
{
    QStringList lines;
    for (auto it = history_.crbegin(); it != history_.crend(); ++it) {
        if (it->text)
            lines.append(*it->text);
    }
    return lines.join(QLatin1Char('\n'));
}

void DesktopState::copyAll()
{
    if (clipboard_)
        clipboard_->setText(historyText());
}

void DesktopState::connect()
{
    if (token_.isEmpty())
        return;
    if (poller_)
        poller_->cancel();
    cursor_ = -1;
    poller_ = new EventPoller(*this);
    poller_->start();
}

bool DesktopState::isPolling() const
{
    return poller_ && !poller_->isCancelled();
}

void DesktopState::consume(const QList<Transcript>& batch)
{
    for (const Transcript& event : batch)
        consume(event);
}

void DesktopState::consume(const Transcript& event)
{
    if (event.utterance && event.text) {
        route(event, *event.utterance, event.isFinal());
        return;
    }
    if (event.type == QLatin1String("session_end")) {
        if (VoiceInputController* controller = active())
            controller->abandonVoice();
    }
}

void DesktopState::route(const Transcript& event, const QString& utterance, bool final)
{
    if (final) {
        const qsizetype before = seen_.size();
        seen_.insert(utterance);
        if (seen_.size() == before)
            return; // a repeat of a final already taken
        addToHistory(event);
    }

    VoiceInputController* controller = active();
    auto bound = routes_.constFind(utterance);
    if (bound == routes_.cend()) {
        // An utterance that starts with no session focused is bound to nobody.
        const Route route = controller ? Route{controller->identity(), controller->focusEpoch()}
                                       : Route{QUuid::createUuid(), QUuid::createUuid()};
        bound = routes_.insert(utterance, route);
    }

    const bool typeable = !paused_ && clock_() - event.at < kFreshnessMs && controller;
    if (typeable && bound->identity == controller->identity() && bound->focusEpoch == controller->focusEpoch())
        controller->voice(*event.text, final, utterance);
    if (final)
        routes_.remove(utterance);
    if (!typeable) {
        showPanelIfIdle();
        return;
    }
    if (routes_.size() > kRouteLimit)
        routes_.clear();
}

void DesktopState::showPanelIfIdle()
{
    if (shell_)
        shell_->showPanelIfIdle();
}

void DesktopState::prepare()
{
    if (!hasToken()) {
        if (shell_)
            shell_->showSettings();
        return;
    }
    api().object(QStringLiteral("/v1/me"), std::nullopt, this,
                 [this, checked = token_](const std::optional<APIError>& error, const QJsonObject&) {
                     // A sign-in made while the check was under way has
                     // replaced the token checked: its outcome no longer applies.
                     if (token_ != checked)
                         return;
                     if (!error) {
                         connect();
                         return;
                     }
                     token_.clear();
                     secrets_.save(kTokenAccount, QString());
                     setError(QStringLiteral("登录已失效，请重新验证手机号"));
                     if (shell_)
                         shell_->showSettings();
                 });
}

void DesktopState::requestPhoneCode(const QString& phone)
{
    static const QRegularExpression pattern(QStringLiteral("^(?:\\+?86)?1[3-9][0-9]{9}$"));
    if (!matchesWhole(pattern, phone)) {
        setError(QStringLiteral("请输入正确的中国大陆手机号"));
        return;
    }
    defaults_.setString(kEndpointKey, base_);
    api().object(QStringLiteral("/v1/auth/phone/request"), QJsonObject{{QStringLiteral("phone"), phone}}, this,
                 [this](const std::optional<APIError>& error, const QJsonObject&) {
                     if (error)
                         setError(error->errorDescription());
                     else
                         setStatus(QStringLiteral("短信请求已提交，验证码 5 分钟内有效"));
                 });
}

void DesktopState::login(const QString& phone, const QString& code)
{
    static const QRegularExpression pattern(QStringLiteral("^[0-9]{6}$"));
    if (!matchesWhole(pattern, code)) {
        setError(QStringLiteral("请输入 6 位验证码"));
        return;
    }
    defaults_.setString(kEndpointKey, base_);
    const QJsonObject body{
        {QStringLiteral("phone"), phone},
        {QStringLiteral("code"), code},
        {QStringLiteral("role"), QStringLiteral("desktop")},
        {QStringLiteral("device_id"), deviceID_},
    };
    api().object(QStringLiteral("/v1/auth/phone/verify"), body, this,
                 [this](const std::optional<APIError>& error, const QJsonObject& reply) {
                     if (error) {
                         setError(error->errorDescription());
                         return;
                     }
                     const QJsonValue token = reply.value(QLatin1String("token"));
                     if (!token.isString() || token.toString().isEmpty()) {
                         setError(QStringLiteral("登录响应缺少令牌"));
                         return;
                     }
                     token_ = token.toString();
                     if (!secrets_.save(kTokenAccount, token_)) {
                         setError(QStringLiteral("无法保存登录状态到钥匙串"));
                         return;
                     }
                     setStatus(QStringLiteral("手机号登录成功，此电脑已绑定账号"));
                     connect();
                 });
}

} // namespace tellwire
