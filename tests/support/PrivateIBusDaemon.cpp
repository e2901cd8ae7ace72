#include "support/PrivateIBusDaemon.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTest>

#include <ibus.h>

namespace tellwire::testing {

PrivateIBusDaemon::PrivateIBusDaemon(const QStringList& components, const QProcessEnvironment& extra,
                                     const QString& config)
    : config_(QStringLiteral("--config=") + config)
{
    const QDir root(root_.path());
    for (const char* folder : {"home", "config", "data", "cache", "runtime", "component"})
        root.mkpath(QString::fromLatin1(folder));
    QFile::setPermissions(root_.filePath(QStringLiteral("runtime")),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    for (const QString& component : components)
        QFile::link(component, QDir(componentFolder()).filePath(QFileInfo(component).fileName()));

    // Everyone that looks for the daemon's address file must look in the same place.
    qputenv("HOME", root_.filePath(QStringLiteral("home")).toUtf8());
    qputenv("XDG_CONFIG_HOME", root_.filePath(QStringLiteral("config")).toUtf8());
    qputenv("XDG_DATA_HOME", root_.filePath(QStringLiteral("data")).toUtf8());
    qputenv("XDG_CACHE_HOME", root_.filePath(QStringLiteral("cache")).toUtf8());
    qputenv("XDG_RUNTIME_DIR", root_.filePath(QStringLiteral("runtime")).toUtf8());
    qputenv("IBUS_COMPONENT_PATH", componentFolder().toUtf8());
    qputenv("GSETTINGS_BACKEND", "keyfile");
    for (const char* name : {"IBUS_ADDRESS", "DISPLAY", "WAYLAND_DISPLAY", "XDG_CURRENT_DESKTOP"})
        qunsetenv(name);
    ibus_init();

    environment_ = QProcessEnvironment::systemEnvironment();
    environment_.insert(extra);
}

PrivateIBusDaemon::~PrivateIBusDaemon()
{
    stop();
}

bool PrivateIBusDaemon::start()
{
    if (daemon_.state() != QProcess::NotRunning)
        return true;
    error_.clear();
    daemon_.setProcessEnvironment(environment_);
    // --verbose keeps the engines' standard error, which the daemon passes on.
    daemon_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    daemon_.setStandardOutputFile(QProcess::nullDevice());
    daemon_.start(QStringLiteral("ibus-daemon"),
                  {QStringLiteral("--panel=disable"), QStringLiteral("--emoji-extension=disable"), config_,
                   QStringLiteral("--cache=refresh"), QStringLiteral("--verbose")});
    if (!daemon_.waitForStarted(5000)) {
        error_ = QStringLiteral("ibus-daemon did not start: ") + daemon_.errorString();
        return false;
    }
    // Ready once it answers for its engines; its address file appears earlier.
    const bool ready = QTest::qWaitFor(
        [this] { return daemon_.state() == QProcess::NotRunning || listsEngines(); }, 20000);
    if (daemon_.state() == QProcess::NotRunning) {
        error_ = QStringLiteral("ibus-daemon exited at start");
        return false;
    }
    if (!ready) {
        error_ = QStringLiteral("ibus-daemon did not list its engines within 20 s");
        stop();
        return false;
    }
    return true;
}

void PrivateIBusDaemon::stop()
{
    if (daemon_.state() == QProcess::NotRunning)
        return;
    daemon_.terminate();
    if (!daemon_.waitForFinished(5000)) {
        daemon_.kill();
        daemon_.waitForFinished(5000);
    }
}

bool PrivateIBusDaemon::listsEngines() const
{
    QProcess probe;
    probe.setStandardOutputFile(QProcess::nullDevice());
    probe.setStandardErrorFile(QProcess::nullDevice());
    probe.start(QStringLiteral("ibus"), {QStringLiteral("list-engine")});
    return probe.waitForFinished(10000) && probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0;
}

QString PrivateIBusDaemon::address() const
{
    return QString::fromUtf8(ibus_get_address());
}

bool PrivateIBusDaemon::lists(const QString& engine) const
{
    IBusBus* bus = ibus_bus_new();
    bool listed = false;
    if (ibus_bus_is_connected(bus)) {
        const QByteArray name = engine.toUtf8();
        const gchar* names[] = {name.constData(), nullptr};
        IBusEngineDesc** found = ibus_bus_get_engines_by_names(bus, names);
        listed = found && found[0];
        for (IBusEngineDesc** desc = found; desc && *desc; ++desc)
            g_object_unref(*desc);
        g_free(found);
    }
    g_object_unref(bus);
    return listed;
}

QString PrivateIBusDaemon::gsettings(const QStringList& arguments) const
{
    QProcess tool;
    tool.start(QStringLiteral("gsettings"), arguments);
    tool.waitForFinished(10000);
    return QString::fromUtf8(tool.readAllStandardOutput()).trimmed();
}

QString PrivateIBusDaemon::tellwireComponent()
{
    return QStringLiteral(TELLWIRE_COMPONENT_FILE);
}

void PrivateIBusDaemon::writeComponent(const QString& path, const QString& exec)
{
    QFile built(tellwireComponent());
    QFile file(path);
    if (!built.open(QIODevice::ReadOnly) || !file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return;
    static const QRegularExpression execLine(QStringLiteral("<exec>[^<]*</exec>"));
    file.write(QString::fromUtf8(built.readAll())
                   .replace(execLine, QStringLiteral("<exec>%1 --ibus</exec>").arg(exec))
                   .toUtf8());
}

} // namespace tellwire::testing
