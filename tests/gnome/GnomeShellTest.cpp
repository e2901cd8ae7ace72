// Tellwire under a real GNOME Shell on Wayland, headless with one virtual
// monitor: the shell starts its own ibus-daemon, which starts Tellwire for the
// chosen input source; the applications are Wayland-native; keys go through
// mutter's remote-desktop interface, dictation through the local relay.
#include "support/FieldsApp.h"
#include "support/LocalRelay.h"
#include "support/PrivateIBusDaemon.h"
#include "support/PrivateSessionBus.h"
#include "support/ToolRun.h"
#include "support/Wait.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDir>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>

#include <csignal>
#include <unistd.h>

namespace tellwire {
namespace {

using namespace tellwire::testing;
using namespace std::chrono_literals;

const QString kTellwire = QStringLiteral("cc.orrisfeld.tellwire.inputmethod");
const QString kShell = QStringLiteral("org.gnome.Shell");
const QString kRemoteDesktop = QStringLiteral("org.gnome.Mutter.RemoteDesktop");

struct Client {
    const char* name;
    QString program;
    QStringList arguments;
    QStringList environment; // NAME=value
    // Whether its fields reach the shell's input method through Wayland's
    // text-input (GTK); Qt's own IBus module talks to the daemon instead.
    bool textInput;
    // What the first field keeps when the application moves the focus during an utterance.
    QString leftBehind;
};

void PrintTo(const Client& client, std::ostream* out) { *out << client.name; }

const Client kGtk4{"GTK4",
                   QStringLiteral("/usr/bin/python3"),
                   {TELLWIRE_APPS_FOLDER "/fields.py", "4"},
                   {"GDK_BACKEND=wayland"},
                   true,
                   {}};
const Client kQt6{
    "Qt6", TELLWIRE_QT_FIELDS, {}, {"QT_QPA_PLATFORM=wayland", "QT_IM_MODULE=ibus"}, false, QStringLiteral("一")};

class GnomeShellTest : public ::testing::TestWithParam<Client> {
protected:
    LocalRelay relay{QStringLiteral(TELLWIRE_RELAY_EXECUTABLE)};
    PrivateSessionBus systemBus; // the shell's logind and friends: nobody answers there
    QTemporaryDir components;
    QString wayland = QStringLiteral("tellwire-wayland-") + QString::number(QCoreApplication::applicationPid());
    QProcess shell;
    QString remoteDesktop;
    FieldsApp app;

