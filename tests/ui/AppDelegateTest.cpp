#include "ui/AppDelegate.h"

#include "input/KeyEvent.h"
#include "input/VoiceInputController.h"
#include "ui/DesktopPanel.h"
#include "ui/DesktopSettings.h"
#include "ui/GlyphIcon.h"
#include "WidgetTestSupport.h"

#include <QAction>
#include <QApplication>
#include <QDBusConnection>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QSystemTrayIcon>
#include <QTest>

namespace tellwire {
namespace {

using testing::RecordingClient;

class NotificationWatcher : public QObject {
    Q_OBJECT
public:
    QStringList names;
public slots:
    void posted(const QString& name) { names.append(name); }
};

class AppDelegateTest : public testing::ModelTest {
protected:
    AppDelegate delegate{*state};

    void SetUp() override { delegate.launch(); }
    void choose(int entry) { delegate.menu()->actions().at(entry)->trigger(); }

    // Sent by another process to this process only: tests running side by
    // side share the session bus and must not hear each other.
    static bool postFromAnotherProcess(const QString& name)
    {
        QProcess send;
        send.start(QStringLiteral("dbus-send"),
                   {"--session", "--type=signal", "--dest=" + QDBusConnection::sessionBus().baseService(),
                    "/cc/orrisfeld/tellwire", "cc.orrisfeld.tellwire.Notifications.Posted", "string:" + name});
        return send.waitForFinished(10000) && send.exitStatus() == QProcess::NormalExit && send.exitCode() == 0;
    }
};

TEST_F(AppDelegateTest, LaunchBuildsTheMenuShowsThePanelAndOpensSettingsWithoutSignIn)
{
    QStringList titles;
    for (const QAction* action : delegate.menu()->actions()) {
        EXPECT_TRUE(action->shortcut().isEmpty());
        titles.append(action->text());
    }
    EXPECT_EQ(titles, (QStringList{"显示语音记录", "设置与连接", "中英文切换 ⇧空格"}));

    // The offscreen desktop has no tray; everything else works without one.
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
    EXPECT_EQ(delegate.trayIcon(), nullptr);
    EXPECT_TRUE(delegate.panel()->isVisible());
    ASSERT_NE(delegate.settings(), nullptr);
    EXPECT_TRUE(QTest::qWaitFor([&] { return delegate.settings()->isVisible(); }, 5000));
    EXPECT_EQ(state->shell(), &delegate);
}

TEST_F(AppDelegateTest, PanelFloatsWithoutFocusShowsOnlyWhenIdleAndIsReused)
{
    DesktopPanel* panel = delegate.panel();
    const Qt::WindowFlags flags = panel->windowFlags();
    EXPECT_EQ(flags & Qt::WindowType_Mask, Qt::Tool);
    EXPECT_TRUE(flags & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(flags & Qt::WindowDoesNotAcceptFocus);
    EXPECT_TRUE(panel->testAttribute(Qt::WA_ShowWithoutActivating));
    EXPECT_EQ(panel->windowTitle(), QStringLiteral("语音记录"));
    EXPECT_EQ(panel->size(), QSize(530, 300));
    EXPECT_EQ(panel->minimumSize(), panel->maximumSize());

    RecordingClient client;
    VoiceInputController controller(*state, &delegate);
    controller.setClient(&client);
    controller.activateServer();
    EXPECT_FALSE(panel->isVisible());
    delegate.showPanelIfIdle();
    EXPECT_FALSE(panel->isVisible());
    choose(0); // 显示语音记录 shows it regardless
    EXPECT_TRUE(panel->isVisible());

    EXPECT_TRUE(panel->close());
    controller.deactivateServer();
    EXPECT_EQ(delegate.panel(), panel);
    EXPECT_TRUE(panel->isVisible());

    panel->showMinimized();
    choose(0);
    EXPECT_FALSE(panel->isMinimized());
}

// Through the menu or through the signal from another process (where only
// "show-settings" opens it): always the same window, with what was typed.
TEST_F(AppDelegateTest, SettingsWindowIsMadeOnceAndComesBackWithWhatWasTyped)
{
    choose(1);
    DesktopSettings* settings = delegate.settings();
    EXPECT_EQ(settings->windowTitle(), QStringLiteral("语音输入设置"));
    EXPECT_EQ(settings->size(), QSize(500, 590));
    EXPECT_EQ(settings->minimumSize(), settings->maximumSize());
    EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == settings; }, 5000));
    QTest::keyClicks(settings->phoneField(), QStringLiteral("13800138000"));
    QTest::keyClicks(settings->codeField(), QStringLiteral("1234"));
    EXPECT_TRUE(settings->close());
    choose(1);
    EXPECT_TRUE(settings->isVisible());
    settings->showMinimized();
    choose(1);
    EXPECT_FALSE(settings->isMinimized());

