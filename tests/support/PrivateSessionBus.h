#pragma once

#include <QDBusConnection>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>

namespace tellwire::testing {

// A session bus of the test's own, so that no other test's Tellwire owns the
// input method's name on it. Programs the test starts get it through
// environment(); the test itself talks on connection().
class PrivateSessionBus {
public:
    PrivateSessionBus();
    ~PrivateSessionBus();

    QDBusConnection connection() const { return QDBusConnection(connectionName_); }
    QProcessEnvironment environment() const;
    const QString& address() const { return address_; }

    // Ends the bus, as a logout does.
    void stop();

private:
    QProcess daemon_;
    QString address_;
    QString connectionName_;
};

// Stops the process that owns `name` on bus, if any, and waits until the name is free.
void stopOwnerOf(const QDBusConnection& bus, const QString& name);

} // namespace tellwire::testing
