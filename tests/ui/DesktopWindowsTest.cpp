// The panel and the settings window as users see them: Tellwire launched with
// nobody signed in, on in-memory services, drawn offscreen in a private session bus.

#include "input/VoiceInputController.h"
#include "model/Defaults.h"
#include "model/DesktopState.h"
#include "model/SecretStore.h"
#include "relayclient/RelayClient.h"
#include "support/Fakes.h"
#include "support/Messages.h"
#include "support/TestServer.h"
#include "support/Wait.h"
#include "ui/AppDelegate.h"
#include "ui/AppearanceSettings.h"
#include "ui/DesktopPanel.h"
#include "ui/DesktopSettings.h"
#include "ui/GlyphIcon.h"
#include "ui/QtClipboard.h"
#include "ui/Swatch.h"

#include <gtest/gtest.h>

#include <QtDBus>
#include <QtTest>
#include <QtWidgets>

namespace tellwire {
namespace {

namespace msg = testing::msg;

// The texts of a window's visible labels and buttons, in reading order.
QStringList texts(const QWidget* window)
{
    QMultiMap<std::pair<int, int>, QString> shown; // by middle height, then left
    for (const QWidget* item : window->findChildren<QWidget*>()) {
        const bool readable = item->inherits("QLabel") || item->inherits("QAbstractButton");
        const QString text = item->property("text").toString();
        const QPoint middle = item->mapTo(window, QPoint(0, item->height() / 2));
        if (readable && !text.isEmpty() && item->isVisibleTo(window))
            shown.insert({middle.y(), middle.x()}, text);
    }
    return shown.values();
}

class DesktopWindowsTest : public ::testing::Test {
protected:
    testing::TestServer server; // outlives the client
    MemorySecretStore secrets;
    MemoryDefaults defaults;
    QtClipboard clipboard;
    DesktopState state{secrets, defaults, &clipboard};
    RelayClient relay{state};
    AppDelegate app{state, relay};
    DesktopPanel* panel = (app.launch(), app.panel()); // launched before anything looks
    DesktopSettings* settings = app.settings(); // without a sign-in, launching opens it
    AppearanceSettings* appearance = settings->appearanceSettings();

