// GLib's headers come before Qt's, whose signals/slots keywords they use as names.
#include <ibus.h>

#include "LocalRelay.h"
#include "TestInputContext.h"
#include "Wait.h"
#include "support/PrivateIBusDaemon.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

namespace tellwire {
namespace {

using namespace tellwire::testing;

constexpr const char* kEngine = "cc.orrisfeld.tellwire.inputmethod";
const QString kBusName = QStringLiteral("cc.orrisfeld.tellwire.inputmethod");

bool dictionaryBuilt()
{
    return std::filesystem::exists(std::filesystem::path(TELLWIRE_RESOURCE_DIR) / "pinyin_simp.dict.yaml");
}

// Whether a name has an owner on the daemon's own bus.
bool ownedOnDaemon(const QString& address, const char* name)
{
    GDBusConnection* connection = g_dbus_connection_new_for_address_sync(
        address.toUtf8().constData(),
        GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT
                             | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    if (!connection)
        return false;
    GVariant* reply = g_dbus_connection_call_sync(connection, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                  "org.freedesktop.DBus", "NameHasOwner", g_variant_new("(s)", name),
                                                  G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, 2000, nullptr,
                                                  nullptr);
    gboolean owned = FALSE;
    if (reply) {
        g_variant_get(reply, "(b)", &owned);
        g_variant_unref(reply);
    }
    g_dbus_connection_close_sync(connection, nullptr, nullptr);
    g_object_unref(connection);
    return owned;
}

// Ends whichever Tellwire holds the session's name (one the daemon started).
void endTellwireOfSession()
{
    QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
    const auto pid = bus->servicePid(kBusName);
    if (pid.isValid() && pid.value() > 0)
        kill(pid_t(pid.value()), SIGTERM);
}

class EndToEndTest : public ::testing::Test {
protected:
    PrivateIBusDaemon daemon{{PrivateIBusDaemon::tellwireComponent()}};
    QProcess tellwire;

    void SetUp() override { ASSERT_TRUE(daemon.start()) << daemon.error().toStdString(); }

    void TearDown() override
    {
        if (tellwire.state() != QProcess::NotRunning) {
            tellwire.terminate();
            tellwire.waitForFinished(5000);
        }
        endTellwireOfSession();
    }

    // Tellwire started as the launcher would start it, serving the daemon.
    bool startTellwire(const QProcessEnvironment& extra = {})
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(extra);
        tellwire.setProcessEnvironment(environment);
        tellwire.setProcessChannelMode(QProcess::ForwardedChannels);
        tellwire.start(QStringLiteral(TELLWIRE_EXECUTABLE), {});
        if (!tellwire.waitForStarted())
            return false;
        // Nothing announces the name to a client of another bus; look until it is there.
        return waitUntil([&] { return ownedOnDaemon(daemon.address(), kEngine); }, std::chrono::seconds(20),
                         std::chrono::milliseconds(20));
    }

    std::unique_ptr<TestInputContext> focusedContext()
    {
        auto context = TestInputContext::create(daemon.address());
        if (!context)
            return nullptr;
        // The daemon switches engines only for a focused context.
        context->focusIn();
        if (!context->setEngine(kEngine))
            return nullptr;
        // Focus is a one-way call; a key round trip behind it makes sure it arrived.
        if (!context->sendKey(IBUS_KEY_Shift_L, IBUS_RELEASE_MASK))
            return nullptr;
        return context;
    }

    static void type(TestInputContext& context, const char* letters)
    {
        for (const char* letter = letters; *letter; ++letter)
            EXPECT_EQ(context.press(ibus_keyval_from_name(std::string(1, *letter).c_str())), true) << *letter;
    }
};

TEST_F(EndToEndTest, TheKeyboardComposesCommitsAndSwitchesToEnglish)
{
    if (!dictionaryBuilt())
        GTEST_SKIP() << "the pinyin dictionary is not in the build tree (install rime-data-pinyin-simp)";
    ASSERT_TRUE(startTellwire());
    auto context = focusedContext();
    ASSERT_TRUE(context);

    type(*context, "nihao");
    EXPECT_EQ(context->preedit.text, QStringLiteral("nihao"));
    EXPECT_EQ(context->preedit.cursor, 5u);
    EXPECT_TRUE(context->preedit.visible);
    ASSERT_TRUE(context->lookupVisible);
    ASSERT_FALSE(context->lookupTable.isEmpty());
    EXPECT_EQ(context->lookupTable.first(), QStringLiteral("你好"));
    EXPECT_LE(context->lookupTable.size(), 9);

    EXPECT_EQ(context->press(IBUS_KEY_space), true);
    EXPECT_EQ(context->commits, std::vector<QString>{QStringLiteral("你好")});
    EXPECT_FALSE(context->preedit.visible);
    EXPECT_TRUE(waitUntil([&] { return !context->lookupVisible; }, std::chrono::seconds(2)));

    // A digit picks from the table; the one commit carries it.
    type(*context, "shi");
    const QString second = context->lookupTable.value(1);
    ASSERT_FALSE(second.isEmpty());
    EXPECT_EQ(context->press(IBUS_KEY_2), true);
    EXPECT_EQ(context->commits.back(), second);

    // Shift+Space switches to English, where keys reach the application.
    EXPECT_EQ(context->press(IBUS_KEY_space, IBUS_SHIFT_MASK), true);
    EXPECT_EQ(context->press(IBUS_KEY_a), false);
    EXPECT_EQ(context->press(IBUS_KEY_space), false);
    EXPECT_EQ(context->commits.size(), 2u);
}

TEST_F(EndToEndTest, DictationFromThePhoneIsTypedWhereTheFocusWasWhenItBegan)
{
    LocalRelay relay(QStringLiteral(TELLWIRE_RELAY_EXECUTABLE));
    ASSERT_TRUE(relay.start());
    const QString desktopToken = relay.signIn(QStringLiteral("desktop"));
    relay.phoneToken = relay.signIn(QStringLiteral("phone"));
    ASSERT_FALSE(desktopToken.isEmpty());
    ASSERT_FALSE(relay.phoneToken.isEmpty());
    ASSERT_TRUE(storeDesktopToken(desktopToken));

    QProcessEnvironment environment;
    environment.insert(QStringLiteral("TELLWIRE_RELAY_ORIGIN"), relay.origin);
    ASSERT_TRUE(startTellwire(environment));
    auto first = focusedContext();
    ASSERT_TRUE(first);

    // Interim text is preedit, replaced as it grows; the final is committed.
    ASSERT_TRUE(relay.say(QStringLiteral("u1"), QStringLiteral("你好"), false));
    ASSERT_TRUE(waitUntil([&] { return first->preedit.text == QStringLiteral("你好"); }, std::chrono::seconds(20)))
        << "the interim text never reached the focused context";
    EXPECT_EQ(first->preedit.cursor, 2u);
    ASSERT_TRUE(relay.say(QStringLiteral("u1"), QStringLiteral("你好世界"), true));
    ASSERT_TRUE(waitUntil([&] { return !first->committed.isEmpty(); }));
    EXPECT_EQ(first->committed, QStringLiteral("你好世界"));
    EXPECT_FALSE(first->preedit.visible);

    // An utterance begun here is not typed elsewhere after the focus moves.
    ASSERT_TRUE(relay.say(QStringLiteral("u2"), QStringLiteral("第二"), false));
    ASSERT_TRUE(waitUntil([&] { return first->preedit.text == QStringLiteral("第二"); }));
    first->focusOut();
    auto second = focusedContext();
    ASSERT_TRUE(second);
    ASSERT_TRUE(relay.say(QStringLiteral("u2"), QStringLiteral("第二句"), true));
    ASSERT_TRUE(relay.say(QStringLiteral("u3"), QStringLiteral("第三句"), true));
    ASSERT_TRUE(waitUntil([&] { return !second->committed.isEmpty(); }));
    EXPECT_EQ(second->committed, QStringLiteral("第三句"));
    EXPECT_EQ(first->committed, QStringLiteral("你好世界"));
}

TEST_F(EndToEndTest, TheDaemonStartsTellwireFromItsComponentFile)
{
    // Nothing started by hand: switching to the engine makes the daemon run
    // the component file's exec (build/bin/Tellwire --ibus).
    auto context = focusedContext();
    ASSERT_TRUE(context);
    EXPECT_TRUE(ownedOnDaemon(daemon.address(), kEngine));
    EXPECT_TRUE(QDBusConnection::sessionBus().interface()->isServiceRegistered(kBusName));
    if (dictionaryBuilt()) {
        type(*context, "ni");
        EXPECT_EQ(context->preedit.text, QStringLiteral("ni"));
    }
}

TEST_F(EndToEndTest, ASecondInstanceExitsQuietly)
{
    ASSERT_TRUE(startTellwire());
    QProcess second;
    second.start(QStringLiteral(TELLWIRE_EXECUTABLE), {QStringLiteral("--ibus")});
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(second.readAllStandardError().isEmpty());
    EXPECT_EQ(tellwire.state(), QProcess::Running);
}

} // namespace
} // namespace tellwire
