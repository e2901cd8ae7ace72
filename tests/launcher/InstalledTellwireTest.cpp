// The installed system (one `cmake --install` into a temporary prefix): its layout, TellwireRegister against a
// private ibus-daemon and gsettings, TellwireDesktop on a private session bus with a stand-in or the real Tellwire.
#include "support/Messages.h"
#include "support/PrivateIBusDaemon.h"
#include "support/PrivateSessionBus.h"
#include "support/ToolRun.h"
#include "support/Wait.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <QDBusConnectionInterface>

#include <csignal>

#include <cerrno>
#include <unistd.h>

using namespace std::chrono_literals;
using namespace tellwire::testing;

namespace {

const QString kEngine = "cc.orrisfeld.tellwire.inputmethod"; // also Tellwire's name on the session bus

// Where the fixture installs the build, once per test process.
QString installed(const QString& file = {})
{
    static QTemporaryDir prefix;
    return file.isEmpty() ? prefix.path() : prefix.filePath(file);
}

// A session bus for the launcher, noting when (on `clock`) each Posted signal is heard, as Tellwire would.
class Session : public QObject {
    Q_OBJECT
public:
    Session()
    {
        bus.connection().connect({}, "/cc/orrisfeld/tellwire", "cc.orrisfeld.tellwire.Notifications", "Posted", this,
                                 SLOT(hear(QString)));
    }
    ~Session() override { stopOwnerOf(bus.connection(), kEngine); }
    // The installed launcher, pointed at `executable`, offscreen unless given a display.
    ToolRun launch(const QString& executable, const QString& display = {})
    {
        auto environment = bus.environment();
        environment.insert("TELLWIRE_EXECUTABLE", executable);
        environment.insert("STAND_IN_RECORD", scratch.filePath("record"));
        if (!display.isEmpty()) {
            environment.insert("DISPLAY", display);
            environment.insert("QT_QPA_PLATFORM", "xcb");
        }
        return runTool(installed("bin/TellwireDesktop"), {}, environment);
    }

    QTemporaryDir scratch;
    PrivateSessionBus bus;
    QElapsedTimer clock;
    QList<qint64> showSettingsAtMs;
private Q_SLOTS:
    void hear(const QString& name) { showSettingsAtMs.append(name.endsWith(".show-settings") ? clock.elapsed() : -1); }
};

} // namespace

// One install per test process, and a private ibus-daemon (pointing our XDG folders at its own) for every case.
class InstalledTellwireTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        daemon = new PrivateIBusDaemon;
        install = runTool(CMAKE_COMMAND, {"--install", TELLWIRE_BUILD_DIR, "--prefix", installed()});
        QFile::setPermissions(installed(), QFile::permissions(installed()) | QFile::ExeOther); // for nobody
    }
    static void TearDownTestSuite() { delete daemon; }
    void SetUp() override { ASSERT_EQ(install.exitCode, 0) << install.err.toStdString(); }
    inline static PrivateIBusDaemon* daemon = nullptr;
    inline static ToolRun install;
};

TEST_F(InstalledTellwireTest, InstallLaysOutTheProgramsTheComponentTheDictionaryAndTheMenuEntry)
{
    for (const char* program : {"bin/TellwireRegister", "bin/TellwireDesktop", "bin/tellwire-relay",
                                "bin/tellwire-phone", "bin/tellwire-pinyin", "libexec/Tellwire"})
        EXPECT_TRUE(QFileInfo(installed(program)).isFile() && QFileInfo(installed(program)).isExecutable()) << program;
    QFile component(installed("share/ibus/component/tellwire.xml")); // its engine: the daemon lists it (below)
    const QByteArray exec = "<exec>" + installed("libexec/Tellwire").toUtf8() + " --ibus</exec>";
    EXPECT_TRUE(component.open(QIODevice::ReadOnly) && component.readAll().contains(exec)) << exec.toStdString();
    EXPECT_GT(QFileInfo(installed("share/tellwire/pinyin_simp.dict.yaml")).size(), 0);
    EXPECT_TRUE(QFileInfo::exists(installed("share/icons/hicolor/scalable/apps/tellwire.svg")));
    const QString entry = installed("share/applications/tellwire-desktop.desktop");
    QSettings menu(entry, QSettings::IniFormat);
    EXPECT_EQ(menu.value("Desktop Entry/Exec").toString() + " " + menu.value("Desktop Entry/Icon").toString(),
              "TellwireDesktop tellwire");
    EXPECT_EQ(runTool("desktop-file-validate", {entry}).exitCode, 0);
    QSettings unit(installed("share/systemd/user/tellwire-relay.service"), QSettings::IniFormat);
    EXPECT_TRUE(unit.value("Service/ExecStart").toString().startsWith(installed("bin/tellwire-relay") + " "));
}

