// TellwireDesktop on a session bus of the test's own, with a stand-in for Tellwire.

#include "PrivateSessionBus.h"

#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gmock/gmock.h>

using tellwire::testing::PrivateSessionBus;
using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::StartsWith;

namespace {

const QString kName = QStringLiteral("cc.orrisfeld.tellwire.inputmethod");
const QString kShowSettings = QStringLiteral("cc.orrisfeld.tellwire.show-settings");

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

struct LauncherRun {
    int exitCode = -1;
    QString err;
};

class LauncherCommandTest : public ::testing::Test {
protected:
    QTemporaryDir scratch;
    PrivateSessionBus bus;
    QString record = scratch.filePath("record");

    void SetUp() override { ASSERT_TRUE(bus.isUp()); }
    void TearDown() override { bus.stopOwnerOf(kName); }

    QProcessEnvironment environment(const QString& executable) const
    {
        auto environment = bus.environment();
        environment.insert("TELLWIRE_EXECUTABLE", executable);
        environment.insert("STAND_IN_RECORD", record);
        return environment;
    }

    LauncherRun runLauncher(const QString& executable)
    {
        QProcess launcher;
        launcher.setProcessEnvironment(environment(executable));
        launcher.start(TELLWIRE_DESKTOP_EXECUTABLE, QStringList{});
        EXPECT_TRUE(launcher.waitForFinished(15000));
        return {launcher.exitCode(), QString::fromUtf8(launcher.readAllStandardError())};
    }

    // What the stand-in wrote, a line each.
    std::vector<std::string> recorded() const
    {
        QFile file(record);
        std::vector<std::string> lines;
        if (file.open(QIODevice::ReadOnly))
            for (const QString& line : QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts))
                lines.push_back(line.toStdString());
        return lines;
    }

    bool nameOwned() const { return bus.connection().interface()->isServiceRegistered(kName).value(); }

    // Everything the launcher sent has reached us once our own round trip returns.
    void settle() const { bus.connection().interface()->isServiceRegistered(kName); }
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
    Notifications heard(bus.connection());
    for (const auto& [executable, alert] : cases) {
        const LauncherRun run = runLauncher(executable);
        EXPECT_EQ(run.exitCode, 1) << executable.toStdString();
        if (alert.endsWith(u'\n')) {
            EXPECT_EQ(run.err, alert);
        } else {
            EXPECT_TRUE(run.err.startsWith(alert) && run.err.trimmed().size() > alert.size())
                << "with the reason: " << run.err.toStdString();
        }
    }
    settle();
    QCoreApplication::processEvents();
    EXPECT_THAT(heard.names, IsEmpty());
    EXPECT_FALSE(nameOwned());
}

// The first run starts the stand-in, the second finds it running; each asks
// for the settings 0.8 s after its start.
TEST_F(LauncherCommandTest, StartsTellwireOnlyWhenNotRunningAndAsksForSettings)
{
    Notifications heard(bus.connection());
    for (int i = 1; i <= 2; ++i) {
        const LauncherRun run = runLauncher(STAND_IN_EXECUTABLE);
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.err, "");
        EXPECT_TRUE(QTest::qWaitFor([&] { return heard.names.size() == i; }, 5000));
        EXPECT_TRUE(QTest::qWaitFor([&] { return nameOwned(); }, 5000)) << "the started Tellwire keeps running";
    }
    EXPECT_THAT(heard.names, ElementsAre(kShowSettings, kShowSettings));
    EXPECT_GE(heard.firstAtMs, 800);

    // One stand-in, which heard the second request (maybe the first too).
    EXPECT_TRUE(QTest::qWaitFor([&] { return recorded().size() >= 2; }, 5000));
    const std::vector<std::string> lines = recorded();
    EXPECT_THAT(lines.front(), StartsWith("started "));
    EXPECT_THAT(std::vector<std::string>(lines.begin() + 1, lines.end()),
                Each(std::string("posted cc.orrisfeld.tellwire.show-settings")));
}

} // namespace

#include "LauncherCommandTest.moc"
