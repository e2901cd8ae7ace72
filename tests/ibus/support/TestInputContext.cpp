// GLib's headers come before Qt's, whose signals/slots keywords they use as names.
#include <ibus.h>

#include "TestInputContext.h"

#include "Wait.h"

namespace tellwire::testing {

namespace {

QString textOf(IBusText* text)
{
    return QString::fromUtf8(ibus_text_get_text(text));
}

// The answer to one asynchronous call, once it came.
struct Answer {
    bool done = false;
    GVariant* value = nullptr;
    GError* error = nullptr;

    ~Answer()
    {
        if (value)
            g_variant_unref(value);
        if (error)
            g_error_free(error);
    }
};

void onCommitText(IBusInputContext*, IBusText* text, gpointer data)
{
    auto* context = static_cast<TestInputContext*>(data);
    context->commits.push_back(textOf(text));
    context->committed += context->commits.back();
}

void onUpdatePreedit(IBusInputContext*, IBusText* text, guint cursor, gboolean visible, gpointer data)
{
    auto* context = static_cast<TestInputContext*>(data);
    context->preedit = {textOf(text), cursor, bool(visible)};
    context->preeditAt = std::chrono::steady_clock::now();
    ++context->preeditUpdates;
}

void onShowPreedit(IBusInputContext*, gpointer data)
{
    static_cast<TestInputContext*>(data)->preedit.visible = true;
}

void onHidePreedit(IBusInputContext*, gpointer data)
{
    auto* context = static_cast<TestInputContext*>(data);
    context->preedit.visible = false;
    ++context->preeditUpdates;
}

void onUpdateLookupTable(IBusInputContext*, IBusLookupTable* table, gboolean visible, gpointer data)
{
    auto* context = static_cast<TestInputContext*>(data);
    context->lookupTable.clear();
    for (guint i = 0; i < ibus_lookup_table_get_number_of_candidates(table); ++i)
        context->lookupTable.append(textOf(ibus_lookup_table_get_candidate(table, i)));
    context->lookupVisible = visible;
    ++context->lookupUpdates;
    if (visible)
        context->shownTables.push_back(context->lookupTable);
}

void onShowLookupTable(IBusInputContext*, gpointer data)
{
    static_cast<TestInputContext*>(data)->lookupVisible = true;
}

void onHideLookupTable(IBusInputContext*, gpointer data)
{
    static_cast<TestInputContext*>(data)->lookupVisible = false;
}

} // namespace

std::unique_ptr<TestInputContext> TestInputContext::create(const QString& address, const char* clientName)
{
    std::unique_ptr<TestInputContext> made(new TestInputContext);
    GError* error = nullptr;
    made->connection_ = g_dbus_connection_new_for_address_sync(
        address.toUtf8().constData(),
        GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT
                             | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    if (!made->connection_) {
        g_error_free(error);
        return nullptr;
    }
    Answer created;
    g_dbus_connection_call(made->connection_, "org.freedesktop.IBus", "/org/freedesktop/IBus",
                           "org.freedesktop.IBus", "CreateInputContext", g_variant_new("(s)", clientName),
                           G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr,
                           [](GObject* source, GAsyncResult* result, gpointer data) {
                               auto* answer = static_cast<Answer*>(data);
                               answer->value = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result,
                                                                             &answer->error);
                               answer->done = true;
                           },
                           &created);
    if (!waitUntil([&] { return created.done; }) || !created.value)
        return nullptr;
    const gchar* path = nullptr;
    g_variant_get(created.value, "(&o)", &path);
    made->context_ = ibus_input_context_new(path, made->connection_, nullptr, &error);
    if (!made->context_) {
        g_error_free(error);
        return nullptr;
    }
    ibus_input_context_set_capabilities(made->context_,
                                        IBUS_CAP_PREEDIT_TEXT | IBUS_CAP_LOOKUP_TABLE | IBUS_CAP_FOCUS);

    TestInputContext* self = made.get();
    g_signal_connect(self->context_, "commit-text", G_CALLBACK(onCommitText), self);
    g_signal_connect(self->context_, "update-preedit-text", G_CALLBACK(onUpdatePreedit), self);
    g_signal_connect(self->context_, "show-preedit-text", G_CALLBACK(onShowPreedit), self);
    g_signal_connect(self->context_, "hide-preedit-text", G_CALLBACK(onHidePreedit), self);
    g_signal_connect(self->context_, "update-lookup-table", G_CALLBACK(onUpdateLookupTable), self);
    g_signal_connect(self->context_, "show-lookup-table", G_CALLBACK(onShowLookupTable), self);
    g_signal_connect(self->context_, "hide-lookup-table", G_CALLBACK(onHideLookupTable), self);
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
    Answer answer;
    g_dbus_proxy_call(G_DBUS_PROXY(context_), "SetEngine", g_variant_new("(s)", engine), G_DBUS_CALL_FLAGS_NONE,
                      -1, nullptr,
                      [](GObject* source, GAsyncResult* result, gpointer data) {
                          auto* answer = static_cast<Answer*>(data);
                          answer->value = g_dbus_proxy_call_finish(G_DBUS_PROXY(source), result, &answer->error);
                          answer->done = true;
                      },
                      &answer);
    if (!waitUntil([&] { return answer.done; }))
        return false;
    if (answer.error)
        g_printerr("SetEngine %s: %s\n", engine, answer.error->message);
    return answer.value != nullptr;
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

std::optional<bool> TestInputContext::sendKey(unsigned keyval, unsigned state)
{
    struct KeyAnswer {
        bool done = false;
        bool handled = false;
    } answer;
    ibus_input_context_process_key_event_async(
        context_, keyval, 0, state, -1, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            auto* answer = static_cast<KeyAnswer*>(data);
            GError* error = nullptr;
            answer->handled = ibus_input_context_process_key_event_async_finish(IBUS_INPUT_CONTEXT(source), result,
                                                                               &error);
            if (error)
                g_error_free(error);
            answer->done = true;
        },
        &answer);
    if (!waitUntil([&] { return answer.done; }))
        return std::nullopt;
    return answer.handled;
}

std::optional<bool> TestInputContext::press(unsigned keyval, unsigned state)
{
    const std::optional<bool> handled = sendKey(keyval, state);
    sendKey(keyval, state | IBUS_RELEASE_MASK);
    return handled;
}

} // namespace tellwire::testing