// Each failure: one line on standard error and its exit code (an ordinary user, as whom root runs it, gets the sudo
// hint). With no daemon yet the engine is never discovered, but the component stays registered for the next session.
TEST_F(InstalledTellwireTest, RegisteringReportsEachOutcomeRestartsTheDaemonOnlyWhenNeededAndEnablesItOnce)
{
    const QString tool = installed("bin/TellwireRegister"), component = installed("share/ibus/component/tellwire.xml");
    const QString ibus = "org.freedesktop.ibus.general", gnome = "org.gnome.desktop.input-sources";
    daemon->gsettings({"set", ibus, "preload-engines", "['xkb:us::eng']"});
    daemon->gsettings({"set", gnome, "sources", "[('xkb', 'us')]"});
    const QStringList asUser =
        geteuid() == 0 ? QStringList{"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"} : QStringList();
    const QString system = installed("system"); // the administrator's
    QDir().mkdir(system);
    QFile::setPermissions(system, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther);
    QTemporaryDir elsewhere; // neither a component nor a folder the daemon reads
    auto unread = QProcessEnvironment::systemEnvironment(), unwritable = unread, noSchemas = unread, inGnome = unread;
    unread.insert("IBUS_COMPONENT_PATH", elsewhere.path());
    unwritable.insert("IBUS_COMPONENT_PATH", system);
    noSchemas.insert("XDG_DATA_DIRS", elsewhere.path());
    inGnome.insert("XDG_CURRENT_DESKTOP", "ubuntu:GNOME");
    const std::tuple<QStringList, QProcessEnvironment, int, QString> failures[] = {
        {{tool}, unread, 1, msg::kUsage},
        {{tool, "none.xml"}, unread, 1, msg::kComponentMissing + QString("none.xml")},
        {{tool, elsewhere.path()}, unread, EISDIR, msg::kRegisterFailed + QString::number(EISDIR)},
        {asUser + QStringList{tool, component}, unwritable, 77, msg::kNeedsRoot},
        {{tool, component}, unread, 1, msg::kNotDiscovered},
    };
    for (const auto& [command, environment, exitCode, line] : failures) {
        const auto run = runTool(command.first(), command.mid(1), environment);
        EXPECT_EQ(std::tuple(run.exitCode, run.out, run.err), std::tuple(exitCode, QString(), line + "\n"));
    }
    EXPECT_TRUE(QDir(system).isEmpty());
    EXPECT_EQ(QFileInfo(elsewhere.filePath("tellwire.xml")).symLinkTarget(), component) << "not undone";
    EXPECT_EQ(daemon->gsettings({"get", ibus, "preload-engines"}), "['xkb:us::eng']") << "not enabled";

    ASSERT_TRUE(daemon->start()) << daemon->error().toStdString();
    const QString before = daemon->address();
    const auto registered = runTool(tool, {component});
    EXPECT_EQ(std::tuple(registered.exitCode, registered.out, registered.err),
              std::tuple(0, QString(msg::kRegistered) + "\n", QString()));
    EXPECT_NE(daemon->address(), before) << "restarted to read its folder";
    EXPECT_TRUE(daemon->lists(kEngine));
    const QString preload = "['xkb:us::eng', '" + kEngine + "']";
    EXPECT_EQ(daemon->gsettings({"get", ibus, "preload-engines"}), preload);
    EXPECT_EQ(daemon->gsettings({"get", gnome, "sources"}), "[('xkb', 'us')]") << "not a GNOME session";

    const QString address = daemon->address();
    EXPECT_EQ(runTool(tool, {component}, inGnome).exitCode, 0);
    EXPECT_EQ(daemon->address(), address) << "nothing new for the daemon, so no restart";
    EXPECT_EQ(daemon->gsettings({"get", ibus, "preload-engines"}), preload) << "not twice";
    EXPECT_EQ(daemon->gsettings({"get", gnome, "sources"}), "[('xkb', 'us'), ('ibus', '" + kEngine + "')]");
    const auto unsaved = runTool(tool, {component}, noSchemas); // no settings to enable it in
    EXPECT_EQ(std::tuple(unsaved.exitCode, unsaved.err),
              std::tuple(ENOENT, msg::kEnableFailed + QString::number(ENOENT) + "\n"));
    daemon->stop();
}