    ASSERT_TRUE(QDBusConnection::sessionBus().isConnected()) << "run inside tools/with-test-session";
    settings->close();
    // A second listener on the same connection is handed the same messages.
    NotificationWatcher watcher;
    ASSERT_TRUE(QDBusConnection::sessionBus().connect(QString(), AppDelegate::kBusPath, AppDelegate::kBusInterface,
                                                      AppDelegate::kBusMember, &watcher, SLOT(posted(QString))));
    ASSERT_TRUE(postFromAnotherProcess(QStringLiteral("cc.orrisfeld.tellwire.other")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !watcher.names.isEmpty(); }, 10000));
    EXPECT_FALSE(settings->isVisible());
    ASSERT_TRUE(postFromAnotherProcess(QStringLiteral("cc.orrisfeld.tellwire.show-settings")));
    ASSERT_TRUE(postFromAnotherProcess(QStringLiteral("cc.orrisfeld.tellwire.show-settings")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return watcher.names.size() == 3; }, 10000));
    EXPECT_TRUE(settings->isVisible());

    EXPECT_EQ(delegate.settings(), settings);
    int windows = 0;
    for (const QWidget* window : QApplication::topLevelWidgets())
        windows += window->windowTitle() == QStringLiteral("语音输入设置");
    EXPECT_EQ(windows, 1);
    EXPECT_EQ(settings->phoneField()->text(), QStringLiteral("13800138000"));
    EXPECT_EQ(settings->codeField()->text(), QStringLiteral("1234"));
}

TEST_F(AppDelegateTest, LanguageToggleCommitsTheCompositionFirst)
{
    choose(2); // no focused session
    EXPECT_FALSE(state->chinese());
    choose(2);

    RecordingClient client;
    VoiceInputController controller(*state, &delegate);
    controller.setClient(&client);
    controller.activateServer();
    for (QChar letter : QStringLiteral("ni")) {
        KeyEvent key;
        key.characters = QString(letter);
        controller.handle(&key);
    }
    ASSERT_EQ(controller.pinyin(), QStringLiteral("ni"));
    const QString expected = controller.candidates().value(0, QStringLiteral("ni"));

    choose(2);
    EXPECT_TRUE(controller.pinyin().isEmpty());
    EXPECT_EQ(client.committed, expected);
    EXPECT_FALSE(state->chinese());
}

TEST(GlyphIconTest, DrawsTheGlyphInWhiteOnTheAccentWithRoundedCorners)
{
    const QColor accent(0x0c, 0x94, 0x88);
    const QImage image = glyphIcon(QStringLiteral("语"), accent).pixmap(64, 64).toImage();
    int white = 0, tinted = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            white += image.pixelColor(x, y) == QColor(Qt::white);
            tinted += image.pixelColor(x, y) == accent;
        }
    }
    EXPECT_GT(white, 100);
    EXPECT_GT(tinted, 1000);
    EXPECT_EQ(image.pixelColor(0, 0).alpha(), 0);
}

} // namespace
} // namespace tellwire

#include "AppDelegateTest.moc"