    void SetUp() override
    {
        relay.arguments = {QStringLiteral("--log-requests")};
        ASSERT_TRUE(relay.start());
        relay.phoneToken = relay.signIn(QStringLiteral("phone"));
        ASSERT_TRUE(storeDesktopToken(relay.signIn(QStringLiteral("desktop"))));

        // Tellwire installed beside the system's engines, and chosen as the input source.
        for (const QFileInfo& file : QDir(QStringLiteral("/usr/share/ibus/component")).entryInfoList({"*.xml"}))
            QFile::link(file.filePath(), components.filePath(file.fileName()));
        QFile::link(PrivateIBusDaemon::tellwireComponent(), components.filePath(QStringLiteral("tellwire.xml")));
        gsettings({"set", "org.gnome.desktop.input-sources", "sources", "[('ibus', '" + kTellwire + "')]"});
        // What gnome-session tells the bus, so that the portal's backend reaches the shell.
        runTool(QStringLiteral("dbus-update-activation-environment"),
                {"WAYLAND_DISPLAY=" + wayland, "XDG_CURRENT_DESKTOP=GNOME"});

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
        for (const auto& [name, value] : {std::pair<const char*, QString>{"DBUS_SYSTEM_BUS_ADDRESS", systemBus.address()},
                                          {"IBUS_COMPONENT_PATH", components.path()},
                                          {"XDG_CURRENT_DESKTOP", QStringLiteral("GNOME")},
                                          {"TELLWIRE_RELAY_ORIGIN", relay.origin}})
            environment.insert(QString::fromLatin1(name), value);
        shell.setProcessEnvironment(environment);
        // Its own process group, so that stopping it takes every child along; its
        // words in a file, so that no stray child holds the test's output open.
        shell.setChildProcessModifier([] { ::setsid(); });
        shell.setProcessChannelMode(QProcess::MergedChannels);
        shell.setStandardOutputFile(components.filePath(QStringLiteral("shell.log")));
        // GNOME Shell 43 now and then hangs at start in a child it forks to run
        // ibus-daemon (JavaScript run between fork and exec); a user logs in again.
        bool started = false;
        for (int attempt = 0; attempt < 3 && !started; ++attempt) {
            stopShell();
            shell.start(QStringLiteral("gnome-shell"), {"--unsafe-mode", "--headless", "--wayland",
                                                        "--virtual-monitor", "1280x800", "--wayland-display", wayland});
            started = waitUntil([&] { return eval("Main.layoutManager._startingUp") == false; }, 30s);
        }
        ASSERT_TRUE(started) << "the shell never finished starting: "
                             << readAll(components.filePath(QStringLiteral("shell.log"))).right(3000).toStdString();
        eval("Main.overview.hide()"); // the shell starts in the overview
        // The shell picks the input source; its daemon starts Tellwire for it.
        ASSERT_TRUE(waitUntil(
            [] { return QDBusConnection::sessionBus().interface()->isServiceRegistered(kTellwire).value(); }, 30s));
        startKeyboard();
        // Signed in and idle, Tellwire shows its panel.
        ASSERT_TRUE(waitUntil([&] { return eval(window(QStringLiteral("语音记录")) + ".title") == "语音记录"; }, 20s));

        QProcessEnvironment appEnvironment = QProcessEnvironment::systemEnvironment();
        appEnvironment.remove(QStringLiteral("QT_QPA_PLATFORM"));
        appEnvironment.insert(QStringLiteral("WAYLAND_DISPLAY"), wayland);
        appEnvironment.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("GNOME"));
        for (const char* name : {"NO_AT_BRIDGE", "GTK_A11Y"})
            appEnvironment.insert(QString::fromLatin1(name), name == std::string("GTK_A11Y") ? "none" : "1");
        for (const QString& variable : GetParam().environment)
            appEnvironment.insert(variable.section('=', 0, 0), variable.section('=', 1));
        app.start(GetParam().program, GetParam().arguments, appEnvironment);
        ASSERT_TRUE(app.until("the first field focused", [&] { return app.state["focus"] == "a"; }));
        // A window shown without a click may be left without the focus: the user clicks it.
        eval(window(QStringLiteral("fields")) + ".activate(global.get_current_time())");
        // A new keyboard's first key may be lost while the application takes its keymap.
        ASSERT_TRUE(retried([&] { press({kEscape}); },
                            [&] { return app.hasKey("escape"); }))
            << "no key ever reached the application";
    }

    void TearDown() override
    {
        stopOwnerOf(QDBusConnection::sessionBus(), kTellwire);
        stopShell();
    }

    void stopShell()
    {
        if (shell.state() == QProcess::NotRunning)
            return;
        const auto group = static_cast<pid_t>(shell.processId());
        ::kill(-group, SIGTERM);
        if (!shell.waitForFinished(10000))
            ::kill(-group, SIGKILL);
        shell.waitForFinished();
        ::kill(-group, SIGKILL); // what it started and left behind
    }

    static QString readAll(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    // The shell's window with that title, in JavaScript.
    static QString window(const QString& title)
    {
        return "global.get_window_actors().map(actor => actor.meta_window).find(window => window.title == '" + title
            + "')";
    }

    static QString gsettings(const QStringList& arguments)
    {
        return runTool(QStringLiteral("gsettings"), arguments).out.trimmed();
    }

    // Runs JavaScript inside the shell (it runs in unsafe mode for this) and returns its JSON value.
    static QJsonValue eval(const QString& code)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(kShell, QStringLiteral("/org/gnome/Shell"), kShell,
                                                           QStringLiteral("Eval"));
        call << code;
        const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 5000);
        if (reply.type() != QDBusMessage::ReplyMessage || !reply.arguments().value(0).toBool())
            return QJsonValue::Undefined;
        const QByteArray json = "[" + reply.arguments().value(1).toString().toUtf8() + "]";
        return QJsonDocument::fromJson(json).array().at(0);
    }

    // A remote-desktop session of this connection: mutter takes its keys as the keyboard's.
    void startKeyboard()
    {
        const QDBusReply<QDBusObjectPath> session = QDBusConnection::sessionBus().call(QDBusMessage::createMethodCall(
            kRemoteDesktop, QStringLiteral("/org/gnome/Mutter/RemoteDesktop"), kRemoteDesktop,
            QStringLiteral("CreateSession")));
        ASSERT_TRUE(session.isValid()) << session.error().message().toStdString();
        remoteDesktop = session.value().path();
        ASSERT_EQ(sessionCall(QStringLiteral("Start")).type(), QDBusMessage::ReplyMessage);
    }

    QDBusMessage sessionCall(const QString& method, const QVariantList& arguments = {})
    {
        QDBusMessage call = QDBusMessage::createMethodCall(kRemoteDesktop, remoteDesktop,
                                                           kRemoteDesktop + QStringLiteral(".Session"), method);
        call.setArguments(arguments);
        return QDBusConnection::sessionBus().call(call);
    }

