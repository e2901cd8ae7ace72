#pragma once

#include <QProcess>
#include <QString>

namespace tellwire::testing {

// The local relay (tellwire-relay) on a free loopback port, with the caller
// as the phone and as the person who signs in.
class LocalRelay {
public:
    explicit LocalRelay(QString executable) : executable_(std::move(executable)) {}
    ~LocalRelay();

    bool start();
    // A token for the number in role "desktop" or "phone".
    QString signIn(const QString& role);
    // Publishes one event as the phone (phoneToken must be set).
    bool say(const QString& utterance, const QString& text, bool final);

    QString origin;
    QString phoneToken;

private:
    QString executable_;
    QProcess relay_;
};

// Keeps the desktop's token in the Secret Service, as signing in does.
bool storeDesktopToken(const QString& token);

} // namespace tellwire::testing
