// Real applications (GTK 3, GTK 4, Qt 6, Chromium) on Xvfb, talking to a
// private ibus-daemon that runs the real Tellwire; keys go through the X
// server, dictation through the local relay.
#include "support/FieldsApp.h"
#include "support/LocalRelay.h"
#include "support/PrivateIBusDaemon.h"
#include "support/PrivateSessionBus.h"
#include "support/ToolRun.h"
#include "support/Wait.h"

#include <QDBusConnectionInterface>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>

namespace tellwire {
namespace {

using namespace tellwire::testing;
using namespace std::chrono_literals;

const QString kTellwire = QStringLiteral("cc.orrisfeld.tellwire.inputmethod"); // the engine, and Tellwire's name on the bus

struct Client {
    const char* name;
    QString program;
    QStringList arguments;
    // What the first field keeps when the focus leaves it during an
    // utterance: Qt and Chromium confirm the interim text shown there themselves.
    QString leftBehind;
};

void PrintTo(const Client& client, std::ostream* out) { *out << client.name; }

class RealClientTest : public ::testing::TestWithParam<Client> {
protected:
    QProcess xvfb;
    QString display;
    LocalRelay relay{QStringLiteral(TELLWIRE_RELAY_EXECUTABLE)};
    std::optional<PrivateIBusDaemon> daemon;
    QTemporaryDir browserProfile;
    FieldsApp app;
    QString window;

    void SetUp() override
    {
        xvfb.start(QStringLiteral("Xvfb"), {"-displayfd", "1", "-nolisten", "tcp"}); // prints the display it took
        ASSERT_TRUE(waitUntil([&] { return xvfb.canReadLine(); }, 15s));
        display = ":" + QString::fromUtf8(xvfb.readLine()).trimmed();

        relay.arguments = {QStringLiteral("--log-requests")};
        ASSERT_TRUE(relay.start());
        relay.phoneToken = relay.signIn(QStringLiteral("phone"));
        ASSERT_TRUE(storeDesktopToken(relay.signIn(QStringLiteral("desktop"))));
        QProcessEnvironment environment;
        environment.insert(QStringLiteral("TELLWIRE_RELAY_ORIGIN"), relay.origin);
        // The daemon writes its address where clients on this display look.
        environment.insert(QStringLiteral("DISPLAY"), display);
        daemon.emplace(QStringList{PrivateIBusDaemon::tellwireComponent()}, environment);
        qputenv("DISPLAY", display.toUtf8()); // and where this process looks, once the daemon has its folders
        ASSERT_TRUE(daemon->start()) << daemon->error().toStdString();

        QProcessEnvironment appEnvironment = QProcessEnvironment::systemEnvironment();
        for (const auto& [name, value] : {std::pair{"DISPLAY", display}, {"GTK_IM_MODULE", "ibus"},
                                          {"QT_IM_MODULE", "ibus"}, {"QT_QPA_PLATFORM", "xcb"},
                                          {"NO_AT_BRIDGE", "1"}, {"GTK_A11Y", "none"},
                                          {"GDK_DEBUG", "no-portals"}, {"IBUS_ADDRESS", daemon->address()}})
            appEnvironment.insert(QString::fromLatin1(name), value);
        QStringList arguments = GetParam().arguments;
        arguments.replaceInStrings(QStringLiteral("{profile}"), browserProfile.path());
        app.start(GetParam().program, arguments, appEnvironment);
        ASSERT_TRUE(app.until("the fields shown", [&] { return !app.places.isEmpty(); }, 60s));
        window = xdotool({"search", "--sync", "--onlyvisible", "--name", "^fields"}).section('\n', 0, 0);
        xdotool({"windowfocus", "--sync", window});
        ASSERT_TRUE(app.until("focus", [&] { return app.state[QLatin1String("focus")] == "a"; }));
        // Picked as a user picks the input source; the daemon starts Tellwire
        // for it (and answers with an error before its engine is up).
        QProcessEnvironment ibus = QProcessEnvironment::systemEnvironment();
        ibus.insert(QStringLiteral("IBUS_ADDRESS"), daemon->address());
        runTool(QStringLiteral("ibus"), {"engine", kTellwire}, ibus);
        ASSERT_TRUE(waitUntil(
            [] { return QDBusConnection::sessionBus().interface()->isServiceRegistered(kTellwire).value(); }, 30s));
    }

    void TearDown() override
    {
        stopOwnerOf(QDBusConnection::sessionBus(), kTellwire);
        daemon.reset();
        xvfb.terminate();
        xvfb.waitForFinished();
    }

    QString xdotool(const QStringList& arguments)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DISPLAY"), display);
        return runTool(QStringLiteral("xdotool"), arguments, environment).out.trimmed();
    }

