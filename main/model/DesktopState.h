#pragma once

#include "model/Transcript.h"

#include <QList>
#include <QObject>
#include <QString>

namespace tellwire {

class AppShell;
class Clipboard;
class Defaults;
class SecretStore;

// The one model of the application: what the windows show and the credentials
// the relay client works with. Published fields emit their *Changed signal
// after each change that alters them.
class DesktopState : public QObject {
    Q_OBJECT
    Q_PROPERTY(QList<tellwire::Transcript> history READ history NOTIFY historyChanged)
    Q_PROPERTY(QString status READ status WRITE setStatus NOTIFY statusChanged)
    Q_PROPERTY(QString error READ error WRITE setError NOTIFY errorChanged)
    Q_PROPERTY(bool paused READ paused WRITE setPaused NOTIFY pausedChanged)
    Q_PROPERTY(QString base READ base NOTIFY baseChanged)
    Q_PROPERTY(bool chinese READ chinese WRITE setChinese NOTIFY chineseChanged)

public:
    static constexpr qsizetype kHistoryLimit = 100;
    // The secret store's name for the bearer token.
    static const QString kTokenAccount;

    // What the shared instance is made from. Anything left null is replaced by
    // an in-memory stand-in.
    struct Services {
        SecretStore* secrets = nullptr;
        Defaults* defaults = nullptr;
        Clipboard* clipboard = nullptr;
    };

    // Decides what the shared instance is made from; takes effect only before
    // the first call of shared().
    static void provide(Services services);
    // The one instance, created on first use and never released.
    static DesktopState& shared();

    // The relay origin, read once at start: TELLWIRE_RELAY_ORIGIN (tests and
    // tools), else "origin" in the [relay] group of the settings, else the
    // relay on this machine.
    static QString startingBase(Defaults& defaults);

    // A separate instance, for tests and tools; the application uses shared().
    DesktopState(SecretStore& secrets, Defaults& defaults, Clipboard* clipboard,
                 QObject* parent = nullptr);
    ~DesktopState() override;

    // Newest first.
    const QList<Transcript>& history() const { return history_; }
    // Puts a final transcript at the top, dropping the oldest beyond the limit.
    void addToHistory(const Transcript& transcript);
    void clearHistory();
    // The history's texts, oldest first, one per line; entries without text are left out.
    QString historyText() const;
    // Puts historyText() on the clipboard.
    void copyAll();

    QString status() const { return status_; }
    void setStatus(const QString& status);
    QString error() const { return error_; }
    void setError(const QString& error);
    bool paused() const { return paused_; }
    void setPaused(bool paused);
    QString base() const { return base_; }
    // The application keeps the built-in origin; tests and tools point elsewhere.
    void setBase(const QString& base);
    bool chinese() const { return chinese_; }
    void setChinese(bool chinese);

    // The bearer token as stored in the secret store when this instance was made,
    // or as the last sign-in set it.
    QString token() const { return token_; }
    void setToken(const QString& token) { token_ = token; }
    bool hasToken() const { return !token_.isEmpty(); }
    QString deviceID() const { return deviceID_; }

    // The application's windows, told about untyped transcripts and asked for
    // the settings window; may be null.
    void setShell(AppShell* shell) { shell_ = shell; }
    AppShell* shell() const { return shell_; }

    SecretStore& secrets() { return secrets_; }
    Defaults& defaults() { return defaults_; }

signals:
    void historyChanged();
    void statusChanged();
    void errorChanged();
    void pausedChanged();
    void baseChanged();
    void chineseChanged();

private:
    static QString loadDeviceID(Defaults& defaults);

    SecretStore& secrets_;
    Defaults& defaults_;
    Clipboard* clipboard_;
    AppShell* shell_ = nullptr;

    QList<Transcript> history_;
    QString status_;
    QString error_;
    bool paused_ = false;
    QString base_;
    bool chinese_ = true;
    QString token_;
    QString deviceID_;
};

} // namespace tellwire
