// The installed system: `cmake --install` into a temporary prefix, its layout,
// and its TellwireRegister against a real ibus-daemon and gsettings in the
// test's private session (the line for each outcome: RegistrationTest).
#include "support/Messages.h"
#include "support/PrivateIBusDaemon.h"
#include "support/PrivateSessionBus.h"
#include "support/ToolRun.h"

#include <QDBusConnectionInterface>
#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <ibus.h>

#include <unistd.h>

using tellwire::testing::runTool;

TEST(InstalledTellwireTest, InstallLaysOutTellwireAndRegisteringRestartsTheDaemonOnlyWhenNeededAndEnablesItOnce)
{
    tellwire::testing::PrivateIBusDaemon daemon; // first: it points this process's XDG folders at its own
    QTemporaryDir prefix;
    const auto install = runTool(CMAKE_COMMAND, {"--install", TELLWIRE_BUILD_DIR, "--prefix", prefix.path()});
    ASSERT_EQ(install.exitCode, 0) << install.err.toStdString();
    for (const char* program : {"bin/TellwireRegister", "bin/TellwireDesktop", "bin/tellwire-relay",
                                "bin/tellwire-phone", "bin/tellwire-pinyin", "libexec/Tellwire"})
        EXPECT_TRUE(QFileInfo(prefix.filePath(program)).isFile() && QFileInfo(prefix.filePath(program)).isExecutable())
            << program;
    const QString engine = "cc.orrisfeld.tellwire.inputmethod";
    const QString component = prefix.filePath("share/ibus/component/tellwire.xml");
    IBusComponent* parsed = ibus_component_new_from_file(component.toUtf8());
    ASSERT_NE(parsed, nullptr);
    EXPECT_EQ(QString(ibus_component_get_exec(parsed)), prefix.filePath("libexec/Tellwire") + " --ibus");
    GList* engines = ibus_component_get_engines(parsed);
    EXPECT_EQ(engines ? QString(ibus_engine_desc_get_name(IBUS_ENGINE_DESC(engines->data))) : "", engine);
    g_object_unref(parsed);
    EXPECT_GT(QFileInfo(prefix.filePath("share/tellwire/pinyin_simp.dict.yaml")).size(), 0);
    EXPECT_TRUE(QFileInfo::exists(prefix.filePath("share/icons/hicolor/scalable/apps/tellwire.svg")));
    const QString entry = prefix.filePath("share/applications/tellwire-desktop.desktop");
    QSettings menu(entry, QSettings::IniFormat);
    EXPECT_EQ(menu.value("Desktop Entry/Exec").toString() + " " + menu.value("Desktop Entry/Icon").toString(),
              "TellwireDesktop tellwire");
    EXPECT_EQ(runTool("desktop-file-validate", {entry}).exitCode, 0);

    const QString ibus = "org.freedesktop.ibus.general", gnome = "org.gnome.desktop.input-sources";
    daemon.gsettings({"set", ibus, "preload-engines", "['xkb:us::eng']"});
    daemon.gsettings({"set", gnome, "sources", "[('xkb', 'us')]"});
    ASSERT_TRUE(daemon.start()) << daemon.error().toStdString();
    const QString before = daemon.address();
    const auto registered = runTool(prefix.filePath("bin/TellwireRegister"), {component});
    EXPECT_EQ(std::tuple(registered.exitCode, registered.out, registered.err),
              std::tuple(0, QString(tellwire::testing::msg::kRegistered) + "\n", QString()));
    EXPECT_EQ(QFileInfo(daemon.componentFolder() + "/tellwire.xml").symLinkTarget(), component);
    EXPECT_NE(daemon.address(), before) << "restarted to read its folder";
    EXPECT_TRUE(daemon.lists(engine));
    const QString preload = "['xkb:us::eng', 'cc.orrisfeld.tellwire.inputmethod']";
    EXPECT_EQ(daemon.gsettings({"get", ibus, "preload-engines"}), preload);
    EXPECT_EQ(daemon.gsettings({"get", gnome, "sources"}), "[('xkb', 'us')]") << "not a GNOME session";

    auto inGnome = QProcessEnvironment::systemEnvironment();
    inGnome.insert("XDG_CURRENT_DESKTOP", "ubuntu:GNOME");
    const QString address = daemon.address();
    EXPECT_EQ(runTool(prefix.filePath("bin/TellwireRegister"), {component}, inGnome).exitCode, 0);
    EXPECT_EQ(daemon.address(), address) << "nothing new for the daemon, so no restart";
    EXPECT_EQ(daemon.gsettings({"get", ibus, "preload-engines"}), preload) << "not twice";
    EXPECT_EQ(daemon.gsettings({"get", gnome, "sources"}), "[('xkb', 'us'), ('ibus', '" + engine + "')]");
}

