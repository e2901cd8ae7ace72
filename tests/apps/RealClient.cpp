#include "apps/RealClient.h"

#include "support/ToolRun.h"
#include "support/Wait.h"

#include <QJsonArray>

namespace tellwire::testing {

using namespace std::chrono_literals;

namespace {
const QString python = QStringLiteral("/usr/bin/python3");
const QString fields = QStringLiteral(TELLWIRE_APPS_FOLDER "/fields.py");
} // namespace

Client gtk3Client(QString leftBehind) { return {"GTK3", python, {fields, "3"}, std::move(leftBehind)}; }
Client gtk4Client(QString leftBehind) { return {"GTK4", python, {fields, "4"}, std::move(leftBehind)}; }
Client qt6Client(QString leftBehind) { return {"Qt6", QStringLiteral(TELLWIRE_QT_FIELDS), {}, std::move(leftBehind)}; }
Client chromiumClient(QString leftBehind)
{
    return {"Chromium", QStringLiteral("chromium"),
            {"--no-sandbox", "--user-data-dir={profile}", "--no-first-run", "--disable-gpu", "--password-store=basic",
             "--enable-logging=stderr", "--log-level=0", "--ozone-platform=x11", "--kiosk",
             "file://" TELLWIRE_APPS_FOLDER "/fields.html"},
            std::move(leftBehind)};
}

void RealClient::startDisplayAndRelay()
{
    xvfb.start(QStringLiteral("Xvfb"), {"-displayfd", "1", "-nolisten", "tcp"}); // prints the display it took
    ASSERT_TRUE(waitUntil([&] { return xvfb.canReadLine(); }, 15s));
    display = ":" + QString::fromUtf8(xvfb.readLine()).trimmed();

    relay.arguments = {QStringLiteral("--log-requests")};
    ASSERT_TRUE(relay.start());
    relay.phoneToken = relay.signIn(QStringLiteral("phone"));
    ASSERT_TRUE(storeDesktopToken(relay.signIn(QStringLiteral("desktop"))));
}

void RealClient::startApp(const QProcessEnvironment& framework)
{
    QProcessEnvironment appEnvironment = QProcessEnvironment::systemEnvironment();
    for (const auto& [name, value] : {std::pair{"DISPLAY", display}, {"QT_QPA_PLATFORM", "xcb"}, {"NO_AT_BRIDGE", "1"},
                                      {"GTK_A11Y", "none"}, {"GDK_DEBUG", "no-portals"}})
        appEnvironment.insert(QString::fromLatin1(name), value);
    appEnvironment.insert(framework);
    QStringList arguments = GetParam().arguments;
    arguments.replaceInStrings(QStringLiteral("{profile}"), browserProfile.path());
    app.start(GetParam().program, arguments, appEnvironment);
    ASSERT_TRUE(app.until("the fields shown", [&] { return !app.places.isEmpty(); }, 60s));
    window = xdotool({"search", "--sync", "--onlyvisible", "--name", "^fields"}).section('\n', 0, 0);
    xdotool({"windowfocus", "--sync", window});
    ASSERT_TRUE(until("focus", [&] { return app.state[QLatin1String("focus")] == "a"; }));
}

QString RealClient::xdotool(const QStringList& arguments)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), display);
    return runTool(QStringLiteral("xdotool"), arguments, environment).out.trimmed();
}

void RealClient::type(const QString& keys) { xdotool({"type", "--delay", "20", keys}); }
void RealClient::press(const QString& key) { xdotool({"key", key}); }

void RealClient::click(const char* field)
{
    const QJsonArray place = app.places[QLatin1String(field)].toArray();
    xdotool({"mousemove", "--window", window, QString::number(place[0].toInt()), QString::number(place[1].toInt()),
             "click", "1"});
    ASSERT_TRUE(until(field, [&] { return app.state[QLatin1String("focus")] == field; }));
}

void RealClient::roundTrip()
{
    type(QStringLiteral("a"));
    ASSERT_TRUE(until("round trip", [&] { return preedit() == "a"; }));
    press(QStringLiteral("Escape"));
    ASSERT_TRUE(until("round trip", [&] { return preedit() == ""; }));
}

void RealClient::typesWhereTheUserMeantAndNowhereElse()
{
    // The pinyin keyboard.
    type(QStringLiteral("ni"));
    press(QStringLiteral("space"));
    ASSERT_TRUE(until("pinyin", [&] { return field("a") == "你"; }));

    // Shortcuts and Escape with nothing composed are the application's.
    press(QStringLiteral("alt+d"));
    EXPECT_TRUE(until("alt+d", [&] { return app.hasKey("alt+d"); }));
    press(QStringLiteral("Escape"));
    EXPECT_TRUE(until("escape", [&] { return app.hasKey("escape"); }));
    EXPECT_EQ(preedit(), "");

    // An utterance begun in one field never lands in the next one.
    ASSERT_TRUE(relay.say("u1", "一", false));
    ASSERT_TRUE(until("interim", [&] { return preedit() == "一"; }));
    click("b");
    roundTrip();
    ASSERT_TRUE(relay.say("u1", "一二三", true));
    // Dictation into a field that keeps the focus grows in place and is typed once.
    ASSERT_TRUE(relay.say("u2", "你", false));
    ASSERT_TRUE(until("growing", [&] { return preedit() == "你"; }));
    ASSERT_TRUE(relay.say("u2", "你好", false));
    ASSERT_TRUE(until("growing", [&] { return preedit() == "你好"; }));
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
    EXPECT_EQ(preedit(), "");
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

} // namespace tellwire::testing
