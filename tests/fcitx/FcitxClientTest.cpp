// Real applications (GTK 3, Qt 6) on Xvfb with their fcitx5 frontends, fcitx5
// on the same display (its candidate window, its tray item) that loads the
// Tellwire addon from the build tree and starts the real Tellwire; keys and
// clicks go through the X server, dictation through the local relay.
#include "apps/RealClient.h"
#include "fcitx/PrivateFcitx5.h"
#include "support/PrivateSessionBus.h"
#include "support/Wait.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <csignal>
#include <map>

namespace tellwire {
namespace {

using namespace tellwire::testing;
using namespace std::chrono_literals;

bool owned(const QString& name)
{
    return QDBusConnection::sessionBus().interface()->isServiceRegistered(name).value();
}

// A tray host: fcitx5 announces its item, then the host shows and clicks its menu.
class TrayHost : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
public:
    QString item;

    bool own()
    {
        QDBusConnection bus = QDBusConnection::sessionBus();
        return bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), this,
                                  QDBusConnection::ExportScriptableSlots)
            && bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher"));
    }

    // The menu's top level as it opens: each entry's id by its label.
    std::map<QString, int> open()
    {
        call(QStringLiteral("AboutToShow"), {0});
        const QDBusMessage reply = call(QStringLiteral("GetLayout"), {0, 1, QStringList{QStringLiteral("label")}});
        std::map<QString, int> entries;
        int id = 0;
        QVariantMap properties;
        QVariantList children;
        const QDBusArgument root = reply.arguments().value(1).value<QDBusArgument>();
        root.beginStructure();
        root >> id >> properties >> children;
        root.endStructure();
        for (const QVariant& child : children) {
            const QDBusArgument entry = child.value<QDBusArgument>();
            entry.beginStructure();
            entry >> id >> properties;
            entry.endStructure();
            entries[properties.value(QStringLiteral("label")).toString()] = id;
        }
        return entries;
    }

    void click(int id)
    {
        call(QStringLiteral("Event"), {id, QStringLiteral("clicked"), QVariant::fromValue(QDBusVariant(0)), 0u});
    }

public slots:
    Q_SCRIPTABLE void RegisterStatusNotifierItem(const QString& service) { item = service; }

private:
    QDBusMessage call(const QString& method, const QVariantList& arguments)
    {
        QDBusMessage message = QDBusMessage::createMethodCall(item, QStringLiteral("/MenuBar"),
                                                              QStringLiteral("com.canonical.dbusmenu"), method);
        message.setArguments(arguments);
        return QDBusConnection::sessionBus().call(message);
    }
};

class FcitxClientTest : public RealClient {
protected:
    PrivateFcitx5 fcitx;
    QProcess tellwire; // started again by the user

    QProcessEnvironment tellwireEnvironment() const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DISPLAY"), display);
        environment.insert(QStringLiteral("TELLWIRE_RELAY_ORIGIN"), relay.origin);
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb")); // its windows on the display
        return environment;
    }

    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(startDisplayAndRelay());
        // The user's choice: Tellwire beside the keyboard, on in every new field.
        ASSERT_TRUE(PrivateFcitx5::writeProfile("[Groups/0]\nName=Default\nDefault Layout=us\nDefaultIM=tellwire\n"
                                                "[Groups/0/Items/0]\nName=keyboard-us\n"
                                                "[Groups/0/Items/1]\nName=tellwire\n[GroupOrder]\n0=Default\n"));
        QFile config(QFileInfo(PrivateFcitx5::profilePath()).path() + "/config");
        ASSERT_TRUE(config.open(QIODevice::WriteOnly) && config.write("[Behavior]\nActiveByDefault=True\n") > 0);
        config.close();
        ASSERT_TRUE(fcitx.start(tellwireEnvironment()));

        QProcessEnvironment fcitxClient;
        fcitxClient.insert(QStringLiteral("GTK_IM_MODULE"), QStringLiteral("fcitx"));
        fcitxClient.insert(QStringLiteral("QT_IM_MODULE"), QStringLiteral("fcitx"));
        ASSERT_NO_FATAL_FAILURE(startApp(fcitxClient));
        // The addon starts Tellwire when a field takes the focus.
        ASSERT_TRUE(waitUntilServing());
    }

    // The window with this title once it shows on the display; empty if it never does.
    QString windowTitled(const char* title)
    {
        const QString name = "^" + QString::fromUtf8(title) + "$";
        QString found;
        waitUntil([&] { return !(found = xdotool({"search", "--onlyvisible", "--name", name})).isEmpty(); });
        return found;
    }

    // fcitx5 waits only moments for each key: Tellwire must be past its start
    // and its first poll (it reads its dictionary before it serves the addon).
    bool waitUntilServing() { return waitUntil([] { return owned(kTellwire); }, 30s) && relay.waitForPollAfter(0); }

    void TearDown() override
    {
        stopOwnerOf(QDBusConnection::sessionBus(), kTellwire);
        tellwire.waitForFinished();
        fcitx.stop();
        xvfb.terminate();
        xvfb.waitForFinished();
    }
};

