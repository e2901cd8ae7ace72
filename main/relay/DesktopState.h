#pragma once

#include "relay/API.h"
#include "relay/Transcript.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QUuid>

#include <chrono>
#include <functional>

namespace tellwire {

class AppShell;
class Clipboard;
class Defaults;
class EventPoller;
class SecretStore;
class VoiceInputController;

// Where an utterance is to be typed: the controller and the stretch of focus
// that were current when it was first seen.
struct Route {
    QUuid identity;
    QUuid focusEpoch;

    friend bool operator==(const Route&, const Route&) = default;
};

// The one model of the application: what the windows show, the credentials,
// the polling position and the routing of utterances to input sessions.
// Published fields emit their *Changed signal after each change.
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
    static constexpr qsizetype kRouteLimit = 200;
    // Events older than this (by the local clock) are never typed.
    static constexpr double kFreshnessMs = 3000;
    static constexpr std::chrono::milliseconds kRetryPause{3000};

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

    // The relay origin used unless TELLWIRE_RELAY_ORIGIN names another.
    static QString defaultBase();

    // A separate instance, for tests and tools; the application uses shared().
    DesktopState(SecretStore& secrets, Defaults& defaults, Clipboard* clipboard,
                 QObject* parent = nullptr);
    ~DesktopState() override;

    // Newest first.
    const QList<Transcript>& history() const { return history_; }
    // Puts a final transcript at the top, dropping the oldest beyond the limit.
    void addToHistory(const Transcript& transcript);
    void clearHistory();

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

    QString token() const { return token_; }
    void setToken(const QString& token) { token_ = token; }
    bool hasToken() const { return !token_.isEmpty(); }
    QString deviceID() const { return deviceID_; }

    qint64 cursor() const { return cursor_; }
    void setCursor(qint64 cursor) { cursor_ = cursor; }
    QSet<QString>& seen() { return seen_; }
    QHash<QString, Route>& routes() { return routes_; }

    // The controller whose input session has focus; held weakly, so a destroyed
    // controller drops out by itself.
    VoiceInputController* active() const;
    void setActive(VoiceInputController* controller);

    // The history's texts, oldest first, one per line; entries without text are left out.
    QString historyText() const;
    // Puts historyText() on the clipboard.
    void copyAll();

    // The application's windows, told about untyped transcripts and asked for
    // the settings window; may be null.
    void setShell(AppShell* shell) { shell_ = shell; }
    AppShell* shell() const { return shell_; }

    // A client for the relay made from the current base and token.
    API api() const { return API(base_, token_, requestTimeout_); }

    // Starts polling the relay for events (replacing a running poll); does
    // nothing without a token.
    void connect();
    bool isPolling() const;
    // Handles events in order: history, routing to the focused controller.
    void consume(const Transcript& event);
    void consume(const QList<Transcript>& batch);

    // Sign-in check at launch: keeps a token the relay still accepts and starts
    // polling, or asks for the settings window.
    void prepare();
    // Asks the relay to text a sign-in code to phone.
    void requestPhoneCode(const QString& phone);
    // Trades phone and code for a token, keeps it and starts polling.
    void login(const QString& phone, const QString& code);

    // Milliseconds since 1970 by the local clock; replaceable for tests.
    void setClock(std::function<double()> clock) { clock_ = std::move(clock); }
    std::chrono::milliseconds retryPause() const { return retryPause_; }
    void setRetryPause(std::chrono::milliseconds pause) { retryPause_ = pause; }
    void setRequestTimeout(std::chrono::milliseconds timeout) { requestTimeout_ = timeout; }

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
    void route(const Transcript& event, const QString& utterance, bool final);
    void showPanelIfIdle();

    SecretStore& secrets_;
    Defaults& defaults_;
    Clipboard* clipboard_;
    AppShell* shell_ = nullptr;
    QPointer<EventPoller> poller_;
    std::function<double()> clock_;
    std::chrono::milliseconds retryPause_ = kRetryPause;
    std::chrono::milliseconds requestTimeout_ = API::kDefaultTimeout;

    QList<Transcript> history_;
    QString status_;
    QString error_;
    bool paused_ = false;
    QString base_;
    bool chinese_ = true;
    QString token_;
    QString deviceID_;
    qint64 cursor_ = -1;
    QSet<QString> seen_;
    QHash<QString, Route> routes_;
    QPointer<VoiceInputController> active_;
};

} // namespace tellwire