    void press(std::initializer_list<uint> keysyms)
    {
        for (uint keysym : keysyms)
            sessionCall(QStringLiteral("NotifyKeyboardKeysym"), {keysym, true});
        for (auto keysym = std::rbegin(keysyms); keysym != std::rend(keysyms); ++keysym)
            sessionCall(QStringLiteral("NotifyKeyboardKeysym"), {*keysym, false});
    }
    void type(const char* letters)
    {
        for (const char* letter = letters; *letter; ++letter)
            press({static_cast<uint>(*letter)});
    }

    // Does `act` until `condition` holds soon after, a few times at most.
    bool retried(const std::function<void()>& act, const std::function<bool()>& condition)
    {
        for (int attempt = 0; attempt < 10; ++attempt) {
            act();
            if (waitUntil([&] { return app.read(), condition(); }, 1s))
                return true;
        }
        return false;
    }

    bool until(const char* what, const std::function<bool()>& condition) { return app.until(what, condition); }
    QString field(const char* name) const { return app.field(name); }

    void focus(const char* field)
    {
        app.focus(field);
        ASSERT_TRUE(until(field, [&] { return app.state["focus"] == field; }));
        // GTK tells the shell of the new field a frame after its own focus moved:
        // wait until the shell has its text (not the nothing a reset leaves) and purpose.
        if (GetParam().textInput) {
            const bool password = field == std::string("p");
            const auto taken = [&] {
                const QJsonArray shell = eval(QStringLiteral(
                    "[Main.inputMethod.getSurroundingText()[0], Main.inputMethod._purpose]")).toArray();
                return password ? shell[1] == 8 : shell[0] == this->field(field) && shell[1] == 0;
            };
            ASSERT_TRUE(waitUntil(taken)) << "the shell never took the field " << field;
        }
    }


    // A composition opened and cancelled: the engine has handled everything
    // the application sent before, such as a change of field.
    void roundTrip()
    {
        type("a");
        ASSERT_TRUE(until("round trip", [&] { return app.state["preedit"] == "a"; }));
        press({kEscape});
        ASSERT_TRUE(until("round trip", [&] { return app.state["preedit"] == ""; }));
    }

    static constexpr uint kEscape = 0xff1b, kShiftL = 0xffe1, kSpace = 0x20;
};

TEST_P(GnomeShellTest, DictationGrowsInPlaceAndStaysWithItsField)
{
    // The pinyin keyboard, through the shell's input method.
    type("ni ");
    ASSERT_TRUE(until("pinyin", [&] { return field("a") == "你"; }));

    // An utterance begun in one field never lands in the next one.
    ASSERT_TRUE(relay.say("u1", "一", false));
    ASSERT_TRUE(until("interim", [&] { return app.state["preedit"] == "一"; }));
    focus("b");
    roundTrip();
    ASSERT_TRUE(relay.say("u1", "一二三", true));
    // Dictation into a field that keeps the focus grows in place and is typed once.
    ASSERT_TRUE(relay.say("u2", "你", false));
    ASSERT_TRUE(until("growing", [&] { return app.state["preedit"] == "你"; }));
    ASSERT_TRUE(relay.say("u2", "你好", false));
    ASSERT_TRUE(until("growing", [&] { return app.state["preedit"] == "你好"; }));
    ASSERT_TRUE(relay.say("u2", "你好吗", true));
    ASSERT_TRUE(until("final", [&] { return field("b") == "你好吗"; }));
    EXPECT_EQ(field("a"), "你" + GetParam().leftBehind);
}

INSTANTIATE_TEST_SUITE_P(Toolkits, GnomeShellTest, ::testing::Values(kGtk4, kQt6),
                         [](const auto& info) { return std::string(info.param.name); });

// A password field gets its keys, and no dictation. Qt says nothing when one
// takes the focus; the caret moving while no key reaches the engine tells,
// from the third character typed; six leave room for moves the engine hears
// after the field shows the keys.
using GnomeShellPasswordTest = GnomeShellTest;

TEST_P(GnomeShellPasswordTest, PasswordFieldGetsKeysAndNoDictation)
{
    focus("p");
    type("xyzwuv");
    ASSERT_TRUE(until("password keys", [&] { return field("p") == "xyzwuv"; }));
    ASSERT_TRUE(relay.say("u3", "秘", false));
    ASSERT_TRUE(relay.say("u3", "秘密", true));
    ASSERT_TRUE(relay.waitForPollAfter(relay.lastSeq));
    app.read();
    EXPECT_EQ(app.state["preedit"], "");
    EXPECT_EQ(field("p"), "xyzwuv");
    focus("b");
    roundTrip();
    ASSERT_TRUE(relay.say("u4", "好", true));
    ASSERT_TRUE(until("after the password", [&] { return field("b") == "好"; }));
}

