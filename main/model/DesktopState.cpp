#include "model/DesktopState.h"

#include "model/Clipboard.h"
#include "model/Defaults.h"
#include "model/SecretStore.h"

#include <QStringList>
#include <QUuid>

namespace tellwire {

namespace {

const QString kDeviceIDKey = QStringLiteral("desktop-device-id");
const QString kOriginKey = QStringLiteral("relay/origin");

DesktopState::Services& providedServices()
{
    static DesktopState::Services services;
    return services;
}

} // namespace

const QString DesktopState::kTokenAccount = QStringLiteral("desktop-token");

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

QString DesktopState::startingBase(Defaults& defaults)
{
    for (const QString& origin : {qEnvironmentVariable("TELLWIRE_RELAY_ORIGIN"), defaults.string(kOriginKey).trimmed()}) {
        if (!origin.isEmpty())
            return origin;
    }
    return QStringLiteral("http://127.0.0.1:8787");
}

DesktopState::DesktopState(SecretStore& secrets, Defaults& defaults, Clipboard* clipboard,
                           QObject* parent)
    : QObject(parent)
    , secrets_(secrets)
    , defaults_(defaults)
    , clipboard_(clipboard)
    , status_(QStringLiteral("未连接手机"))
    , base_(startingBase(defaults))
    , token_(secrets.load(kTokenAccount))
    , deviceID_(loadDeviceID(defaults))
{
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

} // namespace tellwire
