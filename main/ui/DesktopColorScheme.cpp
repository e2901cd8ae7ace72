#include "ui/DesktopColorScheme.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace tellwire {

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString kGroup = QStringLiteral("org.freedesktop.appearance");
const QString kKey = QStringLiteral("color-scheme");
// A portal that hangs must not keep the windows from their palette for long.
constexpr int kReadTimeoutMs = 3000;

} // namespace

DesktopColorScheme& DesktopColorScheme::shared()
{
    static auto* scheme = new DesktopColorScheme; // lives as long as the windows that follow it
    return *scheme;
}

DesktopColorScheme::DesktopColorScheme()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    bus.connect(kService, kPath, kInterface, QStringLiteral("SettingChanged"), this,
                SLOT(settingChanged(QString, QString, QDBusVariant)));
    read();
}

void DesktopColorScheme::read()
{
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Read"));
    call << kGroup << kKey;
    auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call, kReadTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* finished) {
        finished->deleteLater();
        const QDBusPendingReply<QDBusVariant> reply = *finished;
        if (!reply.isError())
            take(reply.value().variant());
    });
}

void DesktopColorScheme::settingChanged(const QString& group, const QString& key, const QDBusVariant& value)
{
    if (group == kGroup && key == kKey)
        take(value.variant());
}

void DesktopColorScheme::take(const QVariant& value)
{
    // Read wraps the value in one more variant than the signal does.
    QVariant inner = value;
    while (inner.userType() == qMetaTypeId<QDBusVariant>())
        inner = inner.value<QDBusVariant>().variant();
    bool isNumber = false;
    const uint code = inner.toUInt(&isNumber);
    const Preference preference = !isNumber ? Preference::Unknown
        : code == 1                         ? Preference::Dark
        : code == 2                         ? Preference::Light
                                            : Preference::Unknown;
    if (preference == preference_)
        return;
    preference_ = preference;
    emit changed();
}

} // namespace tellwire
