// GLib's headers come before Qt's, whose signals/slots keywords they use as names.
#include <ibus.h>

#include "ibus/TellwireEngine.h"

#include "input/KeyEvent.h"
#include "input/VoiceInputController.h"
#include "ibus/ContextRegistry.h"
#include "ibus/KeyTranslation.h"

namespace tellwire {

TellwireEngine::TellwireEngine(IBusEngine* engine, IBusBus* bus, ContextRegistry& contexts, DesktopState& state,
                               AppShell* shell, std::function<void()> destroyed)
    : engine_(engine)
    , bus_(bus)
    , cancellable_(g_cancellable_new())
    , contexts_(contexts)
    , destroyed_(std::move(destroyed))
    , properties_(engine, state, shell)
{
    g_signal_connect(engine_, "process-key-event", G_CALLBACK(onProcessKeyEvent), this);
    g_signal_connect(engine_, "focus-in-id", G_CALLBACK(onFocusInId), this);
    g_signal_connect(engine_, "focus-in", G_CALLBACK(onPlainFocusIn), this);
    g_signal_connect(engine_, "focus-out-id", G_CALLBACK(onFocusOutId), this);
    g_signal_connect(engine_, "reset", G_CALLBACK(onReset), this);
    g_signal_connect(engine_, "set-content-type", G_CALLBACK(onSetContentType), this);
    g_signal_connect(engine_, "candidate-clicked", G_CALLBACK(onCandidateClicked), this);
    g_signal_connect(engine_, "set-cursor-location", G_CALLBACK(onSetCursorLocation), this);
    g_signal_connect(engine_, "destroy", G_CALLBACK(onDestroy), this);
}

TellwireEngine::~TellwireEngine()
{
    g_signal_handlers_disconnect_by_data(engine_, this);
    g_cancellable_cancel(cancellable_);
    g_object_unref(cancellable_);
    // No session may go on typing through an engine that is gone.
    contexts_.forEach([this](InputContextSession& session) {
        if (session.client().engine() == engine_)
            session.client().setEngine(nullptr);
    });
}

InputContextSession* TellwireEngine::focusedSession() const
{
    return focusedPath_.isEmpty() ? nullptr : contexts_.find(focusedPath_);
}

void TellwireEngine::dropFocus()
{
    InputContextSession* session = focusedSession();
    focusedPath_.clear();
    caret_ = QRect();
    if (!session)
        return;
    session->client().setEngine(nullptr);
    session->controller().deactivateServer();
}

void TellwireEngine::focusIn(const QString& path, const QString& client)
{
    if (!focusedPath_.isEmpty() && focusedPath_ != path) {
        // The daemon moved on without a focus-out; what the old context had
        // pending must not land in the new one.
        dropFocus();
    }
    if (client == QLatin1String(kFakeClient)) {
        // The daemon's own context: no application has focus, and nothing is
        // ever typed into it.
        focusedPath_.clear();
        return;
    }
    InputContextSession& session = contexts_.focus(path);
    contexts_.forEach([this, &session](InputContextSession& other) {
        if (&other != &session && other.client().engine() == engine_)
            other.client().setEngine(nullptr);
    });
    focusedPath_ = path;
    caret_ = QRect();
    session.client().setEngine(engine_);
    session.controller().activateServer();
}

void TellwireEngine::focusOut(const QString& path)
{
    // By now the daemon has moved this engine on to the next context, so
    // nothing may be sent: the daemon has committed the composition (its
    // preedit) into the context itself.
    if (path == focusedPath_)
        dropFocus();
}

void TellwireEngine::plainFocusIn()
{
    // A new instance hears of its first focus before the daemon has read its
    // has-focus-id property, so without the context; ask which one it is.
    ibus_bus_current_input_context_async(bus_, -1, cancellable_, onCurrentContext, this);
}

void TellwireEngine::onCurrentContext(GObject* bus, GAsyncResult* result, void* self)
{
    GError* error = nullptr;
    gchar* path = ibus_bus_current_input_context_async_finish(IBUS_BUS(bus), result, &error);
    const bool cancelled = error && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
    if (error)
        g_error_free(error);
    if (!cancelled && path) {
        auto* engine = static_cast<TellwireEngine*>(self);
        // A focus-in-id that came meanwhile is the better word.
        if (engine->focusedPath_.isEmpty()) {
            const QString context = QString::fromUtf8(path);
            engine->focusIn(context, context == QLatin1String(kFakeContextPath) ? QLatin1String(kFakeClient)
                                                                                : QString());
        }
    }
    g_free(path);
}

bool TellwireEngine::processKey(unsigned keyval, unsigned state)
{
    InputContextSession* session = focusedSession();
    if (!session)
        return false;
    const KeyEvent event = translateKey(keyval, state);
    if (!event.keyDown || !(session->controller().recognizedEvents() & VoiceInputController::kKeyDownMask))
        return false;
    session->client().beginKeyEvent();
    const bool handled = session->controller().handle(&event);
    session->client().endKeyEvent();
    return handled;
}

void TellwireEngine::reset()
{
    InputContextSession* session = focusedSession();
    if (!session)
        return;
    // An open composition's preedit has been committed by the daemon already
    // (the raw letters); the controller only closes it, and its candidates
    // still have to be hidden, which the daemon leaves to the engine. Qt
    // resets its one context when the focus moves to another widget, so a
    // reset may mean another field.
    const bool composing = !session->controller().pinyin().isEmpty();
    session->client().beginKeyEvent();
    session->controller().fieldMayHaveChanged();
    if (composing)
        session->client().dropCommitTypedByDaemon();
    session->client().endKeyEvent();
}

void TellwireEngine::setContentType(unsigned purpose)
{
    InputContextSession* session = focusedSession();
    if (!session)
        return;
    session->client().beginKeyEvent();
    session->controller().setSecret(purpose == IBUS_INPUT_PURPOSE_PASSWORD || purpose == IBUS_INPUT_PURPOSE_PIN);
    session->client().endKeyEvent();
}

void TellwireEngine::candidateClicked(unsigned index)
{
    InputContextSession* session = focusedSession();
    if (!session)
        return;
    // The table shows one page of at most nine, so the index is the position.
    const QStringList candidates = session->controller().candidates();
    session->client().beginKeyEvent();
    session->controller().candidateSelected(index < unsigned(candidates.size())
                                                ? std::optional<QString>(candidates.at(index))
                                                : std::nullopt);
    session->client().endKeyEvent();
}

void TellwireEngine::cursorMoved(int x, int y, int width, int height)
{
    const QRect caret(x, y, width, height);
    InputContextSession* session = focusedSession();
    if (!session || caret == caret_)
        return;
    const bool first = caret_.isNull();
    caret_ = caret;
    // GTK's module (Chromium's too) drops the focus of a field that hides its
    // keys, and says so by declaring synchronous key handling; Qt 6.4 keeps the
    // focus and gives no sign but keys that stop coming.
    if (!first && !(engine_->client_capabilities & IBUS_CAP_SYNC_PROCESS_KEY))
        session->controller().caretMoved();
}

gboolean TellwireEngine::onProcessKeyEvent(IBusEngine*, unsigned keyval, unsigned, unsigned state, void* self)
{
    return static_cast<TellwireEngine*>(self)->processKey(keyval, state);
}

void TellwireEngine::onFocusInId(IBusEngine*, const char* path, const char* client, void* self)
{
    static_cast<TellwireEngine*>(self)->focusIn(QString::fromUtf8(path), QString::fromUtf8(client));
}

void TellwireEngine::onPlainFocusIn(IBusEngine*, void* self)
{
    static_cast<TellwireEngine*>(self)->plainFocusIn();
}

void TellwireEngine::onFocusOutId(IBusEngine*, const char* path, void* self)
{
    static_cast<TellwireEngine*>(self)->focusOut(QString::fromUtf8(path));
}

void TellwireEngine::onReset(IBusEngine*, void* self)
{
    static_cast<TellwireEngine*>(self)->reset();
}

void TellwireEngine::onSetContentType(IBusEngine*, unsigned purpose, unsigned, void* self)
{
    static_cast<TellwireEngine*>(self)->setContentType(purpose);
}

void TellwireEngine::onCandidateClicked(IBusEngine*, unsigned index, unsigned, unsigned, void* self)
{
    static_cast<TellwireEngine*>(self)->candidateClicked(index);
}

void TellwireEngine::onSetCursorLocation(IBusEngine*, int x, int y, int width, int height, void* self)
{
    static_cast<TellwireEngine*>(self)->cursorMoved(x, y, width, height);
}

void TellwireEngine::onDestroy(IBusEngine*, void* self)
{
    auto* engine = static_cast<TellwireEngine*>(self);
    engine->dropFocus();
    // The owner deletes the engine, and with it this function object.
    const auto destroyed = engine->destroyed_;
    destroyed();
}

} // namespace tellwire
