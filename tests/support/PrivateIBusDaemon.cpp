#include "support/PrivateIBusDaemon.h"

#include "support/Wait.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <ibus.h>

namespace tellwire::testing {

namespace {

QString output(const QString& program, const QStringList& arguments, bool* succeeded = nullptr)
{
    QProcess tool;
    tool.setStandardErrorFile(QProcess::nullDevice());
    tool.start(program, arguments);
    const bool finished = tool.waitForFinished(10000);
    if (succeeded)
        *succeeded = finished && tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0;
    return QString::fromUtf8(tool.readAllStandardOutput()).trimmed();
}

} // namespace

PrivateIBusDaemon::PrivateIBusDaemon(const QStringList& components, const QProcessEnvironment& extra,
                                     const QString& config)
    : config_(QStringLiteral("--config=") + config)
{
    const QDir root(root_.path());
    // Everyone that looks for the daemon's address file must look in the same place.
    const char* folders[][2] = {{"HOME", "home"}, {"XDG_CONFIG_HOME", "config"}, {"XDG_DATA_HOME", "data"},
                                {"XDG_CACHE_HOME", "cache"}, {"XDG_RUNTIME_DIR", "runtime"},
                                {"IBUS_COMPONENT_PATH", "component"}};
    for (const auto& [variable, folder] : folders) {
        root.mkpath(QString::fromLatin1(folder));
        qputenv(variable, root.filePath(QString::fromLatin1(folder)).toUtf8());
    }
    QFile::setPermissions(root.filePath(QStringLiteral("runtime")),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    for (const QString& component : components)
        QFile::link(component, root.filePath(QStringLiteral("component/") + QFileInfo(component).fileName()));
    qputenv("GSETTINGS_BACKEND", "keyfile");
    for (const char* name : {"IBUS_ADDRESS", "DISPLAY", "WAYLAND_DISPLAY", "XDG_CURRENT_DESKTOP"})
        qunsetenv(name);
    ibus_init();

    environment_ = QProcessEnvironment::systemEnvironment();
    environment_.insert(extra);
}

bool PrivateIBusDaemon::start()
{
    daemon_.setProcessEnvironment(environment_);
    // --verbose keeps the engines' standard error, which the daemon passes on.
    daemon_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    daemon_.setStandardOutputFile(QProcess::nullDevice());
    daemon_.start(QStringLiteral("ibus-daemon"),
                  {QStringLiteral("--panel=disable"), QStringLiteral("--emoji-extension=disable"), config_,
                   QStringLiteral("--cache=refresh"), QStringLiteral("--verbose")});
    // Ready once it answers for its engines; its address file appears earlier.
    const bool ready = daemon_.waitForStarted(5000)
        && waitUntil([this] { return daemon_.state() == QProcess::NotRunning || lists(); },
                     std::chrono::seconds(20));
    if (ready && daemon_.state() != QProcess::NotRunning)
        return true;
    error_ = QStringLiteral("ibus-daemon did not start and list its engines within 20 s: ") + daemon_.errorString();
    stop();
    return false;
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

QString PrivateIBusDaemon::address() const
{
    return QString::fromUtf8(ibus_get_address());
}

bool PrivateIBusDaemon::lists(const QString& engine) const
{
    bool answered = false;
    const QString engines = output(QStringLiteral("ibus"), {QStringLiteral("list-engine")}, &answered);
    return answered && engines.contains(engine);
}

QString PrivateIBusDaemon::gsettings(const QStringList& arguments)
{
    return output(QStringLiteral("gsettings"), arguments);
}

} // namespace tellwire::testing
