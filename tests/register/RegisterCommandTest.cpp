// TellwireRegister against a real ibus-daemon in the test's private session.

#include "register/ToolRun.h"
#include "support/PrivateIBusDaemon.h"

#include <QDir>
#include <QFileInfo>

#include <gmock/gmock.h>

#include <unistd.h>

using tellwire::testing::PrivateIBusDaemon;
using tellwire::testing::runTool;
using tellwire::testing::ToolRun;

namespace {

const QString kEngine = QStringLiteral("cc.orrisfeld.tellwire.inputmethod");
const QString kSuccess = QStringLiteral("已注册并启用语音输入。\n");

// `wrapper` runs the tool under another program (to change user).
ToolRun runRegister(const QString& component, const QProcessEnvironment& environment = {},
                    const QStringList& wrapper = {})
{
    const QStringList command = wrapper + QStringList{TELLWIRE_REGISTER_EXECUTABLE, component};
    return runTool(command.first(), command.mid(1), environment);
}

class RegisterCommandTest : public ::testing::Test {
protected:
    PrivateIBusDaemon daemon;
    // Where an installation keeps its component, outside the daemon's folder.
    QString installed = daemon.scratch("prefix/share/ibus/component/tellwire.xml");

    void SetUp() override
    {
        QDir().mkpath(QFileInfo(installed).path());
        PrivateIBusDaemon::writeComponent(installed);
    }

    QString linked() const { return QDir(daemon.componentFolder()).filePath("tellwire.xml"); }
    QString preloadEngines() const
    {
        return daemon.gsettings({"get", "org.freedesktop.ibus.general", "preload-engines"});
    }
};

TEST_F(RegisterCommandTest, RegistersRestartsOnlyWhenNeededAndAddsToTheSourcesThere)
{
    daemon.gsettings({"set", "org.freedesktop.ibus.general", "preload-engines", "['xkb:us::eng']"});
    daemon.gsettings({"set", "org.gnome.desktop.input-sources", "sources", "[('xkb', 'us'), ('xkb', 'de')]"});
    auto gnomeSources = [&] { return daemon.gsettings({"get", "org.gnome.desktop.input-sources", "sources"}); };
    ASSERT_TRUE(daemon.start());
    ASSERT_FALSE(daemon.lists(kEngine));
    const QString before = daemon.address();

    const ToolRun run = runRegister(installed);
    EXPECT_EQ(run.out, kSuccess);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(QFileInfo(linked()).symLinkTarget(), installed);
    EXPECT_NE(daemon.address(), before) << "the daemon was restarted to read the folder";
    EXPECT_TRUE(daemon.lists(kEngine));
    EXPECT_EQ(preloadEngines(), "['xkb:us::eng', 'cc.orrisfeld.tellwire.inputmethod']");
    EXPECT_EQ(gnomeSources(), "[('xkb', 'us'), ('xkb', 'de')]") << "not a GNOME session";

    auto gnome = QProcessEnvironment::systemEnvironment();
    gnome.insert("XDG_CURRENT_DESKTOP", "ubuntu:GNOME");
    const QString address = daemon.address();
    EXPECT_EQ(runRegister(installed, gnome).out, kSuccess);
    EXPECT_EQ(daemon.address(), address) << "nothing new for the daemon, so no restart";
    EXPECT_EQ(preloadEngines(), "['xkb:us::eng', 'cc.orrisfeld.tellwire.inputmethod']");
    EXPECT_EQ(gnomeSources(), "[('xkb', 'us'), ('xkb', 'de'), ('ibus', 'cc.orrisfeld.tellwire.inputmethod')]");
}

TEST_F(RegisterCommandTest, ComponentInstalledInTheDaemonsFolderNeedsNoLinkNorRestart)
{
    PrivateIBusDaemon::writeComponent(linked());
    ASSERT_TRUE(daemon.start());
    const QString address = daemon.address();

    EXPECT_EQ(runRegister(linked()).out, kSuccess);
    EXPECT_FALSE(QFileInfo(linked()).isSymLink());
    EXPECT_EQ(QDir(daemon.componentFolder()).entryList(QDir::Files), QStringList{"tellwire.xml"});
    EXPECT_EQ(daemon.address(), address);
}

// The link is kept for the next session; nothing is enabled.
TEST_F(RegisterCommandTest, WithoutARunningDaemonTheSearchGivesUp)
{
    const ToolRun run = runRegister(installed);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "输入源已注册，但 macOS 尚未发现它。请退出登录后重试。\n");
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(QFileInfo(linked()).symLinkTarget(), installed);
    EXPECT_EQ(preloadEngines(), "@as []");
}

TEST_F(RegisterCommandTest, UnreadableComponentOrUnwritableSystemFolderFailsWithItsCode)
{
    QFile notes(daemon.scratch("notes.txt"));
    ASSERT_TRUE(notes.open(QIODevice::WriteOnly));
    notes.write("not xml");
    notes.close();
    const ToolRun refused = runRegister(notes.fileName());
    EXPECT_EQ(refused.exitCode, 22);
    EXPECT_EQ(refused.err, "输入源注册失败：22\n");
    EXPECT_TRUE(QDir(daemon.componentFolder()).isEmpty());

    // A component and a root-owned folder that an ordinary user can read but not write.
    QTemporaryDir shared;
    const auto readable = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
        | QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::ExeOther;
    ASSERT_TRUE(QFile::setPermissions(shared.path(), readable));
    QDir(shared.path()).mkdir("system");
    const QString component = shared.filePath("tellwire.xml");
    PrivateIBusDaemon::writeComponent(component);
    QFile::setPermissions(component, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert("IBUS_COMPONENT_PATH", shared.filePath("system"));
    QStringList asUser;
    if (geteuid() == 0)
        asUser = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    else
        QFile::setPermissions(shared.filePath("system"), QFileDevice::ReadOwner | QFileDevice::ExeOwner);

    const ToolRun run = runRegister(component, environment, asUser);
    EXPECT_EQ(run.exitCode, 77);
    EXPECT_EQ(run.err, "输入源注册需要 root 权限：请先用 sudo 运行一次，再以当前用户重新运行。\n");
    EXPECT_TRUE(QDir(shared.filePath("system")).isEmpty());
}

} // namespace