    void type(const QString& keys) { xdotool({"type", "--delay", "20", keys}); }
    void press(const QString& key) { xdotool({"key", key}); }
    void click(const char* field)
    {
        const QJsonArray place = app.places[QLatin1String(field)].toArray();
        xdotool({"mousemove", "--window", window, QString::number(place[0].toInt()), QString::number(place[1].toInt()),
                 "click", "1"});
        ASSERT_TRUE(app.until(field, [&] { return app.state[QLatin1String("focus")] == field; }));
    }

    QString field(const char* name) const { return app.field(name); }
    bool hasKey(const char* name) const { return app.hasKey(name); }
    bool until(const char* what, const std::function<bool()>& condition) { return app.until(what, condition); }

    // A composition opened and cancelled: the engine has handled everything the
    // application sent before, such as a reset when a field took the focus.
    void roundTrip()
    {
        type(QStringLiteral("a"));
        ASSERT_TRUE(until("round trip", [&] { return app.state[QLatin1String("preedit")] == "a"; }));
        press(QStringLiteral("Escape"));
        ASSERT_TRUE(until("round trip", [&] { return app.state[QLatin1String("preedit")] == ""; }));
    }
};

TEST_P(RealClientTest, TypesWhereTheUserMeantAndNowhereElse)
{
    // The pinyin keyboard.
    type(QStringLiteral("ni"));
    press(QStringLiteral("space"));
    ASSERT_TRUE(until("pinyin", [&] { return field("a") == "你"; }));

    // Shortcuts and Escape with nothing composed are the application's.
    press(QStringLiteral("alt+d"));
    EXPECT_TRUE(until("alt+d", [&] { return hasKey("alt+d"); }));
    press(QStringLiteral("Escape"));
    EXPECT_TRUE(until("escape", [&] { return hasKey("escape"); }));
    EXPECT_EQ(app.state[QLatin1String("preedit")], "");

    // An utterance begun in one field never lands in the next one.
    ASSERT_TRUE(relay.say("u1", "一", false));
    ASSERT_TRUE(until("interim", [&] { return app.state[QLatin1String("preedit")] == "一"; }));
    click("b");
    roundTrip();
    ASSERT_TRUE(relay.say("u1", "一二三", true));
    // Dictation into a field that keeps the focus grows in place and is typed once.
    ASSERT_TRUE(relay.say("u2", "你", false));
    ASSERT_TRUE(until("growing", [&] { return app.state[QLatin1String("preedit")] == "你"; }));
    ASSERT_TRUE(relay.say("u2", "你好", false));
    ASSERT_TRUE(until("growing", [&] { return app.state[QLatin1String("preedit")] == "你好"; }));
    ASSERT_TRUE(relay.say("u2", "你好吗", true));
    ASSERT_TRUE(until("final", [&] { return field("b") == "你好吗"; }));
    EXPECT_EQ(field("a"), "你" + GetParam().leftBehind);

    // A password field gets its keys, and no dictation.
    click("p");
    type(QStringLiteral("xy"));
    ASSERT_TRUE(until("password keys", [&] { return field("p") == "xy"; }));
    ASSERT_TRUE(relay.say("u3", "秘", false));
    ASSERT_TRUE(relay.waitForPollAfter(relay.lastSeq));
    app.read();
    EXPECT_EQ(app.state[QLatin1String("preedit")], "");
    ASSERT_TRUE(relay.say("u3", "秘密", true));
    ASSERT_TRUE(relay.waitForPollAfter(relay.lastSeq));
    app.read();
    EXPECT_EQ(field("p"), "xy");
    click("b");
    roundTrip();
    ASSERT_TRUE(relay.say("u4", "好", true));
    ASSERT_TRUE(until("after the password", [&] { return field("b").endsWith("好"); }));
    EXPECT_FALSE(field("b").contains("秘")); // (GTK 3 may select the field on a click: the rest is not ours)
    EXPECT_EQ(field("p"), "xy");
}

const QString python = QStringLiteral("/usr/bin/python3");
const QString fields = QStringLiteral(TELLWIRE_APPS_FOLDER "/fields.py");

INSTANTIATE_TEST_SUITE_P(
    Toolkits, RealClientTest,
    ::testing::Values(Client{"GTK3", python, {fields, "3"}, {}}, Client{"GTK4", python, {fields, "4"}, {}},
                      Client{"Qt6", QStringLiteral(TELLWIRE_QT_FIELDS), {}, QStringLiteral("一")},
                      Client{"Chromium", QStringLiteral("chromium"),
                             {"--no-sandbox", "--user-data-dir={profile}", "--no-first-run", "--disable-gpu",
                              "--password-store=basic", "--enable-logging=stderr", "--log-level=0",
                              "--ozone-platform=x11", "--kiosk", "file://" TELLWIRE_APPS_FOLDER "/fields.html"},
                             QStringLiteral("一")}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace tellwire
