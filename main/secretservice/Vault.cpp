// GLib names a struct member "signals", which Qt's keyword macro would rewrite:
// GLib's headers come first.
#include <libsecret/secret.h>

#include "secretservice/Vault.h"

#include <QStringDecoder>

#include <utility>

namespace tellwire {

namespace {

const char kService[] = "Tellwire";

// Items are found by (service, account) alone, whoever stored them, so that
// secret-tool can read, replace and clear the same item.
const SecretSchema* tokenSchema()
{
    static const SecretSchema schema = [] {
        SecretSchema s{};
        s.name = "cc.orrisfeld.tellwire.Secret";
        s.flags = SECRET_SCHEMA_DONT_MATCH_NAME;
        s.attributes[0] = {"service", SECRET_SCHEMA_ATTRIBUTE_STRING};
        s.attributes[1] = {"account", SECRET_SCHEMA_ATTRIBUTE_STRING};
        return s;
    }();
    return &schema;
}

// One load or save in flight. It is shared by the caller, who may stop waiting,
// and by the chain of libsecret callbacks, which always runs to its end (if
// need be cancelled, and on a later call's iteration of the same context).
struct Operation {
    enum class Kind { Load, Save } kind;
    int references = 1;
    GCancellable* cancellable = g_cancellable_new();
    GHashTable* attributes = g_hash_table_new_full(g_str_hash, g_str_equal, g_free, g_free);
    SecretService* service = nullptr;
    QByteArray value; // to save, or the secret loaded
    bool done = false;
    bool succeeded = false;

    Operation(Kind k, const QString& account, QByteArray v)
        : kind(k)
        , value(std::move(v))
    {
        g_hash_table_insert(attributes, g_strdup("service"), g_strdup(kService));
        g_hash_table_insert(attributes, g_strdup("account"), g_strdup(account.toUtf8().constData()));
    }
    ~Operation()
    {
        if (service)
            g_object_unref(service);
        g_hash_table_unref(attributes);
        g_object_unref(cancellable);
    }
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;

    void release()
    {
        if (--references == 0)
            delete this;
    }
    // The end of the callback chain.
    void finish(bool ok)
    {
        done = true;
        succeeded = ok;
        release();
    }
};

void stored(GObject*, GAsyncResult* result, gpointer data)
{
    auto* op = static_cast<Operation*>(data);
    const gboolean ok = secret_service_store_finish(op->service, result, nullptr);
    op->finish(ok);
}

void cleared(GObject*, GAsyncResult* result, gpointer data)
{
    auto* op = static_cast<Operation*>(data);
    GError* error = nullptr;
    // FALSE without an error only means there was nothing to delete.
    secret_service_clear_finish(op->service, result, &error);
    const bool ok = error == nullptr;
    g_clear_error(&error);
    if (op->value.isEmpty() || !ok || g_cancellable_is_cancelled(op->cancellable)) {
        op->finish(ok);
        return;
    }
    SecretValue* value = secret_value_new(op->value.constData(), op->value.size(), "text/plain");
    secret_service_store(op->service, tokenSchema(), op->attributes, SECRET_COLLECTION_DEFAULT, kService, value,
                         op->cancellable, stored, op);
    secret_value_unref(value);
}

void lookedUp(GObject*, GAsyncResult* result, gpointer data)
{
    auto* op = static_cast<Operation*>(data);
    SecretValue* value = secret_service_lookup_finish(op->service, result, nullptr);
    if (!value) {
        op->finish(false);
        return;
    }
    gsize length = 0;
    const gchar* bytes = secret_value_get(value, &length);
    op->value = QByteArray(bytes, qsizetype(length));
    secret_value_unref(value);
    op->finish(true);
}

void opened(GObject*, GAsyncResult* result, gpointer data)
{
    auto* op = static_cast<Operation*>(data);
    op->service = secret_service_open_finish(result, nullptr);
    if (!op->service) {
        op->finish(false);
        return;
    }
    if (op->kind == Operation::Kind::Load)
        secret_service_lookup(op->service, tokenSchema(), op->attributes, op->cancellable, lookedUp, op);
    else
        secret_service_clear(op->service, tokenSchema(), op->attributes, op->cancellable, cleared, op);
}

gboolean wake(gpointer)
{
    return G_SOURCE_REMOVE;
}

// Dispatches the context's events until the operation ends or the time is up.
void iterateUntil(GMainContext* context, const Operation& op, gint64 deadline)
{
    while (!op.done) {
        const gint64 remaining = deadline - g_get_monotonic_time();
        if (remaining <= 0)
            return;
        GSource* timer = g_timeout_source_new(guint((remaining + 999) / 1000));
        g_source_set_callback(timer, wake, nullptr, nullptr);
        g_source_attach(timer, context);
        g_main_context_iteration(context, TRUE);
        g_source_destroy(timer);
        g_source_unref(timer);
    }
}

// Runs op on a private context, so that no other event of the application is
// dispatched meanwhile, and stops waiting after bound.
bool run(Operation* op, std::chrono::milliseconds bound)
{
    static GMainContext* context = g_main_context_new();
    g_main_context_push_thread_default(context);
    ++op->references; // for the callback chain
    secret_service_open(SECRET_TYPE_SERVICE, nullptr, SECRET_SERVICE_OPEN_SESSION, op->cancellable, opened, op);
    const gint64 start = g_get_monotonic_time();
    iterateUntil(context, *op, start + gint64(bound.count()) * 1000);
    if (!op->done) {
        // Cancelled calls end promptly; give them a moment so that they do not
        // linger until the next call.
        g_cancellable_cancel(op->cancellable);
        iterateUntil(context, *op, g_get_monotonic_time() + 100 * 1000);
    }
    g_main_context_pop_thread_default(context);
    return op->done && op->succeeded && !g_cancellable_is_cancelled(op->cancellable);
}

} // namespace

Vault::Vault(std::chrono::milliseconds bound)
    : bound_(bound)
{
}

QString Vault::load(const QString& account)
{
    auto* op = new Operation(Operation::Kind::Load, account, {});
    QString secret;
    if (run(op, bound_)) {
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString text = utf8.decode(op->value);
        if (!utf8.hasError())
            secret = text;
    }
    op->release();
    return secret;
}

bool Vault::save(const QString& account, const QString& value)
{
    auto* op = new Operation(Operation::Kind::Save, account, value.toUtf8());
    const bool ok = run(op, bound_);
    op->release();
    return ok;
}

} // namespace tellwire
