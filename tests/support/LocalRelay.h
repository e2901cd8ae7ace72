#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>

namespace tellwire::testing {

// The local relay (tellwire-relay) on a free loopback port, with the caller
// as the phone and as the person who signs in.
class LocalRelay {
public:
    explicit LocalRelay(QString executable) : executable_(std::move(executable)) {}
    ~LocalRelay();

    bool start();
    // Stops the relay and starts it again on the same port with the same state.
    bool restart();
    // Waits for a console line containing `text`, reading on from the last one found.
    bool waitForLine(const QString& text);
    // A token for the number in role "desktop" or "phone".
    QString signIn(const QString& role);
    // Publishes one event as the phone (phoneToken must be set); its number
    // goes to lastSeq.
    bool say(const QString& utterance, const QString& text, bool final);
    // Waits until the desktop asks for events after seq or later: it has
    // handled everything up to seq. Needs "--log-requests" in arguments.
    bool waitForPollAfter(qint64 seq);

    // The XDG state folder whose tellwire-relay/ holds this relay's state.
    QString stateHome() const { return state_.path(); }

    QString origin;
    QString phoneToken;
    qint64 lastSeq = -1;
    // Further command-line arguments, for start().
    QStringList arguments;

private:
    bool waitForLine(const std::function<bool(const QString&)>& wanted);

    QString executable_;
    QTemporaryDir state_;
    QProcess relay_;
    QString lastLine_;
};

// Keeps the desktop's token in the Secret Service, as signing in does.
bool storeDesktopToken(const QString& token);

} // namespace tellwire::testing
