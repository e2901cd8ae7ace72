// GLib's headers come before Qt's, whose signals/slots keywords they use as names.
#include <ibus.h>

#include "support/TestInputContext.h"

#include "support/Wait.h"

namespace tellwire::testing {

namespace {

QString textOf(IBusText* text)
{
    return QString::fromUtf8(ibus_text_get_text(text));
}

TestInputContext* self(gpointer data)
{
    return static_cast<TestInputContext*>(data);
}

} // namespace

// A method call on the daemon, answered while the main loop runs (an engine in
// this process must keep being served); null when no answer came.
GVariant* TestInputContext::call(const char* path, const char* interface, const char* method, GVariant* arguments,
                                 const char* replyType)
{
    struct Answer {
        bool done = false;
        GVariant* value = nullptr;
    } answer;
    g_dbus_connection_call(
        connection_, "org.freedesktop.IBus", path, interface, method, arguments, G_VARIANT_TYPE(replyType),
        G_DBUS_CALL_FLAGS_NONE, -1, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            auto* answer = static_cast<Answer*>(data);
            GError* error = nullptr;
            answer->value = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
            if (error) {
                g_printerr("%s\n", error->message);
                g_error_free(error);
            }
            answer->done = true;
        },
        &answer);
    waitUntil([&] { return answer.done; });
    return answer.value;
}

std::unique_ptr<TestInputContext> TestInputContext::create(const QString& address, const char* clientName)
{
    std::unique_ptr<TestInputContext> made(new TestInputContext);
    made->connection_ = g_dbus_connection_new_for_address_sync(
        address.toUtf8().constData(),
        GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT
                             | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    if (!made->connection_)
        return nullptr;
    GVariant* created = made->call("/org/freedesktop/IBus", "org.freedesktop.IBus", "CreateInputContext",
                                   g_variant_new("(s)", clientName), "(o)");
    if (!created)
        return nullptr;
    const gchar* path = nullptr;
    g_variant_get(created, "(&o)", &path);
    made->context_ = ibus_input_context_new(path, made->connection_, nullptr, nullptr);
    g_variant_unref(created);
    if (!made->context_)
        return nullptr;
    ibus_input_context_set_capabilities(made->context_,
                                        IBUS_CAP_PREEDIT_TEXT | IBUS_CAP_LOOKUP_TABLE | IBUS_CAP_FOCUS);

    const auto on = [context = made->context_, data = made.get()](const char* signal, auto handler) {
        g_signal_connect(context, signal, G_CALLBACK(+handler), data);
    };
    on("commit-text", [](IBusInputContext*, IBusText* text, gpointer d) {
        self(d)->commits.push_back(textOf(text));
        self(d)->committed += textOf(text);
    });
    on("update-preedit-text", [](IBusInputContext*, IBusText* text, guint cursor, gboolean visible, gpointer d) {
        self(d)->preedit = {textOf(text), cursor, bool(visible)};
        self(d)->preeditAt = std::chrono::steady_clock::now();
        ++self(d)->preeditUpdates;
    });
    on("show-preedit-text", [](IBusInputContext*, gpointer d) { self(d)->preedit.visible = true; });
    on("hide-preedit-text", [](IBusInputContext*, gpointer d) {
        self(d)->preedit.visible = false;
        ++self(d)->preeditUpdates;
    });
    on("update-lookup-table", [](IBusInputContext*, IBusLookupTable* table, gboolean visible, gpointer d) {
        self(d)->lookupTable.clear();
        for (guint i = 0; i < ibus_lookup_table_get_number_of_candidates(table); ++i)
            self(d)->lookupTable.append(textOf(ibus_lookup_table_get_candidate(table, i)));
        self(d)->lookupVisible = visible;
        ++self(d)->lookupUpdates;
    });
    on("show-lookup-table", [](IBusInputContext*, gpointer d) { self(d)->lookupVisible = true; });
    on("hide-lookup-table", [](IBusInputContext*, gpointer d) { self(d)->lookupVisible = false; });
    return made;
}

TestInputContext::~TestInputContext()
{
    if (context_) {
        g_signal_handlers_disconnect_by_data(context_, this);
        g_dbus_proxy_call(G_DBUS_PROXY(context_), "Destroy", nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr,
                          nullptr, nullptr);
        g_object_unref(context_);
    }
    if (connection_) {
        g_dbus_connection_flush_sync(connection_, nullptr, nullptr);
        g_dbus_connection_close_sync(connection_, nullptr, nullptr);
        g_object_unref(connection_);
    }
}

QString TestInputContext::path() const
{
    return QString::fromUtf8(g_dbus_proxy_get_object_path(G_DBUS_PROXY(context_)));
}

bool TestInputContext::setEngine(const char* engine)
{
    GVariant* done = call(g_dbus_proxy_get_object_path(G_DBUS_PROXY(context_)), "org.freedesktop.IBus.InputContext",
                          "SetEngine", g_variant_new("(s)", engine), "()");
    if (done)
        g_variant_unref(done);
    return done != nullptr;
}

void TestInputContext::focusIn()
{
    ibus_input_context_focus_in(context_);
}

void TestInputContext::focusOut()
{
    ibus_input_context_focus_out(context_);
}

void TestInputContext::reset()
{
    ibus_input_context_reset(context_);
}

void TestInputContext::setCapabilities(unsigned capabilities)
{
    ibus_input_context_set_capabilities(context_, capabilities);
}

void TestInputContext::setContentType(unsigned purpose, unsigned hints)
{
    ibus_input_context_set_content_type(context_, purpose, hints);
}

std::optional<bool> TestInputContext::sendKey(unsigned keyval, unsigned state)
{
    GVariant* answer = call(g_dbus_proxy_get_object_path(G_DBUS_PROXY(context_)), "org.freedesktop.IBus.InputContext",
                            "ProcessKeyEvent", g_variant_new("(uuu)", keyval, 0u, state), "(b)");
    if (!answer)
        return std::nullopt;
    gboolean handled = FALSE;
    g_variant_get(answer, "(b)", &handled);
    g_variant_unref(answer);
    return bool(handled);
}

std::optional<bool> TestInputContext::press(unsigned keyval, unsigned state)
{
    const std::optional<bool> handled = sendKey(keyval, state);
    sendKey(keyval, state | IBUS_RELEASE_MASK);
    return handled;
}

} // namespace tellwire::testing