    void choose(int entry) { app.menu()->actions().at(entry)->trigger(); }
};

// What users read, in reading order, and the screenshots people look at. Keys stay with the
// application being typed into: never the panel's, nor our own input method's in our own fields.
TEST_F(DesktopWindowsTest, WindowsShowTheirTextsInReadingOrderInTheSchemeChosenWithoutTakingTheKeyboard)
{
    QStringList menu;
    for (const QAction* action : app.menu()->actions())
        menu.append(action->text());
    EXPECT_EQ(menu, (QStringList{"显示语音记录", "设置与连接", "中英文切换 ⇧空格"}));
    EXPECT_TRUE(panel->windowFlags() & Qt::WindowDoesNotAcceptFocus);
    EXPECT_FALSE(testing::waitUntil([&] { return panel->isVisible(); }, 3 * AppDelegate::kIdlePanelDelay))
        << "never over the settings window of a first launch";
    choose(0);
    for (QLineEdit* field : {settings->phoneField(), settings->codeField(), appearance->accentField()})
        EXPECT_FALSE(field->testAttribute(Qt::WA_InputMethodEnabled));
    EXPECT_EQ(texts(panel), (QStringList{msg::kNotConnected, "中", "点击输入框后，文字将在光标处输入", "复制文字", "暂停接收"}));
    state.setStatus(msg::kReceiving);
    const QStringList lines = {"明天上午十点在三楼会议室开项目周会。", "请把上周的测试报告和发布计划一起发给我。",
                               "好的，收到，我会在下班前整理完。"};
    for (const QString& line : lines)
        state.addToHistory(Transcript{line, line, true, 0, 0, {}, {}}); // a final, its text as its id
    EXPECT_EQ(panel->transcript()->toPlainText(), lines.join('\n')) << "oldest first";
    settings->phoneField()->setText(QStringLiteral("13800138000"));
    state.setError(msg::kWrongCode); // refusals show last, in red
    state.setBase(QStringLiteral("https://relay.example.cn:8443/"));
    EXPECT_EQ(texts(settings),
              (QStringList{"手机号注册 / 登录", "中国大陆手机号", "6 位验证码", "获取验证码", "登录并绑定此电脑",
                           "首次验证会自动注册；以后登录同一手机号可恢复这台电脑的连接。", "连接手机", "线上服务",
                           "relay.example.cn:8443", "手机和电脑使用同一手机号登录后自动连接，无需配对码。",
                           msg::kReceiving, "主题皮肤", "显示模式", "自定义颜色 #RRGGBB", "恢复默认", "输入法",
                           "在系统设置 → 键盘 → 输入法中添加「语音输入」。Shift + 空格切换中英文。",
                           "打开键盘与输入法设置", "清空本机转写记录", msg::kWrongCode}));
    const QColor ink = settings->errorLabel()->palette().color(QPalette::WindowText);
    EXPECT_TRUE(ink.red() > 180 && ink.green() < 100 && ink.blue() < 100) << "red";
    const QString folder = QStringLiteral(TELLWIRE_SCREENSHOT_DIR "/");
    ASSERT_TRUE(QDir().mkpath(folder));
    EXPECT_TRUE(glyphIcon("语", QColor(0x0c9488)).pixmap(64, 64).save(folder + "tray-icon.png"));
    QWidget* form = settings->findChild<QScrollArea*>()->widget(); // all of it, unscrolled
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest); // laid out for the texts set
    for (const QString scheme : {"light", "dark"}) {
        defaults.setString("appearance", scheme);
        for (const auto& [window, name] : {std::pair<QWidget*, const char*>{panel, "panel-"}, {form, "settings-"}}) {
            const QImage shot = window->grab().toImage();
            const QColor average = shot.scaled(1, 1, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).pixelColor(0, 0);
            EXPECT_TRUE(scheme == "dark" ? average.lightnessF() < 0.35 : average.lightnessF() > 0.75) << name;
            EXPECT_TRUE(shot.save(folder + name + scheme + ".png"));
        }
    }
    state.setError(QString());
    EXPECT_FALSE(settings->errorLabel()->isVisible());
    QTest::mouseClick(panel->copyButton(), Qt::LeftButton);
    EXPECT_EQ(QApplication::clipboard()->text(), lines.join('\n'));
    QTest::mouseClick(settings->clearHistoryButton(), Qt::LeftButton);
    EXPECT_EQ(panel->transcript()->toPlainText(), QString());
    choose(2); // the language switch
    EXPECT_EQ(texts(panel).at(1), "EN");
}

// What pausing does to a field's text is in RoutingTest and PollingFaultTest.
TEST_F(DesktopWindowsTest, PanelShowsItselfOnlyWithNoFieldFocusedAndItsButtonPausesAndResumes)
{
    settings->hide();
    VoiceInputController field(state, relay.router(), state.shell());
    field.activateServer();
    app.showPanelIfIdle();
    EXPECT_FALSE(testing::waitUntil([&] { return panel->isVisible(); }, 3 * AppDelegate::kIdlePanelDelay));
    field.deactivateServer(); // focus moving to another field passes through none
    field.activateServer();
    EXPECT_FALSE(testing::waitUntil([&] { return panel->isVisible(); }, 3 * AppDelegate::kIdlePanelDelay)) << "no flash";
    field.deactivateServer();
    EXPECT_TRUE(testing::waitUntil([&] { return panel->isVisible(); }));
    field.activateServer();
    EXPECT_FALSE(panel->isVisible());
    choose(0); // 显示语音记录, whatever has focus
    EXPECT_TRUE(panel->isVisible());
    for (const bool paused : {true, false}) {
        QTest::mouseClick(panel->pauseButton(), Qt::LeftButton);
        EXPECT_EQ(state.paused(), paused);
        EXPECT_EQ(panel->pauseButton()->text(), paused ? "恢复接收" : "暂停接收");
    }
}

// Six user-perceived characters as typed enable the button; the phone reaches the
// relay without surrounding blanks (the relay client would refuse any).
TEST_F(DesktopWindowsTest, SignInIsEnabledBySixCharactersAndSendsThePhoneWithoutSurroundingBlanks)
{
    state.setBase(server.base());
    server.on("/v1/auth/phone/request", testing::TestServer::reply(200, "{}"));
    server.on("/v1/auth/phone/verify", testing::TestServer::reply(200, R"({"token":"desk-token-1"})"));
    for (const auto& [code, enabled] :
         {std::pair{"", false}, {"12345", false}, {"1234567", false}, {"12345e\u0301", true}, {"12345 ", true}}) {
        settings->codeField()->setText(code);
        EXPECT_EQ(settings->loginButton()->isEnabled(), enabled) << code;
    }
    settings->phoneField()->setText(QStringLiteral(" \u3000\t+8613800138000\u3000"));
    QTest::mouseClick(settings->requestCodeButton(), Qt::LeftButton);
    EXPECT_TRUE(testing::waitUntil([&] { return settings->statusLabel()->text() == msg::kCodeRequested; }));
    settings->codeField()->setText(QStringLiteral("654321"));
    QTest::mouseClick(settings->loginButton(), Qt::LeftButton);
    // Signed in, the client goes on to poll: more requests may follow at once.
    ASSERT_TRUE(testing::waitUntil([&] { return server.requestCount() >= 2; }));
    const QJsonObject sent = QJsonDocument::fromJson(QByteArray::fromStdString(server.requests().at(1).body)).object();
    EXPECT_EQ(sent["phone"].toString() + ' ' + sent["code"].toString(), "+8613800138000 654321");
}

// A stand-in on a PATH of its own makes a file named after how it was started.
TEST_F(DesktopWindowsTest, KeyboardButtonOpensGnomeSettingsOrElseIbusSetup)
{
    QTemporaryDir bin;
    QFile standIn(bin.filePath("stand-in"));
    ASSERT_TRUE(standIn.open(QIODevice::WriteOnly) && standIn.write("#!/bin/sh\n: > \"$0($*)\"\n") > 0);
    standIn.close();
    ASSERT_TRUE(standIn.setPermissions(QFile::ReadOwner | QFile::ExeOwner));
    const auto restore = qScopeGuard([path = qgetenv("PATH")] { qputenv("PATH", path); });
    qputenv("PATH", bin.path().toUtf8());
    for (const QString started : {"ibus-setup()", "gnome-control-center(keyboard)"}) {
        ASSERT_TRUE(standIn.link(bin.filePath(started.section('(', 0, 0))));
        QTest::mouseClick(settings->keyboardSettingsButton(), Qt::LeftButton);
        EXPECT_TRUE(testing::waitUntil([&] { return QFile::exists(bin.filePath(started)); })) << started.toStdString();
    }
}

// From nothing stored and back; the schemes are drawn in the screenshots.
TEST_F(DesktopWindowsTest, AccentFollowsWhatIsTypedClickedOrStored)
{
    // The field, the stored text, the status dot's colour, the swatches marked.
    const auto shown = [&] {
        QStringList marked;
        for (const Swatch* swatch : appearance->swatches())
            marked += swatch->isMarked() ? QStringList{swatch->hex()} : QStringList();
        return QStringList{appearance->accentField()->text(), defaults.string("accent"),
                           panel->statusDot()->grab().toImage().pixelColor(3, 3).name(), marked.join(',')};
    };
    EXPECT_EQ(shown(), (QStringList{"#0c9488", "", "#0c9488", "#0c9488"}));
    const std::pair<QString, QStringList> typed[] = {
        {"#7C3AED", {"#7C3AED", "#7C3AED", "#7c3aed", ""}}, // the comparison is case-sensitive
        {"", {"", "", "#0c9488", ""}},                    // emptied is not unset: teal, but no swatch
        {"#2563eb", {"#2563eb", "#2563eb", "#2563eb", "#2563eb"}},
        {"#1234567890", {"#123456", "#123456", "#123456", ""}},
        {"#fff", {"#fff", "#fff", "#000fff", ""}},        // short forms are numbers, not abbreviations
        {"#12345g", {"#12345g", "#12345g", "#0c9488", ""}}, // unreadable: teal
    };
    for (const auto& [keys, expected] : typed) {
        appearance->accentField()->selectAll();
        QTest::keyClick(appearance->accentField(), Qt::Key_Backspace);
        QTest::keyClicks(appearance->accentField(), keys);
        EXPECT_EQ(shown(), expected) << keys.toStdString();
    }
    QTest::mouseClick(appearance->swatches().at(2), Qt::LeftButton);
    EXPECT_EQ(shown(), QStringList(4, "#7c3aed"));
    defaults.setString("accent", "#dc4b6c00ff");
    EXPECT_EQ(shown(), QStringList(4, "#dc4b6c")) << "cut where stored too";
    emit appearance->schemePicker()->activated(appearance->schemePicker()->findText("深色"));
    EXPECT_EQ(defaults.string("appearance"), "dark");
    defaults.setString("appearance", "light");
    EXPECT_EQ(appearance->schemePicker()->currentText(), "浅色");
    QTest::mouseClick(appearance->restoreButton(), Qt::LeftButton);
    EXPECT_EQ(shown(), QStringList(4, "#0c9488"));
    EXPECT_EQ(defaults.string("appearance") + appearance->schemePicker()->currentText(), "system跟随系统");
}

// Through the menu or a broadcast from another process: always the same window,
// with what was typed.
TEST_F(DesktopWindowsTest, SettingsWindowIsMadeOnceAndComesBackWithWhatWasTyped)
{
    settings->showMinimized();
    choose(1);
    ASSERT_EQ(app.settings(), settings);
    EXPECT_FALSE(settings->isMinimized());
    EXPECT_TRUE(testing::waitUntil([&] { return QApplication::activeWindow() == settings; })) << "it has the keyboard";
    QTest::keyClicks(settings->phoneField(), QStringLiteral("13800138000"));
    settings->close();
    QProcess send; // to this process only: tests side by side share the session bus
    send.start("dbus-send", {"--session", "--type=signal", "--dest=" + QDBusConnection::sessionBus().baseService(),
                             "/cc/orrisfeld/tellwire", "cc.orrisfeld.tellwire.Notifications.Posted",
                             "string:cc.orrisfeld.tellwire.show-settings"});
    ASSERT_TRUE(send.waitForFinished(10000) && send.exitCode() == 0) << "run inside tools/with-test-session";
    EXPECT_TRUE(testing::waitUntil([&] { return settings->isVisible(); })) << "the same window";
    EXPECT_EQ(settings->phoneField()->text(), "13800138000");
}

// A tray host that starts after Tellwire (a session's shell, an extension turned on) gets the icon; one.
TEST_F(DesktopWindowsTest, TrayIconIsMadeOnceWhenATrayHostAppearsLater)
{
    ASSERT_EQ(app.trayIcon(), nullptr) << "offscreen has no tray";
    QDBusConnection host = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "stand-in tray host");
    const auto gone = qScopeGuard([] { QDBusConnection::disconnectFromBus("stand-in tray host"); });
    // Told after the application's own watcher: the names' news reach both in that order.
    QDBusServiceWatcher watcher(AppDelegate::kTrayHostService, QDBusConnection::sessionBus(),
                                QDBusServiceWatcher::WatchForRegistration);
    int appeared = 0;
    QObject::connect(&watcher, &QDBusServiceWatcher::serviceRegistered, [&] { ++appeared; });
    for (int round = 1; round <= 2; ++round) {
        ASSERT_TRUE(host.registerService(AppDelegate::kTrayHostService));
        ASSERT_TRUE(testing::waitUntil([&] { return appeared == round; }));
        EXPECT_NE(app.trayIcon(), nullptr);
        ASSERT_TRUE(host.unregisterService(AppDelegate::kTrayHostService));
    }
    EXPECT_EQ(app.findChildren<QSystemTrayIcon*>().size(), 1);
}

} // namespace
} // namespace tellwire