TEST_P(FcitxClientTest, TypesWhereTheUserMeantAndNowhereElse)
{
    typesWhereTheUserMeantAndNowhereElse();
}

TEST_P(FcitxClientTest, KeysGoOnWithoutTellwireAndDictationComesBackWithIt)
{
    type(QStringLiteral("ni"));
    press(QStringLiteral("space"));
    ASSERT_TRUE(until("pinyin", [&] { return field("a") == "你"; }));
    // Shift+Space reaches Tellwire past fcitx5's own keys: English, and back.
    press(QStringLiteral("shift+space"));
    type(QStringLiteral("ab"));
    ASSERT_TRUE(until("english", [&] { return field("a") == "你ab"; }));
    press(QStringLiteral("shift+space"));
    roundTrip();

    // Stalled past fcitx5's bound: the key goes to the application and the
    // letters shown go; Tellwire, woken, leaves that key alone, and at the next
    // key commits the composition it held, then composes afresh.
    type(QStringLiteral("ni"));
    ASSERT_TRUE(until("composing", [&] { return preedit() == "ni"; }));
    const pid_t pid = pid_t(QDBusConnection::sessionBus().interface()->servicePid(kTellwire).value());
    ::kill(pid, SIGSTOP);
    type(QStringLiteral("h"));
    EXPECT_TRUE(until("passed on", [&] { return field("a") == "你abh" && preedit() == ""; }));
    ::kill(pid, SIGCONT);
    type(QStringLiteral("a"));
    ASSERT_TRUE(until("resynchronised", [&] { return field("a") == "你abh你" && preedit() == "a"; }));
    press(QStringLiteral("Escape"));

    // Gone while the field has the focus: fcitx5 types plain keys.
    stopOwnerOf(QDBusConnection::sessionBus(), kTellwire);
    ASSERT_TRUE(waitUntil([] { return !owned(kTellwire); }, 10s));
    type(QStringLiteral("cd"));
    ASSERT_TRUE(until("plain keys", [&] { return field("a") == "你abh你cd"; }));
    EXPECT_EQ(preedit(), "");

    // Started again, it learns where the focus is: no click needed.
    tellwire.setProcessEnvironment(tellwireEnvironment());
    tellwire.start(QStringLiteral(TELLWIRE_EXECUTABLE), QStringList{});
    ASSERT_TRUE(waitUntilServing());
    ASSERT_TRUE(relay.say("u1", "好", false));
    ASSERT_TRUE(until("interim", [&] { return preedit() == "好"; }));
    ASSERT_TRUE(relay.say("u1", "好的", true));
    ASSERT_TRUE(until("final", [&] { return field("a") == "你abh你cd好的"; }));
}

// A click in fcitx5's candidate list types that word. A click in another field
// leaves the composition to the client, which commits its letters: Tellwire must not add its candidate.
TEST_P(FcitxClientTest, AClickPicksACandidateOrLeavesTheCompositionInItsFieldOnce)
{
    type(QStringLiteral("ni"));
    ASSERT_TRUE(until("composing", [&] { return preedit() == "ni"; }));
    const QString list = windowTitled("Fcitx5 Input Window"); // fcitx5's candidate window
    ASSERT_FALSE(list.isEmpty());
    const QRegularExpressionMatch size = QRegularExpression(QStringLiteral("WIDTH=(\\d+)\\nHEIGHT=(\\d+)"))
                                             .match(xdotool({"getwindowgeometry", "--shell", list}));
    // The middle of the list: its fifth word.
    xdotool({"mousemove", "--window", list, QString::number(size.captured(1).toInt() / 2),
             QString::number(size.captured(2).toInt() / 2), "click", "1"});
    ASSERT_TRUE(until("picked", [&] { return field("a") == "泥"; }));

    click("b"); // the list opens below the field, over the next one
    type(QStringLiteral("ni"));
    ASSERT_TRUE(until("composing", [&] { return preedit() == "ni"; }));
    click("a");
    roundTrip();
    EXPECT_EQ(field("b"), "ni");
    EXPECT_EQ(field("a"), "泥");
}

// fcitx5's tray menu, clicked as a tray host does, opens what Tellwire's own tray opens.
TEST_P(FcitxClientTest, FcitxsTrayMenuOpensTheTranscriptAndTheSettings)
{
    TrayHost tray;
    ASSERT_TRUE(tray.own());
    ASSERT_TRUE(waitUntil([&] { return !tray.item.isEmpty(); }));
    // The entry, and the title of the window it opens.
    for (const auto& [label, title] : {std::pair{"显示语音记录", "语音记录"}, {"语音输入设置", "语音输入设置"}}) {
        const std::map<QString, int> menu = tray.open();
        ASSERT_TRUE(menu.count(label)) << label;
        tray.click(menu.at(label));
        EXPECT_FALSE(windowTitled(title).isEmpty()) << title;
    }
}

INSTANTIATE_TEST_SUITE_P(Toolkits, FcitxClientTest, ::testing::Values(gtk3Client(), qt6Client()),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace tellwire

#include "FcitxClientTest.moc"
