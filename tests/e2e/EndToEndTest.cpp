// GLib's headers come before Qt's, whose signals/slots keywords they use as names.
#include <ibus.h>

#include "support/LocalRelay.h"
#include "support/TestInputContext.h"
#include "support/Wait.h"
#include "support/PrivateIBusDaemon.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>

#include <gtest/gtest.h>

#include <csignal>
#include <optional>

namespace tellwire {
namespace {

using namespace tellwire::testing;

constexpr const char* kEngine = "cc.orrisfeld.tellwire.inputmethod";
const QString kBusName = QStringLiteral("cc.orrisfeld.tellwire.inputmethod");

// Ends whichever Tellwire holds the session's name (one the daemon started).
void endTellwireOfSession()
{
    QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
    const auto pid = bus->servicePid(kBusName);
    if (pid.isValid() && pid.value() > 0)
        kill(pid_t(pid.value()), SIGTERM);
}

// The daemon starts Tellwire from its component file, as on a desktop, with
// the local relay as its relay and the phone, and a signed-in desktop.
class EndToEndTest : public ::testing::Test {
protected:
    LocalRelay relay{QStringLiteral(TELLWIRE_RELAY_EXECUTABLE)};
    std::optional<PrivateIBusDaemon> daemon;

    void SetUp() override
    {
        ASSERT_TRUE(relay.start());
        relay.phoneToken = relay.signIn(QStringLiteral("phone"));
        ASSERT_FALSE(relay.phoneToken.isEmpty());
        ASSERT_TRUE(storeDesktopToken(relay.signIn(QStringLiteral("desktop"))));
        QProcessEnvironment environment;
        environment.insert(QStringLiteral("TELLWIRE_RELAY_ORIGIN"), relay.origin);
        daemon.emplace(QStringList{PrivateIBusDaemon::tellwireComponent()}, environment);
        ASSERT_TRUE(daemon->start()) << daemon->error().toStdString();
    }

    void TearDown() override { endTellwireOfSession(); }

    std::unique_ptr<TestInputContext> focusedContext()
    {
        auto context = TestInputContext::create(daemon->address());
        // The daemon switches engines only for a focused context. Focus is a
        // one-way call; a key round trip behind it makes sure it arrived.
        if (context)
            context->focusIn();
        if (!context || !context->setEngine(kEngine) || !context->sendKey(IBUS_KEY_Shift_L, IBUS_RELEASE_MASK))
            return nullptr;
        return context;
    }
};

TEST_F(EndToEndTest, TellwireStartedByTheDaemonTypesDictationWhereItBeganAndComposes)
{
    auto first = focusedContext(); // the daemon starts Tellwire for it
    ASSERT_TRUE(first);
    EXPECT_TRUE(QDBusConnection::sessionBus().interface()->isServiceRegistered(kBusName));

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

    // A restarted relay keeps both sign-ins; the desktop listens again and types only what is new.
    ASSERT_TRUE(relay.restart());
    ASSERT_TRUE(relay.waitForLine(QStringLiteral("is listening")));
    ASSERT_TRUE(relay.say(QStringLiteral("u4"), QStringLiteral("重启之后"), true));
    ASSERT_TRUE(waitUntil([&] { return second->committed.size() > 3; }));
    EXPECT_EQ(second->committed + first->committed, QStringLiteral("第三句重启之后你好世界"));

    // A second instance leaves quietly; the first goes on serving.
    QProcess instance;
    instance.start(QStringLiteral(TELLWIRE_EXECUTABLE), {QStringLiteral("--ibus")});
    ASSERT_TRUE(instance.waitForFinished(10000));
    EXPECT_EQ(instance.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(instance.exitCode(), 0);
    EXPECT_TRUE(instance.readAllStandardError().isEmpty());
    // Its keyboard finds the dictionary installed beside it.
    EXPECT_EQ(second->press(IBUS_KEY_n), true);
    EXPECT_EQ(second->press(IBUS_KEY_i), true);
    EXPECT_EQ(second->preedit.text, QStringLiteral("ni"));
    EXPECT_TRUE(second->lookupTable.contains(QStringLiteral("你")));
}

} // namespace
} // namespace tellwire
