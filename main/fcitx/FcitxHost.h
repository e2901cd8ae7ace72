#pragma once

#include "fcitx/FcitxSession.h"
#include "input/RecentlyFocused.h"

#include <QDBusContext>
#include <QObject>

namespace tellwire {

class AppShell;
class DesktopState;
class Router;

// Serves the fcitx5 addon on the session bus: one session per fcitx5 input
// context, the most recently focused kept (the addon also says when a
// context is gone). Every call is answered at once
// from the main thread; dictated text goes out as a signal.
class FcitxHost : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "cc.orrisfeld.tellwire.Fcitx5")
public:
    FcitxHost(DesktopState& state, Router& router, AppShell* shell, QObject* parent = nullptr);
    ~FcitxHost() override;

    // Serves the addon on the session bus; false when there is none to serve on.
    bool start();

public slots:
    Q_SCRIPTABLE void FocusIn(const QString& id, bool secret);
    Q_SCRIPTABLE void FocusOut(const QString& id);
    Q_SCRIPTABLE void Reset(const QString& id);
    Q_SCRIPTABLE void SetSecret(const QString& id, bool secret);
    Q_SCRIPTABLE void CaretMoved(const QString& id);
    Q_SCRIPTABLE void ProcessKey(const QString& id, uint keysym, uint state, qulonglong sent);
    Q_SCRIPTABLE void SelectCandidate(const QString& id, uint index);
    Q_SCRIPTABLE void Forget(const QString& id);
    Q_SCRIPTABLE void ShowPanel();
    Q_SCRIPTABLE void ShowSettings();

private:
    // The context now focused, and the one focused before it left.
    FcitxSession& enter(const QString& id);
    // Runs work on the session (if any) and answers the call with what it
    // typed; work returns whether a key was consumed.
    template <typename Work>
    void answer(FcitxSession* session, Work&& work);
    QList<QVariant> wire(const FcitxOutput& output) const;
    void push(const QString& id, const FcitxOutput& output);

    DesktopState& state_;
    Router& router_;
    AppShell* shell_;
    RecentlyFocused<FcitxSession> sessions_;
    QString focused_;
    bool inCall_ = false;
};

} // namespace tellwire
