// GLib's headers come before Qt's, whose signals/slots keywords they use as names.
#include <ibus.h>

#include "ibus/InputMethodServer.h"

#include "ibus/TellwireEngine.h"

#include <QAbstractEventDispatcher>

#include <algorithm>

namespace tellwire {

namespace {

// Kept in step with main/resources/tellwire.xml.in, which installed systems read.
IBusComponent* makeComponent()
{
    IBusComponent* component = ibus_component_new_varargs(
        "name", InputMethodServer::kComponentName,
        "description", "Tellwire",
        "version", "",
        "license", "",
        "author", "Tellwire",
        "homepage", "",
        "command-line", "",
        "textdomain", "tellwire",
        nullptr);
    ibus_component_add_engine(component, ibus_engine_desc_new_varargs(
        "name", InputMethodServer::kEngineName,
        "longname", "Tellwire 语音输入",
        "description", "手机语音输入与拼音键盘",
        "language", "zh",
        "license", "",
        "author", "Tellwire",
        "icon", "",
        "layout", "default",
        "symbol", "语",
        nullptr));
    return component;
}

// One call to the daemon in flight; its answer is dropped once the
// connection it was made on is gone (and the server with it, maybe).
struct PendingCall {
    InputMethodServer* server;
    GCancellable* cancellable;

