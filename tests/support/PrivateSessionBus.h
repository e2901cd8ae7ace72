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

    bool isUp() const { return !address_.isEmpty() && connection().isConnected(); }
    QDBusConnection connection() const;
    QProcessEnvironment environment() const;

    // Stops the process that owns `name` on this bus, if any.
    void stopOwnerOf(const QString& name);
    // Ends the bus, as a logout does.
    void stop();

private:
    QProcess daemon_;
    QString address_;
    QString connectionName_;
};

} // namespace tellwire::testing
