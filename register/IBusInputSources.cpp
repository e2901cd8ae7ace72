#include "IBusInputSources.h"

#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>

#include <ibus.h>

#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace tellwire {

namespace {

const char kIBusSchema[] = "org.freedesktop.ibus.general";
const char kGnomeSchema[] = "org.gnome.desktop.input-sources";

struct BusRef {
    IBusBus* bus = ibus_bus_new();
    ~BusRef() { g_object_unref(bus); }
    bool connected() const { return ibus_bus_is_connected(bus); }
};

bool daemonLists(IBusBus* bus, const QByteArray& engine)
{
    const gchar* names[] = {engine.constData(), nullptr};
    IBusEngineDesc** found = ibus_bus_get_engines_by_names(bus, names);
    const bool listed = found && found[0];
    for (IBusEngineDesc** desc = found; desc && *desc; ++desc)
        g_object_unref(*desc);
    g_free(found);
    return listed;
}

int failure(int error)
{
    const bool permission = error == EACCES || error == EPERM || error == EROFS;
    return permission && geteuid() != 0 ? InputSources::kRootRequired : error;
}

bool hasSchema(const char* id)
{
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    if (!source)
        return false;
    GSettingsSchema* schema = g_settings_schema_source_lookup(source, id, TRUE);
    if (!schema)
        return false;
    g_settings_schema_unref(schema);
    return true;
}

bool isGnome()
{
    const QStringList desktops = qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(u':');
    return desktops.contains(QStringLiteral("GNOME"), Qt::CaseInsensitive);
}

// Appends the engine to the IBus preload list unless it is there.
int addToPreloadEngines(const QByteArray& engine)
{
    GSettings* settings = g_settings_new(kIBusSchema);
    auto release = qScopeGuard([&] { g_object_unref(settings); });
    gchar** current = g_settings_get_strv(settings, "preload-engines");
    auto freeCurrent = qScopeGuard([&] { g_strfreev(current); });
    if (g_strv_contains(current, engine.constData()))
        return 0;
    GStrvBuilder* builder = g_strv_builder_new();
    g_strv_builder_addv(builder, const_cast<const char**>(current));
    g_strv_builder_add(builder, engine.constData());
    gchar** updated = g_strv_builder_end(builder);
    g_strv_builder_unref(builder);
    const bool written = g_settings_set_strv(settings, "preload-engines", updated);
    g_strfreev(updated);
    return written ? 0 : EROFS;
}

// Appends ('ibus', engine) to GNOME's input sources unless it is there.
int addToGnomeSources(const QByteArray& engine)
{
    GSettings* settings = g_settings_new(kGnomeSchema);
    auto release = qScopeGuard([&] { g_object_unref(settings); });
    GVariant* current = g_settings_get_value(settings, "sources");
    auto freeCurrent = qScopeGuard([&] { g_variant_unref(current); });

    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE("a(ss)"));
    GVariantIter iter;
    g_variant_iter_init(&iter, current);
    const gchar* type = nullptr;
    const gchar* id = nullptr;
    bool present = false;
    while (g_variant_iter_next(&iter, "(&s&s)", &type, &id)) {
        present = present || (g_str_equal(type, "ibus") && engine == id);
        g_variant_builder_add(&builder, "(ss)", type, id);
    }
    if (present) {
        g_variant_builder_clear(&builder);
        return 0;
    }
    g_variant_builder_add(&builder, "(ss)", "ibus", engine.constData());
    return g_settings_set_value(settings, "sources", g_variant_builder_end(&builder)) ? 0 : EROFS;
}

} // namespace

IBusInputSources::IBusInputSources(QString systemFolder)
    : systemFolder_(std::move(systemFolder))
{
    ibus_init();
}

QStringList IBusInputSources::componentFolders() const
{
    if (!qEnvironmentVariableIsSet("IBUS_COMPONENT_PATH"))
        return {systemFolder_};
    return qEnvironmentVariable("IBUS_COMPONENT_PATH").split(u':', Qt::SkipEmptyParts);
}

int IBusInputSources::registerComponent(const QString& path)
{
    if (QFileInfo(path).isDir())
        return EISDIR;
    IBusComponent* component = ibus_component_new_from_file(QFile::encodeName(path).constData());
    if (!component)
        return EINVAL;
    QList<QByteArray> engines;
    for (GList* item = ibus_component_get_engines(component); item; item = item->next)
        engines.append(ibus_engine_desc_get_name(IBUS_ENGINE_DESC(item->data)));
    g_object_unref(component);

    bool changed = false;
    if (const int status = placeInFolder(path, changed); status != 0)
        return status;

    // A restart interrupts typing in every application: only when needed.
    BusRef bus;
    if (!bus.connected())
        return 0; // the daemon reads the folder when the session starts it
    const bool known = std::all_of(engines.cbegin(), engines.cend(),
                                   [&](const QByteArray& engine) { return daemonLists(bus.bus, engine); });
    if (changed || !known)
        ibus_bus_exit(bus.bus, TRUE);
    return 0;
}

int IBusInputSources::placeInFolder(const QString& path, bool& changed) const
{
    const QString target = QFileInfo(path).canonicalFilePath();
    const QStringList folders = componentFolders();
    if (folders.isEmpty())
        return ENOENT;
    for (const QString& folder : folders) {
        if (QFileInfo(folder).canonicalFilePath() == QFileInfo(target).canonicalPath())
            return 0; // installed straight into a folder the daemon reads
        const QString entry = QDir(folder).filePath(QFileInfo(path).fileName());
        if (QFileInfo(entry).canonicalFilePath() == target)
            return 0;
    }

    const QString folder = folders.first();
    errno = 0;
    if (!QDir().mkpath(folder))
        return failure(errno != 0 ? errno : EACCES);
    const QByteArray entry = QFile::encodeName(QDir(folder).filePath(QFileInfo(path).fileName()));
    const QByteArray staging = entry + ".tellwire-new";
    // Link beside the entry and rename over it, so the folder never lacks it.
    ::unlink(staging.constData());
    if (::symlink(QFile::encodeName(QFileInfo(path).absoluteFilePath()).constData(), staging.constData()) != 0)
        return failure(errno);
    if (::rename(staging.constData(), entry.constData()) != 0) {
        const int error = errno;
        ::unlink(staging.constData());
        return failure(error);
    }
    changed = true;
    return 0;
}

bool IBusInputSources::lists(const QString& engine)
{
    BusRef bus;
    return bus.connected() && daemonLists(bus.bus, engine.toUtf8());
}

int IBusInputSources::enable(const QString& engine)
{
    const QByteArray name = engine.toUtf8();
    if (!hasSchema(kIBusSchema))
        return ENOENT;
    int status = addToPreloadEngines(name);
    if (status == 0 && isGnome() && hasSchema(kGnomeSchema))
        status = addToGnomeSources(name);
    g_settings_sync();
    return status;
}

} // namespace tellwire