    static PendingCall* make(InputMethodServer* server, void* cancellable)
    {
        return new PendingCall{server, G_CANCELLABLE(g_object_ref(cancellable))};
    }
    // The server to hand the answer to, or null when the call was abandoned.
    static InputMethodServer* finish(void* data)
    {
        auto* call = static_cast<PendingCall*>(data);
        InputMethodServer* server = g_cancellable_is_cancelled(call->cancellable) ? nullptr : call->server;
        g_object_unref(call->cancellable);
        delete call;
        return server;
    }
};

} // namespace

bool InputMethodServer::eventLoopIsGlib()
{
    const QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    return dispatcher && dispatcher->inherits("QEventDispatcherGlib");
}

InputMethodServer::InputMethodServer(DesktopState& state, Router& router, AppShell* shell, QObject* parent)
    : QObject(parent)
    , state_(state)
    , router_(router)
    , shell_(shell)
    , contexts_([this](const QString& path) {
        return std::make_unique<InputContextSession>(path, state_, router_, shell_);
    })
{
}

InputMethodServer::~InputMethodServer()
{
    if (bus_) {
        g_signal_handlers_disconnect_by_data(bus_, this);
        disconnected();
        g_object_unref(bus_);
    }
}

void InputMethodServer::start(bool startedByDaemon)
{
    if (bus_)
        return;
    startedByDaemon_ = startedByDaemon;
    ibus_init();
    // Asynchronous, so a missing daemon never blocks start-up; the bus watches
    // for a daemon to appear and connects then.
    bus_ = ibus_bus_new_async();
    g_signal_connect(bus_, "connected", G_CALLBACK(onConnected), this);
    g_signal_connect(bus_, "disconnected", G_CALLBACK(onDisconnected), this);
    if (ibus_bus_is_connected(bus_))
        connected();
}

void InputMethodServer::connected()
{
    if (factory_)
        disconnected();
    GDBusConnection* connection = ibus_bus_get_connection(bus_);
    if (!connection)
        return;
    factory_ = ibus_factory_new(connection);
    g_object_ref_sink(factory_);
    g_signal_connect(factory_, "create-engine", G_CALLBACK(onCreateEngine), this);
    cancellable_ = g_cancellable_new();
    ibus_bus_request_name_async(bus_, kComponentName, 0, -1, G_CANCELLABLE(cancellable_),
                                onNameRequested, PendingCall::make(this, cancellable_));
}

void InputMethodServer::disconnected()
{
    if (cancellable_) {
        g_cancellable_cancel(G_CANCELLABLE(cancellable_));
        g_object_unref(cancellable_);
        cancellable_ = nullptr;
    }
    setReady(false);
    // The focus left with the daemon.
    for (const auto& engine : engines_)
        engine->dropFocus();
    if (factory_) {
        ibus_object_destroy(IBUS_OBJECT(factory_));
        g_object_unref(factory_);
        factory_ = nullptr;
    }
    engines_.clear();
    // A new daemon hands out the same context paths for other applications.
    contexts_.clear();
}

void InputMethodServer::nameRequested(GAsyncResult* result)
{
    GError* error = nullptr;
    ibus_bus_request_name_async_finish(bus_, result, &error);
    if (error) {
        // Another process serves the engine already; stay a plain application.
        g_error_free(error);
        return;
    }
    if (startedByDaemon_) {
        setReady(true);
        return;
    }
    ibus_bus_list_engines_async(bus_, -1, G_CANCELLABLE(cancellable_), onEnginesListed,
                                PendingCall::make(this, cancellable_));
}

void InputMethodServer::enginesListed(GAsyncResult* result)
{
    GError* error = nullptr;
    GList* engines = ibus_bus_list_engines_async_finish(bus_, result, &error);
    bool known = false;
    for (GList* item = engines; item; item = item->next) {
        auto* desc = IBUS_ENGINE_DESC(item->data);
        known = known || g_strcmp0(ibus_engine_desc_get_name(desc), kEngineName) == 0;
        g_object_unref(desc);
    }
    g_list_free(engines);
    if (error)
        g_error_free(error);
    if (known) {
        setReady(true);
        return;
    }
    // No component file names the engine (a development build): register it
    // for this daemon's lifetime, which serves it the same way.
    IBusComponent* component = makeComponent();
    g_object_ref_sink(component);
    ibus_bus_register_component_async(bus_, component, -1, G_CANCELLABLE(cancellable_),
                                      onComponentRegistered, PendingCall::make(this, cancellable_));
    g_object_unref(component);
}

void InputMethodServer::setReady(bool ready)
{
    if (ready_ == ready)
        return;
    ready_ = ready;
    emit readyChanged(ready);
}

IBusEngine* InputMethodServer::createEngine(const char* name)
{
    if (g_strcmp0(name, kEngineName) != 0 || !bus_)
        return nullptr;
    const QByteArray path = QByteArrayLiteral("/org/freedesktop/IBus/Engine/") + QByteArray::number(++nextEngine_);
    auto* engine = IBUS_ENGINE(g_object_new(IBUS_TYPE_ENGINE,
                                            "engine-name", name,
                                            "object-path", path.constData(),
                                            "connection", ibus_bus_get_connection(bus_),
                                            "has-focus-id", TRUE,
                                            nullptr));
    engines_.push_back(std::make_unique<TellwireEngine>(engine, bus_, contexts_, state_, shell_, [this, engine] {
        std::erase_if(engines_, [engine](const auto& held) { return held->engine() == engine; });
    }));
    return engine;
}

void InputMethodServer::onConnected(IBusBus*, void* self)
{
    static_cast<InputMethodServer*>(self)->connected();
}

void InputMethodServer::onDisconnected(IBusBus*, void* self)
{
    static_cast<InputMethodServer*>(self)->disconnected();
}

IBusEngine* InputMethodServer::onCreateEngine(IBusFactory*, const char* name, void* self)
{
    return static_cast<InputMethodServer*>(self)->createEngine(name);
}

void InputMethodServer::onNameRequested(GObject*, GAsyncResult* result, void* call)
{
    if (InputMethodServer* server = PendingCall::finish(call))
        server->nameRequested(result);
}

void InputMethodServer::onEnginesListed(GObject*, GAsyncResult* result, void* call)
{
    if (InputMethodServer* server = PendingCall::finish(call))
        server->enginesListed(result);
}

void InputMethodServer::onComponentRegistered(GObject* bus, GAsyncResult* result, void* call)
{
    InputMethodServer* server = PendingCall::finish(call);
    GError* error = nullptr;
    const bool registered = ibus_bus_register_component_async_finish(IBUS_BUS(bus), result, &error);
    if (error)
        g_error_free(error);
    if (server)
        server->setReady(registered);
}

} // namespace tellwire
