#pragma once

#include "ibus/ContextRegistry.h"

#include <QObject>

#include <memory>
#include <vector>

typedef struct _IBusBus IBusBus;
typedef struct _IBusFactory IBusFactory;
typedef struct _IBusEngine IBusEngine;
typedef struct _GAsyncResult GAsyncResult;
typedef struct _GObject GObject;

namespace tellwire {

class AppShell;
class DesktopState;
class Router;
class TellwireEngine;

// The input-method server: connects to ibus-daemon, serves the Tellwire
// engine and keeps one session per client input context. It follows the
// daemon: when the daemon goes away the focus goes with it, and when a daemon
// appears again the server connects to it by itself.
class InputMethodServer : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kComponentName = "cc.orrisfeld.tellwire.inputmethod";
    static constexpr const char* kEngineName = "cc.orrisfeld.tellwire.inputmethod";

    // The daemon reaches libibus callbacks through GLib's main loop; Qt must
    // run on it (it does unless QT_NO_GLIB is set).
    static bool eventLoopIsGlib();

    InputMethodServer(DesktopState& state, Router& router, AppShell* shell, QObject* parent = nullptr);
    ~InputMethodServer() override;

    // startedByDaemon: the daemon started this process from the component
    // file and knows the engine; otherwise the component is also registered
    // at run time when the daemon does not list the engine.
    void start(bool startedByDaemon);

    // Connected and serving the engine.
    bool ready() const { return ready_; }
    ContextRegistry& contexts() { return contexts_; }
    std::size_t engineCount() const { return engines_.size(); }

signals:
    void readyChanged(bool ready);

private:
    void connected();
    void disconnected();
    void nameRequested(GAsyncResult* result);
    void enginesListed(GAsyncResult* result);
    void setReady(bool ready);
    IBusEngine* createEngine(const char* name);

    static void onConnected(IBusBus*, void* self);
    static void onDisconnected(IBusBus*, void* self);
    static IBusEngine* onCreateEngine(IBusFactory*, const char* name, void* self);
    static void onNameRequested(GObject*, GAsyncResult* result, void* self);
    static void onEnginesListed(GObject*, GAsyncResult* result, void* self);
    static void onComponentRegistered(GObject*, GAsyncResult* result, void* self);

    DesktopState& state_;
    Router& router_;
    AppShell* shell_;
    ContextRegistry contexts_;
    bool startedByDaemon_ = false;
    IBusBus* bus_ = nullptr;
    IBusFactory* factory_ = nullptr;
    void* cancellable_ = nullptr; // GCancellable of the calls in flight
    std::vector<std::unique_ptr<TellwireEngine>> engines_;
    unsigned nextEngine_ = 0;
    bool ready_ = false;
};

} // namespace tellwire
