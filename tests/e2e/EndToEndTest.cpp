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
bool ownedOnDaemon(const char* name)
{
    IBusBus* bus = ibus_bus_new();
    const bool owned = ibus_bus_is_connected(bus) && ibus_bus_name_has_owner(bus, name);
    g_object_unref(bus);
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
        return waitUntil([&] { return ownedOnDaemon(kEngine); }, std::chrono::seconds(20),
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

TEST_F(EndToEndTest, TheDaemonStartsTellwireWhoseKeyboardComposesAndSwitchesToEnglish)
{
    if (!dictionaryBuilt())
        GTEST_SKIP() << "the pinyin dictionary is not in the build tree (install rime-data-pinyin-simp)";
    // Nothing started by hand: switching to the engine makes the daemon run
    // the component file's exec (build/bin/Tellwire --ibus).
    auto context = focusedContext();
    ASSERT_TRUE(context);
    EXPECT_TRUE(QDBusConnection::sessionBus().interface()->isServiceRegistered(kBusName));

    type(*context, "nihao");
    EXPECT_EQ(context->preedit.text, QStringLiteral("nihao"));
    EXPECT_EQ(context->preedit.cursor, 5u);
    EXPECT_TRUE(context->preedit.visible);
    ASSERT_TRUE(context->lookupVisible);
    EXPECT_EQ(context->lookupTable.value(0), QStringLiteral("你好"));
    EXPECT_LE(context->lookupTable.size(), 9);

    EXPECT_EQ(context->press(IBUS_KEY_space), true);
    EXPECT_EQ(context->commits, std::vector<QString>{QStringLiteral("你好")});
    EXPECT_FALSE(context->preedit.visible);
    EXPECT_TRUE(waitUntil([&] { return !context->lookupVisible; }, std::chrono::seconds(2)));

    // A second instance leaves quietly; the first goes on serving.
    QProcess second;
    second.start(QStringLiteral(TELLWIRE_EXECUTABLE), {QStringLiteral("--ibus")});
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(second.readAllStandardError().isEmpty());

    // A digit picks from the table; the one commit carries it.
    type(*context, "shi");
    const QString secondCandidate = context->lookupTable.value(1);
    ASSERT_FALSE(secondCandidate.isEmpty());
    EXPECT_EQ(context->press(IBUS_KEY_2), true);
    EXPECT_EQ(context->commits.back(), secondCandidate);

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

    // Interim text is preedit with the caret after it, counted in characters
    // (U+20000 is one); the final is committed.
    const QString interim = QString::fromUtf8("你\xF0\xA0\x80\x80");
    ASSERT_TRUE(relay.say(QStringLiteral("u1"), interim, false));
    ASSERT_TRUE(waitUntil([&] { return first->preedit.text == interim; }, std::chrono::seconds(20)))
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

} // namespace
} // namespace tellwire