// Not installed: missing, not a file or not executable; cannot start: the line, then the reason. Tellwire is started
// only when not running, and each run asks for the settings 0.8 s in, when a starting Tellwire listens. The real
// Tellwire, signed out (no Secret Service), shows its settings window; a second one leaves it running.
TEST_F(InstalledTellwireTest, LauncherReportsAMissingTellwireAndStartsAWorkingOneOnlyWhenNotRunningShowingItsWindow)
{
    QProcess xvfb; // -displayfd 1: the server picks a free display and prints its number
    xvfb.start("Xvfb", {"-displayfd", "1", "-nolisten", "tcp"});
    const auto endXvfb = qScopeGuard([&] {
        xvfb.terminate();
        xvfb.waitForFinished();
    });
    Session session; // ends Tellwire before the display goes
    QFile broken(session.scratch.filePath("broken"));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly) && broken.write("#!/none\n"));
    broken.close();
    broken.setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    const QString notInstalled = QString(msg::kNotInstalled) + "：" + msg::kReinstall + "\n";
    const std::pair<QString, QString> cases[] = {
        {session.scratch.filePath("missing"), notInstalled},
        {session.scratch.path(), notInstalled},
        {installed("share/ibus/component/tellwire.xml"), notInstalled},
        {broken.fileName(), QString(msg::kCannotStart) + "："},
    };
    for (const auto& [executable, alert] : cases) {
        const auto run = session.launch(executable);
        EXPECT_EQ(run.exitCode, 1) << executable.toStdString();
        EXPECT_TRUE(run.err == alert || (run.err.startsWith(alert) && run.err.size() > alert.size() + 1))
            << run.err.toStdString();
    }

    session.clock.start();
    for (int i = 1; i <= 2; ++i) {
        const auto run = session.launch(STAND_IN_EXECUTABLE);
        EXPECT_EQ(std::pair(run.exitCode, run.err), std::pair(0, QString()));
        EXPECT_TRUE(waitUntil([&] { return session.showSettingsAtMs.size() == i; }));
    }
    EXPECT_GE(session.showSettingsAtMs.value(0), 800);
    QFile record(session.scratch.filePath("record"));
    EXPECT_TRUE(record.open(QIODevice::ReadOnly) && record.readAll() == "started\n") << "one Tellwire";

    stopOwnerOf(session.bus.connection(), kEngine); // the stand-in, so that the launcher starts the real one
    ASSERT_TRUE(waitUntil([&] { return xvfb.canReadLine(); }, 15s));
    const QString display = ":" + QString::fromUtf8(xvfb.readLine()).trimmed();
    const auto launcher = session.launch(installed("libexec/Tellwire"), display);
    EXPECT_EQ(launcher.exitCode, 0) << launcher.err.toStdString();
    EXPECT_TRUE(waitUntil(
        [&] { return runTool("xwininfo", {"-display", display, "-name", "语音输入设置"}).out.contains("IsViewable"); },
        20s));
    // A second Tellwire, as the daemon starts one, finds the session's name taken and leaves quietly.
    const auto second = runTool(installed("libexec/Tellwire"), {"--ibus"}, session.bus.environment());
    EXPECT_EQ(std::pair(second.exitCode, second.err), std::pair(0, QString()));

    // The session ends: Tellwire goes with its bus instead of living on orphaned.
    const auto pid = session.bus.connection().interface()->servicePid(kEngine);
    ASSERT_TRUE(pid.isValid() && pid.value() > 0);
    session.bus.stop();
    EXPECT_TRUE(waitUntil([&] { return ::kill(pid_t(pid.value()), 0) != 0; }, 10s)) << "still running";
}

#include "InstalledTellwireTest.moc"
