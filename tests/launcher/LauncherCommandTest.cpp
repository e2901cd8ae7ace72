// TellwireDesktop on a session bus of the test's own, with a stand-in for Tellwire.

#include "register/ToolRun.h"
#include "PrivateSessionBus.h"

#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <gmock/gmock.h>

using tellwire::testing::PrivateSessionBus;
using tellwire::testing::runTool;
using tellwire::testing::ToolRun;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

const QString kName = QStringLiteral("cc.orrisfeld.tellwire.inputmethod");

// Hears every Posted signal on the bus, as Tellwire would.
class Notifications : public QObject {
    Q_OBJECT
public:
    QStringList names;
    QElapsedTimer clock;
    qint64 firstAtMs = -1;

    explicit Notifications(QDBusConnection bus)
    {
        bus.connect(QString(), "/cc/orrisfeld/tellwire", "cc.orrisfeld.tellwire.Notifications", "Posted", this,
                    SLOT(posted(QString)));
        clock.start();
    }
public slots:
    void posted(const QString& name)
    {
        if (firstAtMs < 0)
            firstAtMs = clock.elapsed();
        names.append(name);
    }
};

class LauncherCommandTest : public ::testing::Test {
protected:
    QTemporaryDir scratch;
    PrivateSessionBus bus;
    Notifications heard{bus.connection()};

    void SetUp() override { ASSERT_TRUE(bus.isUp()); }
    void TearDown() override { bus.stopOwnerOf(kName); }

    ToolRun runLauncher(const QString& executable)
    {
        auto environment = bus.environment();
        environment.insert("TELLWIRE_EXECUTABLE", executable);
        environment.insert("STAND_IN_RECORD", scratch.filePath("record"));
        return runTool(TELLWIRE_DESKTOP_EXECUTABLE, {}, environment);
    }

    bool nameOwned() const { return bus.connection().interface()->isServiceRegistered(kName).value(); }
};

// Each failure: its alert, exit code 1, nothing started and nothing posted.
TEST_F(LauncherCommandTest, TellwireMissingOrUnableToStartIsReportedAndNothingIsPosted)
{
    auto program = [&](const QString& name, const QByteArray& text, QFileDevice::Permissions extra) {
        QFile file(scratch.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
        file.close();
        file.setPermissions(file.permissions() | extra);
        return file.fileName();
    };
    const QString notInstalled = QStringLiteral("语音输入组件未安装：请重新运行 Tellwire 安装包。\n");
    const std::pair<QString, QString> cases[] = {
        {scratch.filePath("missing"), notInstalled},
        {program("plain", "#!/bin/sh\n", {}), notInstalled}, // present but not executable
        {scratch.path(), notInstalled},
        {program("broken", "#!/nonexistent/interpreter\n", QFileDevice::ExeOwner), "无法启动语音输入："},
    };
    for (const auto& [executable, alert] : cases) {
        const ToolRun run = runLauncher(executable);
        EXPECT_EQ(run.exitCode, 1) << executable.toStdString();
        if (alert.endsWith(u'\n')) {
            EXPECT_EQ(run.err, alert);
        } else {
            EXPECT_TRUE(run.err.startsWith(alert) && run.err.trimmed().size() > alert.size())
                << "with the reason: " << run.err.toStdString();
        }
    }
    // Whatever the launchers sent has reached us once our own round trip returns.
    EXPECT_FALSE(nameOwned());
    QCoreApplication::processEvents();
    EXPECT_THAT(heard.names, IsEmpty());
}

// The first run starts the stand-in, the second finds it running; each asks
// for the settings 0.8 s after its start.
TEST_F(LauncherCommandTest, StartsTellwireOnlyWhenNotRunningAndAsksForSettings)
{
    for (int i = 1; i <= 2; ++i) {
        const ToolRun run = runLauncher(STAND_IN_EXECUTABLE);
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.err, "");
        EXPECT_TRUE(QTest::qWaitFor([&] { return heard.names.size() == i; }, 5000));
        EXPECT_TRUE(QTest::qWaitFor([&] { return nameOwned(); }, 5000)) << "the started Tellwire keeps running";
    }
    EXPECT_THAT(heard.names, ElementsAre("cc.orrisfeld.tellwire.show-settings", "cc.orrisfeld.tellwire.show-settings"));
    EXPECT_GE(heard.firstAtMs, 800);
    QFile record(scratch.filePath("record"));
    ASSERT_TRUE(record.open(QIODevice::ReadOnly));
    EXPECT_EQ(record.readAll(), "started\n") << "one Tellwire";
}

} // namespace

#include "LauncherCommandTest.moc"
