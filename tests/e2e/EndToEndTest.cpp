// GLib's headers come before Qt's, whose signals/slots keywords they use as names.
#include <ibus.h>

#include "support/LocalRelay.h"
#include "support/PrivateIBusDaemon.h"
#include "support/PrivateSessionBus.h"
#include "support/TestInputContext.h"
#include "support/ToolRun.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

#include <optional>

namespace tellwire {
namespace {

using namespace tellwire::testing;

constexpr const char* kEngine = "cc.orrisfeld.tellwire.inputmethod"; // also Tellwire's name on the session bus

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

    // Ends the Tellwire the daemon started.
    void TearDown() override { stopOwnerOf(QDBusConnection::sessionBus(), kEngine); }

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

TEST_F(EndToEndTest, TellwireStartedByTheDaemonTypesDictationAndOutlivesARelayRestart)
{
    auto first = focusedContext(); // the daemon starts Tellwire for it
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

    // A restarted relay keeps both sign-ins; the desktop listens again and types only what is new.
    ASSERT_TRUE(relay.restart());
    ASSERT_TRUE(relay.waitForLine(QStringLiteral("is listening")));
    ASSERT_TRUE(relay.say(QStringLiteral("u4"), QStringLiteral("重启之后"), true));
    ASSERT_TRUE(waitUntil([&] { return first->committed.size() > 4; }));
    EXPECT_EQ(first->committed, QStringLiteral("你好世界重启之后"));

    // A second instance finds the session's name taken and leaves quietly; the first goes on serving.
    const ToolRun instance = runTool(QStringLiteral(TELLWIRE_EXECUTABLE), {QStringLiteral("--ibus")});
    EXPECT_EQ(std::pair(instance.exitCode, instance.err), std::pair(0, QString()));
    EXPECT_EQ(first->press(IBUS_KEY_n), true);
}

} // namespace
} // namespace tellwire
