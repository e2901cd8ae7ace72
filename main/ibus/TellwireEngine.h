#pragma once

#include "ibus/ContextRegistry.h"
#include "ibus/EngineProperties.h"

#include <QRect>
#include <QString>

#include <functional>

typedef struct _IBusBus IBusBus;
typedef struct _IBusEngine IBusEngine;
typedef struct _GCancellable GCancellable;
typedef struct _GAsyncResult GAsyncResult;
typedef struct _GObject GObject;

namespace tellwire {

class AppShell;
class DesktopState;

// One engine instance the daemon created. The daemon moves an instance
// between input contexts as the focus moves and tells it which context it
// serves (focus-in-id / focus-out-id); the instance hands every call on to the
// session of that context.
class TellwireEngine {
public:
    // The client name the daemon gives its own context, which holds the focus
    // whenever no application does.
    static constexpr const char* kFakeClient = "fake";
    // The daemon makes its own context before any client's, so it has the
    // first context path.
    static constexpr const char* kFakeContextPath = "/org/freedesktop/IBus/InputContext_1";

    // state and shell: what the desktop's input-source menu switches and
    // opens. destroyed: called when the daemon destroys the instance; the
    // owner then deletes this object.
    TellwireEngine(IBusEngine* engine, IBusBus* bus, ContextRegistry& contexts, DesktopState& state,
                   AppShell* shell, std::function<void()> destroyed);
    ~TellwireEngine();

    TellwireEngine(const TellwireEngine&) = delete;
    TellwireEngine& operator=(const TellwireEngine&) = delete;

    IBusEngine* engine() const { return engine_; }
    // The context this instance serves now; empty when none has focus.
    const QString& focusedPath() const { return focusedPath_; }

    // The daemon is gone, and the focus with it: nothing more can be typed.
    void dropFocus();

private:
    InputContextSession* focusedSession() const;
    void focusIn(const QString& path, const QString& client);
    void focusOut(const QString& path);
    bool processKey(unsigned keyval, unsigned state);
    void reset();
    void setContentType(unsigned purpose);
    void candidateClicked(unsigned index);
    void cursorMoved(int x, int y, int width, int height);

    void plainFocusIn();
    static void onPlainFocusIn(IBusEngine*, void* self);
    static void onCurrentContext(GObject* bus, GAsyncResult* result, void* self);
    static gboolean onProcessKeyEvent(IBusEngine*, unsigned keyval, unsigned keycode, unsigned state, void* self);
    static void onFocusInId(IBusEngine*, const char* path, const char* client, void* self);
    static void onFocusOutId(IBusEngine*, const char* path, void* self);
    static void onReset(IBusEngine*, void* self);
    static void onSetContentType(IBusEngine*, unsigned purpose, unsigned hints, void* self);
    static void onCandidateClicked(IBusEngine*, unsigned index, unsigned button, unsigned state, void* self);
    static void onSetCursorLocation(IBusEngine*, int x, int y, int width, int height, void* self);
    static void onDestroy(IBusEngine*, void* self);

    IBusEngine* engine_;
    IBusBus* bus_;
    GCancellable* cancellable_;
    ContextRegistry& contexts_;
    std::function<void()> destroyed_;
    QString focusedPath_;
    QRect caret_; // where the focused context's caret was last
    EngineProperties properties_;
};

} // namespace tellwire
