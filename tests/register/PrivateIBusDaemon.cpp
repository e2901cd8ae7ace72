#include "PrivateIBusDaemon.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <ibus.h>

namespace tellwire::testing {

PrivateIBusDaemon::PrivateIBusDaemon()
{
    for (const char* folder : {"config", "cache", "component"})
        QDir(root_.path()).mkpath(folder);
    qputenv("XDG_CONFIG_HOME", configFolder().toUtf8());
    qputenv("XDG_CACHE_HOME", root_.filePath("cache").toUtf8());
    qputenv("IBUS_COMPONENT_PATH", componentFolder().toUtf8());
    qputenv("GSETTINGS_BACKEND", "keyfile");
    qunsetenv("IBUS_ADDRESS");
    qunsetenv("DISPLAY");
    qunsetenv("WAYLAND_DISPLAY");
    qunsetenv("XDG_CURRENT_DESKTOP");
    ibus_init();
}

PrivateIBusDaemon::~PrivateIBusDaemon()
{
    if (daemon_.state() != QProcess::NotRunning) {
        daemon_.terminate();
        if (!daemon_.waitForFinished(5000))
            daemon_.kill();
        daemon_.waitForFinished(5000);
    }
}

void PrivateIBusDaemon::writeComponent(const QString& path, const QString& exec)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return;
    file.write(QStringLiteral(R"(<?xml version="1.0" encoding="utf-8"?>
<component>
  <name>cc.orrisfeld.tellwire</name>
  <description>Tellwire</description>
  <exec>%1 --ibus</exec>
  <version>1</version>
  <author>Tellwire</author>
  <license>MIT</license>
  <homepage>https://example.invalid</homepage>
  <textdomain>tellwire</textdomain>
  <engines>
    <engine>
      <name>cc.orrisfeld.tellwire.inputmethod</name>
      <language>zh_CN</language>
      <license>MIT</license>
      <author>Tellwire</author>
      <layout>us</layout>
      <longname>Tellwire</longname>
      <description>Tellwire</description>
      <rank>0</rank>
    </engine>
  </engines>
</component>
)")
                   .arg(exec)
                   .toUtf8());
}

bool PrivateIBusDaemon::start()
{
    daemon_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    daemon_.setStandardOutputFile(QProcess::nullDevice());
    daemon_.start(QStringLiteral("ibus-daemon"),
                  {"--panel=disable", "--emoji-extension=disable", "--config=disable", "--cache=refresh", "--verbose"});
    if (!daemon_.waitForStarted(5000))
        return false;
    return QTest::qWaitFor([] {
        IBusBus* bus = ibus_bus_new();
        const bool connected = ibus_bus_is_connected(bus);
        g_object_unref(bus);
        return connected;
    }, 10000);
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

} // namespace tellwire::testing