// An ordinary user registering into the system's folder is told to use sudo once.
TEST(InstalledTellwireTest, RegisteringWithoutRightsToTheSystemFolderAsksForSudo)
{
    QTemporaryDir shared;
    QFile::setPermissions(shared.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther
                                             | QFile::ExeOther);
    QDir(shared.path()).mkdir("system");
    const QString component = shared.filePath("tellwire.xml");
    tellwire::testing::PrivateIBusDaemon::writeComponent(component);
    QFile::setPermissions(component, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
    QStringList command = {QString(TELLWIRE_BUILD_DIR) + "/bin/TellwireRegister", component};
    if (geteuid() == 0)
        command = QStringList{"--reuid=65534", "--regid=65534", "--clear-groups"} + command;
    else
        QFile::setPermissions(shared.filePath("system"), QFile::ReadOwner | QFile::ExeOwner);
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert("IBUS_COMPONENT_PATH", shared.filePath("system"));
    const QString program = geteuid() == 0 ? "setpriv" : command.takeFirst();
    const auto run = runTool(program, command, environment);
    EXPECT_EQ(run.exitCode, 77);
    EXPECT_EQ(run.err, QString(tellwire::testing::msg::kNeedsRoot) + "\n");
    EXPECT_TRUE(QDir(shared.filePath("system")).isEmpty());
}

// The launcher from the application menu starts the installed Tellwire (no
// Secret Service: signed out), whose settings window shows on the display.
TEST(InstalledTellwireTest, LauncherStartsTellwireWhoseSettingsWindowShows)
{
    QTemporaryDir prefix;
    ASSERT_EQ(runTool(CMAKE_COMMAND, {"--install", TELLWIRE_BUILD_DIR, "--prefix", prefix.path()}).exitCode, 0);
    const QString name = "cc.orrisfeld.tellwire.inputmethod";
    tellwire::testing::PrivateSessionBus bus;
    ASSERT_TRUE(bus.isUp());
    QProcess xvfb;
    auto stopAll = qScopeGuard([&] {
        bus.stopOwnerOf(name);
        xvfb.terminate();
        xvfb.waitForFinished(5000);
    });
    // -displayfd 1: the server picks a free display and prints its number.
    xvfb.start("Xvfb", {"-displayfd", "1", "-nolisten", "tcp"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return xvfb.canReadLine(); }, 15000));
    const QString display = ":" + QString::fromUtf8(xvfb.readLine()).trimmed();
    auto session = bus.environment();
    session.insert("DISPLAY", display);
    session.insert("QT_QPA_PLATFORM", "xcb");
    session.insert("TELLWIRE_EXECUTABLE", prefix.filePath("libexec/Tellwire"));

    const auto launcher = runTool(prefix.filePath("bin/TellwireDesktop"), {}, session);
    EXPECT_EQ(launcher.exitCode, 0) << launcher.err.toStdString();
    EXPECT_TRUE(QTest::qWaitFor([&] { return bus.connection().interface()->isServiceRegistered(name).value(); },
                                20000));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return runTool("xwininfo", {"-display", display, "-name", "语音输入设置"}).out.contains("IsViewable"); },
        20000));
}
