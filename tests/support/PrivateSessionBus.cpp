#include "support/PrivateSessionBus.h"

#include <QDBusConnectionInterface>
#include "support/Wait.h"

#include <csignal>

namespace tellwire::testing {

PrivateSessionBus::PrivateSessionBus()
{
    daemon_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    daemon_.start(QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--print-address=1"});
    if (!daemon_.waitForStarted(5000) || !waitUntil([this] { return daemon_.canReadLine(); }))
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

QProcessEnvironment PrivateSessionBus::environment() const
{
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address_);
    return environment;
}

void stopOwnerOf(const QDBusConnection& bus, const QString& name)
{
    if (!bus.isConnected())
        return; // gone with the bus
    const auto pid = bus.interface()->servicePid(name);
    if (!pid.isValid() || pid.value() == 0)
        return;
    ::kill(static_cast<pid_t>(pid.value()), SIGTERM);
    waitUntil([&] { return !bus.interface()->isServiceRegistered(name).value(); }, std::chrono::seconds(5));
}

} // namespace tellwire::testing
