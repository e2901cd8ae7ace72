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
    std::unique_ptr<AppDelegate> delegate;

    void SetUp() override
    {
        ModelTest::SetUp();
        delegate = std::make_unique<AppDelegate>(*state);
    }

    static int settingsWindows()
    {
        int count = 0;
        for (const QWidget* window : QApplication::topLevelWidgets()) {
            if (window->windowTitle() == QStringLiteral("语音输入设置"))
                ++count;
        }
        return count;
    }

    static bool postFromAnotherProcess(const QString& name)
    {
        QProcess send;
        send.start(QStringLiteral("dbus-send"),
                   {QStringLiteral("--session"), QStringLiteral("--type=signal"),
                    QStringLiteral("/cc/orrisfeld/tellwire"),
                    QStringLiteral("cc.orrisfeld.tellwire.Notifications.Posted"),
                    QStringLiteral("string:") + name});
        return send.waitForFinished(10000) && send.exitStatus() == QProcess::NormalExit
            && send.exitCode() == 0;
    }
};

TEST_F(AppDelegateTest, MenuHasExactlyTheThreeEntries)
{
    delegate->launch();
    const QList<QAction*> actions = delegate->menu()->actions();
    QStringList titles;
    for (const QAction* action : actions) {
        EXPECT_FALSE(action->isSeparator());
        EXPECT_TRUE(action->shortcut().isEmpty());
        titles.append(action->text());
    }
    EXPECT_EQ(titles, (QStringList{"显示语音记录", "设置与连接", "中英文切换 ⇧空格"}));
}

TEST_F(AppDelegateTest, LaunchWithoutSignInShowsThePanelAndOpensSettings)
{
    // The offscreen desktop has no tray; everything else works without one.
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
    EXPECT_EQ(delegate->panel(), nullptr);
    delegate->launch();
    EXPECT_EQ(delegate->trayIcon(), nullptr);
    ASSERT_NE(delegate->panel(), nullptr);
    EXPECT_TRUE(delegate->panel()->isVisible());
    ASSERT_NE(delegate->settings(), nullptr);
    EXPECT_TRUE(QTest::qWaitFor([&] { return delegate->settings()->isVisible(); }, 5000));
    EXPECT_EQ(state->shell(), delegate.get());
}

TEST_F(AppDelegateTest, PanelFloatsWithoutTakingFocusAndIsReusedAfterClosing)
{
    delegate->launch();
    DesktopPanel* panel = delegate->panel();
    const Qt::WindowFlags flags = panel->windowFlags();
    EXPECT_EQ(flags & Qt::WindowType_Mask, Qt::Tool);
    EXPECT_TRUE(flags & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(flags & Qt::WindowDoesNotAcceptFocus);
    EXPECT_TRUE(panel->testAttribute(Qt::WA_ShowWithoutActivating));
    EXPECT_EQ(panel->windowTitle(), QStringLiteral("语音记录"));
    EXPECT_EQ(panel->size(), QSize(530, 300));
    EXPECT_EQ(panel->minimumSize(), panel->maximumSize());

    EXPECT_TRUE(panel->close());
    EXPECT_FALSE(panel->isVisible());
    delegate->menu()->actions().at(0)->trigger();
    EXPECT_EQ(delegate->panel(), panel);
    EXPECT_TRUE(panel->isVisible());
}

TEST_F(AppDelegateTest, PanelHidesWhileASessionHasFocusUnlessAskedFor)
{
    delegate->launch();
    RecordingClient client;
    VoiceInputController controller(*state, delegate.get());
    controller.setClient(&client);
    controller.activateServer();
    EXPECT_FALSE(delegate->panel()->isVisible());
    delegate->showPanelIfIdle();
    EXPECT_FALSE(delegate->panel()->isVisible());
    delegate->menu()->actions().at(0)->trigger(); // 显示语音记录 does not ask
    EXPECT_TRUE(delegate->panel()->isVisible());

    delegate->hidePanel();
    controller.deactivateServer();
    EXPECT_TRUE(delegate->panel()->isVisible());
}

TEST_F(AppDelegateTest, SettingsWindowIsMadeOnceAndKeepsWhatWasTyped)
{
    delegate->launch();
    delegate->menu()->actions().at(1)->trigger();
    DesktopSettings* settings = delegate->settings();
    ASSERT_NE(settings, nullptr);
    EXPECT_EQ(settings->windowTitle(), QStringLiteral("语音输入设置"));
    EXPECT_EQ(settings->size(), QSize(500, 590));
    EXPECT_EQ(settings->minimumSize(), settings->maximumSize());
    EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == settings; }, 5000));

    QTest::keyClicks(settings->phoneField(), QStringLiteral("13800138000"));
    QTest::keyClicks(settings->codeField(), QStringLiteral("1234"));
    EXPECT_TRUE(settings->close());
    EXPECT_FALSE(settings->isVisible());

    delegate->menu()->actions().at(1)->trigger();
    EXPECT_EQ(delegate->settings(), settings);
    EXPECT_TRUE(settings->isVisible());
    EXPECT_EQ(settings->phoneField()->text(), QStringLiteral("13800138000"));
    EXPECT_EQ(settings->codeField()->text(), QStringLiteral("1234"));
    delegate->showSettings();
    EXPECT_EQ(settingsWindows(), 1);
}

