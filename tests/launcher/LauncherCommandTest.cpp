// TellwireDesktop on a session bus of the test's own, with a stand-in for
// Tellwire; offscreen, as here, its alert is one line on standard error.
#include "support/Messages.h"
#include "support/PrivateSessionBus.h"
#include "support/ToolRun.h"
#include "support/Wait.h"

#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace msg = tellwire::testing::msg;

namespace {

// The launcher's session bus, and when each Posted signal was heard on it (as Tellwire would).
class Session : public QObject {
    Q_OBJECT
public:
    Session()
    {
        bus.connection().connect({}, "/cc/orrisfeld/tellwire", "cc.orrisfeld.tellwire.Notifications", "Posted", this,
                                 SLOT(hear(QString)));
        clock.start();
    }
    ~Session() override { bus.stopOwnerOf(kName); }
    tellwire::testing::ToolRun launch(const QString& executable)
    {
        auto environment = bus.environment();
        environment.insert("TELLWIRE_EXECUTABLE", executable);
        environment.insert("STAND_IN_RECORD", scratch.filePath("record"));
        return tellwire::testing::runTool(TELLWIRE_DESKTOP_EXECUTABLE, {}, environment);
    }
    bool running() const { return bus.connection().interface()->isServiceRegistered(kName); }

    const QString kName = "cc.orrisfeld.tellwire.inputmethod";
    QTemporaryDir scratch;
    tellwire::testing::PrivateSessionBus bus;
    QElapsedTimer clock;
    QList<qint64> showSettingsAtMs;
private Q_SLOTS:
    void hear(const QString& name) { showSettingsAtMs.append(name.endsWith(".show-settings") ? clock.elapsed() : -1); }
};

} // namespace

TEST(LauncherCommandTest, TellwireMissingOrUnableToStartIsReported)
{
    Session session;
    const auto script = [&](const QString& name, QFileDevice::Permissions permissions) {
        QFile file(session.scratch.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write("#!/none\n") && file.setPermissions(permissions));
        return file.fileName();
    };
    const QString notInstalled = QString(msg::kNotInstalled) + "：" + msg::kReinstall + "\n";
    const std::pair<QString, QString> cases[] = {
        {session.scratch.filePath("missing"), notInstalled},
        {script("plain", QFileDevice::ReadOwner), notInstalled},
        {session.scratch.path(), notInstalled},
        {script("broken", QFileDevice::ReadOwner | QFileDevice::ExeOwner), QString(msg::kCannotStart) + "："},
    };
    for (const auto& [executable, alert] : cases) {
        const auto run = session.launch(executable);
        EXPECT_EQ(run.exitCode, 1) << executable.toStdString();
        EXPECT_TRUE(run.err == alert || (run.err.startsWith(alert) && run.err.size() > alert.size() + 1))
            << run.err.toStdString() << " (with the reason when it cannot start)";
    }
}

// The first run starts the stand-in, the second finds it running; each asks
// for the settings once, 0.8 s after it starts, when Tellwire listens.
TEST(LauncherCommandTest, StartsTellwireOnlyWhenNotRunningAndAsksForSettings)
{
    Session session;
    for (int i = 1; i <= 2; ++i) {
        const auto run = session.launch(STAND_IN_EXECUTABLE);
        EXPECT_EQ(std::pair(run.exitCode, run.err), std::pair(0, QString()));
        EXPECT_TRUE(tellwire::testing::waitUntil([&] { return session.showSettingsAtMs.size() == i; }));
        EXPECT_TRUE(session.running());
    }
    EXPECT_GE(std::min(session.showSettingsAtMs.value(0), session.showSettingsAtMs.value(1)), 800);
    QFile record(session.scratch.filePath("record"));
    EXPECT_TRUE(record.open(QIODevice::ReadOnly) && record.readAll() == "started\n") << "one Tellwire";
}

#include "LauncherCommandTest.moc"
