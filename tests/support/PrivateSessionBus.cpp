#include "support/PrivateSessionBus.h"

#include <QDBusConnectionInterface>
#include "support/Wait.h"

#include <csignal>

namespace tellwire::testing {

PrivateSessionBus::PrivateSessionBus()
{
    daemon_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    daemon_.start(QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--print-address=1"});
    if (!daemon_.waitForStarted(5000))
        return;
    if (!waitUntil([this] { return daemon_.canReadLine(); }))
        return;
    address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
    connectionName_ = QStringLiteral("private-session-") + QString::number(daemon_.processId());
    QDBusConnection::connectToBus(address_, connectionName_);
}

PrivateSessionBus::~PrivateSessionBus()
{
    stop();
}

void PrivateSessionBus::stop()
{
    QDBusConnection::disconnectFromBus(connectionName_);
    daemon_.terminate();
    daemon_.waitForFinished(5000);
}

QDBusConnection PrivateSessionBus::connection() const
{
    return QDBusConnection(connectionName_);
}

QProcessEnvironment PrivateSessionBus::environment() const
{
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address_);
    return environment;
}

void PrivateSessionBus::stopOwnerOf(const QString& name)
{
    if (!isUp())
        return; // gone with the bus
    const auto pid = connection().interface()->servicePid(name);
    if (!pid.isValid() || pid.value() == 0)
        return;
    ::kill(static_cast<pid_t>(pid.value()), SIGTERM);
    waitUntil([&] { return !connection().interface()->isServiceRegistered(name).value(); }, std::chrono::seconds(5));
}

} // namespace tellwire::testing