TEST_F(AppDelegateTest, ShowSettingsSignalFromAnotherProcessBringsUpOneWindow)
{
    ASSERT_TRUE(QDBusConnection::sessionBus().isConnected()) << "run inside tools/with-test-session";
    delegate->launch();
    delegate->settings()->close(); // opened by the sign-in check
    ASSERT_FALSE(delegate->settings()->isVisible());
    DesktopSettings* settings = delegate->settings();
    settings->phoneField()->setText(QStringLiteral("13900139000"));

    // Signals from one sender arrive in order: once the second has been
    // handled, the first (another notification) has been too.
    ASSERT_TRUE(postFromAnotherProcess(QStringLiteral("cc.orrisfeld.tellwire.something-else")));
    ASSERT_TRUE(postFromAnotherProcess(QStringLiteral("cc.orrisfeld.tellwire.show-settings")));
    EXPECT_TRUE(QTest::qWaitFor([&] { return settings->isVisible(); }, 10000));
    EXPECT_EQ(delegate->settings(), settings);
    EXPECT_EQ(settingsWindows(), 1);

    settings->close();
    ASSERT_TRUE(postFromAnotherProcess(QStringLiteral("cc.orrisfeld.tellwire.show-settings")));
    ASSERT_TRUE(postFromAnotherProcess(QStringLiteral("cc.orrisfeld.tellwire.show-settings")));
    EXPECT_TRUE(QTest::qWaitFor([&] { return settings->isVisible(); }, 10000));
    EXPECT_EQ(settingsWindows(), 1);
    EXPECT_EQ(settings->phoneField()->text(), QStringLiteral("13900139000"));
}

TEST_F(AppDelegateTest, OtherNotificationsOpenNothing)
{
    ASSERT_TRUE(QDBusConnection::sessionBus().isConnected());
    delegate->launch();
    delegate->settings()->close(); // opened by the sign-in check
    // A second listener on the same connection is handed the same message.
    NotificationWatcher watcher;
    ASSERT_TRUE(QDBusConnection::sessionBus().connect(
        QString(), AppDelegate::kBusPath, AppDelegate::kBusInterface, AppDelegate::kBusMember,
        &watcher, SLOT(posted(QString))));
    ASSERT_TRUE(postFromAnotherProcess(QStringLiteral("cc.orrisfeld.tellwire.other")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !watcher.names.isEmpty(); }, 10000));
    EXPECT_EQ(watcher.names, QStringList{"cc.orrisfeld.tellwire.other"});
    EXPECT_FALSE(delegate->settings()->isVisible());
    QDBusConnection::sessionBus().disconnect(QString(), AppDelegate::kBusPath,
                                             AppDelegate::kBusInterface, AppDelegate::kBusMember,
                                             &watcher, SLOT(posted(QString)));
}

TEST_F(AppDelegateTest, LanguageToggleCommitsTheCompositionFirst)
{
    delegate->launch();
    delegate->menu()->actions().at(2)->trigger();
    EXPECT_FALSE(state->chinese());
    delegate->toggleLanguage();
    EXPECT_TRUE(state->chinese());

    RecordingClient client;
    VoiceInputController controller(*state, delegate.get());
    controller.setClient(&client);
    controller.activateServer();
    for (const char* letter : {"n", "i"}) {
        KeyEvent key;
        key.characters = QString::fromLatin1(letter);
        controller.handle(&key);
    }
    ASSERT_EQ(controller.pinyin(), QStringLiteral("ni"));
    const QString expected = controller.candidates().value(0, QStringLiteral("ni"));

    delegate->menu()->actions().at(2)->trigger();
    EXPECT_TRUE(controller.pinyin().isEmpty());
    EXPECT_EQ(client.committed, expected);
    EXPECT_FALSE(state->chinese());
}

TEST(GlyphIconTest, DrawsTheGlyphOnTheAccent)
{
    const QIcon icon = glyphIcon(QStringLiteral("语"), QColor(0x0c, 0x94, 0x88));
    const QImage image = icon.pixmap(64, 64).toImage();
    ASSERT_EQ(image.size(), QSize(64, 64));
    int white = 0, accent = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (pixel == QColor(Qt::white))
                ++white;
            else if (pixel == QColor(0x0c, 0x94, 0x88))
                ++accent;
        }
    }
    EXPECT_GT(white, 100);
    EXPECT_GT(accent, 1000);
    EXPECT_EQ(image.pixelColor(0, 0).alpha(), 0); // rounded corners
}

} // namespace
} // namespace tellwire

#include "AppDelegateTest.moc"