INSTANTIATE_TEST_SUITE_P(Toolkits, GnomeShellPasswordTest, ::testing::Values(kGtk4, kQt6),
                         [](const auto& info) { return std::string(info.param.name); });

// The shell's input-source menu and top bar show Tellwire's properties; the
// transcript panel floats above the application without taking its focus,
// and follows the desktop's style, dark from the start and light when changed.
class GnomeShellWindowsTest : public GnomeShellTest {
protected:
    void SetUp() override
    {
        gsettings({"set", "org.gnome.desktop.interface", "color-scheme", "prefer-dark"});
        GnomeShellTest::SetUp();
    }
};

TEST_P(GnomeShellWindowsTest, PanelFloatsAboveTheFocusedApplicationInTheDesktopsStyle)
{
    const QString menu = QStringLiteral("Main.panel.statusArea.keyboard._propSection._getMenuItems()");
    EXPECT_EQ(eval(menu + ".map(item => item.label.text)"), QJsonArray({"中", "显示语音记录", "语音输入设置"}));
    eval(menu + ".find(item => item.label.text == '显示语音记录').activate(null)");
    ASSERT_TRUE(waitUntil([&] { return eval(window(QStringLiteral("语音记录")) + ".showing_on_its_workspace()") == true; }));
    // Bottom to top: the application, then the panel on top of it.
    EXPECT_EQ(eval("global.display.sort_windows_by_stacking([" + window(QStringLiteral("语音记录")) + ", "
                   + window(QStringLiteral("fields")) + "]).map(window => window.title)"),
              QJsonArray({"fields", "语音记录"}));
    const QJsonObject panel = eval(
        "(() => { const panel = " + window(QStringLiteral("语音记录")) + "; const frame = panel.get_frame_rect();"
        " const area = panel.get_work_area_current_monitor();"
        " return {above: panel.is_above(), focused: panel.has_focus(), x11: panel.get_client_type() == 1,"
        " dx: frame.x + frame.width / 2 - (area.x + area.width / 2), dy: frame.y + frame.height / 2 - (area.y + area.height / 2),"
        " x: frame.x, y: frame.y, width: frame.width, height: frame.height,"
        " focus: global.display.focus_window ? global.display.focus_window.title : null}; })()")
                                  .toObject();
    EXPECT_EQ(panel["x11"], true);
    EXPECT_EQ(panel["above"], true);
    EXPECT_EQ(panel["focused"], false);
    EXPECT_EQ(panel["focus"], "fields");
    EXPECT_LE(std::abs(panel["dx"].toDouble()), 2);
    EXPECT_LE(std::abs(panel["dy"].toDouble()), 40); // its title bar
    roundTrip(); // the keyboard is still the application's
    EXPECT_EQ(app.state["active"], true);

    // The middle of the panel, as the screen shows it.
    const auto lightness = [&] {
        QTemporaryDir folder;
        const QString file = folder.filePath(QStringLiteral("panel.png"));
        QDBusMessage call = QDBusMessage::createMethodCall(kShell, QStringLiteral("/org/gnome/Shell/Screenshot"),
                                                           kShell + QStringLiteral(".Screenshot"),
                                                           QStringLiteral("ScreenshotArea"));
        call << panel["x"].toInt() + 10 << panel["y"].toInt() + panel["height"].toInt() / 2 << 40 << 10 << false << file;
        QDBusConnection::sessionBus().call(call, QDBus::Block, 10000);
        const QImage image(file);
        return image.isNull() ? -1 : image.pixelColor(image.width() / 2, image.height() / 2).lightness();
    };
    // (A panel not yet painted is black.)
    EXPECT_TRUE(waitUntil([&] { return lightness() > 0 && lightness() < 128; })) << lightness();
    gsettings({"set", "org.gnome.desktop.interface", "color-scheme", "default"});
    EXPECT_TRUE(waitUntil([&] { return lightness() > 128; }, 20s)) << lightness();

    // Shift+Space, and the menu follows.
    press({kShiftL, kSpace});
    EXPECT_TRUE(waitUntil([&] { return eval(menu + "[0].label.text") == "英"; }));
}

INSTANTIATE_TEST_SUITE_P(Gtk4, GnomeShellWindowsTest, ::testing::Values(kGtk4),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace tellwire
