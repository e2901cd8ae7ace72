// The installed system: `cmake --install` into a temporary prefix, then what a
// user does with it: register the engine with ibus-daemon and open the
// settings window through the launcher, on a display and session bus of the
// test's own.

#include "register/ToolRun.h"
#include "support/PrivateIBusDaemon.h"
#include "PrivateSessionBus.h"

#include <QDBusConnectionInterface>
#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <gmock/gmock.h>

#include <ibus.h>

using tellwire::testing::PrivateIBusDaemon;
using tellwire::testing::PrivateSessionBus;
using tellwire::testing::runTool;
using tellwire::testing::ToolRun;

namespace {

const QString kName = QStringLiteral("cc.orrisfeld.tellwire.inputmethod");

class InstalledTellwireTest : public ::testing::Test {
protected:
    PrivateIBusDaemon ibus; // first: it points the test's XDG folders at its own
    QTemporaryDir scratch;
    QString prefix = scratch.filePath("prefix");

    void SetUp() override
    {
        const ToolRun install = runTool(CMAKE_COMMAND, {"--install", TELLWIRE_BUILD_DIR, "--prefix", prefix});
        ASSERT_EQ(install.exitCode, 0) << install.err.toStdString();
    }

    QString installed(const QString& path) const { return QDir(prefix).filePath(path); }
    QString component() const { return installed("share/ibus/component/tellwire.xml"); }
};

TEST_F(InstalledTellwireTest, InstallLaysOutProgramsComponentResourcesAndMenuEntry)
{
    for (const char* program : {"bin/TellwireRegister", "bin/TellwireDesktop", "bin/tellwire-relay",
                                "bin/tellwire-phone", "bin/tellwire-pinyin", "libexec/Tellwire"}) {
        const QFileInfo file(installed(program));
        EXPECT_TRUE(file.isFile() && file.isExecutable()) << program;
    }

    IBusComponent* parsed = ibus_component_new_from_file(component().toUtf8().constData());
    ASSERT_NE(parsed, nullptr);
    EXPECT_EQ(QString::fromUtf8(ibus_component_get_exec(parsed)), installed("libexec/Tellwire") + " --ibus");
    GList* engines = ibus_component_get_engines(parsed);
    ASSERT_NE(engines, nullptr);
    EXPECT_EQ(QString::fromUtf8(ibus_engine_desc_get_name(IBUS_ENGINE_DESC(engines->data))), kName);
    g_object_unref(parsed);

    EXPECT_GT(QFileInfo(installed("share/tellwire/pinyin_simp.dict.yaml")).size(), 0);
    EXPECT_TRUE(QFileInfo::exists(installed("share/icons/hicolor/scalable/apps/tellwire.svg")));
    const QString entry = installed("share/applications/tellwire-desktop.desktop");
    QSettings desktop(entry, QSettings::IniFormat);
    EXPECT_EQ(desktop.value("Desktop Entry/Exec").toString(), "TellwireDesktop");
    EXPECT_EQ(desktop.value("Desktop Entry/Icon").toString(), "tellwire");
    const ToolRun validation = runTool("desktop-file-validate", {entry});
    EXPECT_EQ(validation.exitCode, 0) << validation.out.toStdString() << validation.err.toStdString();
}

TEST_F(InstalledTellwireTest, RegisteredTellwireOpensItsSettingsThroughTheLauncher)
{
    ASSERT_TRUE(ibus.start());
    const ToolRun registration = runTool(installed("bin/TellwireRegister"), {component()});
    ASSERT_EQ(registration.out, "已注册并启用语音输入。\n") << registration.err.toStdString();
    ASSERT_TRUE(ibus.lists(kName));

    PrivateSessionBus bus;
    ASSERT_TRUE(bus.isUp());
    QProcess xvfb;
    // Whatever happens below, nothing started here outlives the test.
    auto stopAll = qScopeGuard([&] {
        bus.stopOwnerOf(kName);
        xvfb.terminate();
        xvfb.waitForFinished(5000);
    });
    // No Secret Service on this bus: a first start, signed out.
    auto session = bus.environment();
    // -displayfd 1: the server picks a free display and prints its number.
    xvfb.start("Xvfb", {"-displayfd", "1", "-nolisten", "tcp"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return xvfb.canReadLine(); }, 15000));
    const QString display = ":" + QString::fromUtf8(xvfb.readLine()).trimmed();
    session.insert("DISPLAY", display);
    session.insert("QT_QPA_PLATFORM", "xcb");
    session.insert("IBUS_ADDRESS", ibus.address()); // the daemon runs without a display
    session.insert("TELLWIRE_EXECUTABLE", installed("libexec/Tellwire"));

    const ToolRun launcher = runTool(installed("bin/TellwireDesktop"), {}, session);
    EXPECT_EQ(launcher.exitCode, 0) << launcher.err.toStdString();
    EXPECT_TRUE(QTest::qWaitFor([&] { return bus.connection().interface()->isServiceRegistered(kName).value(); },
                                20000))
        << "the launcher started Tellwire";
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return runTool("xwininfo", {"-display", display, "-name", "语音输入设置"}).out.contains("IsViewable"); },
        20000));
}

} // namespace
