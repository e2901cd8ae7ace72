// GLib's headers come before Qt's, whose signals/slots keywords they use as names.
#include <ibus.h>

#include "TestInputContext.h"
#include "Wait.h"
#include "input/VoiceInputController.h"
#include "input/ibus/InputMethodServer.h"
#include "relay/DesktopState.h"
#include "relay/Defaults.h"
#include "relay/SecretStore.h"
#include "support/Fakes.h"
#include "support/PrivateIBusDaemon.h"

#include <gtest/gtest.h>


namespace tellwire {
namespace {

using namespace tellwire::testing;

// The engine served from this process to a private daemon (which knows it only
// from the run-time registration), with test clients as the applications.
class InputMethodServerTest : public ::testing::Test {
protected:
    PrivateIBusDaemon daemon;
    MemorySecretStore secrets;
    MemoryDefaults defaults;
    RecordingShell shell;
    std::unique_ptr<DesktopState> state;
    std::unique_ptr<InputMethodServer> server;

    void SetUp() override
    {
        ASSERT_TRUE(InputMethodServer::eventLoopIsGlib());
        ASSERT_TRUE(daemon.start()) << daemon.error().toStdString();
        state = std::make_unique<DesktopState>(secrets, defaults, nullptr);
        state->setShell(&shell);
        server = std::make_unique<InputMethodServer>(*state, &shell);
        server->start(false);
        ASSERT_TRUE(waitUntil([&] { return server->ready(); })) << "the engine was never registered";
    }

    VoiceInputController* controllerOf(const TestInputContext& context)
    {
        InputContextSession* session = server->contexts().find(context.path());
        return session ? &session->controller() : nullptr;
    }

    // A context switched to Tellwire and holding the focus; null when it could not be.
    std::unique_ptr<TestInputContext> focusedContext()
    {
        auto context = TestInputContext::create(daemon.address());
        if (!context)
            return nullptr;
        context->focusIn(); // the daemon switches engines only for a focused context
        if (!context->setEngine(InputMethodServer::kEngineName)
            || !waitUntil([&] { return state->active() && state->active() == controllerOf(*context); }))
            return nullptr;
        return context;
    }

    // Types letters into a focused context; false when the build has no
    // dictionary to compose with.
    bool compose(TestInputContext& context, std::initializer_list<unsigned> letters)
    {
        for (unsigned key : letters)
            EXPECT_EQ(context.press(key), true);
        return !context.preedit.text.isEmpty();
    }
};

constexpr const char* kNoDictionary = "the pinyin dictionary is not in the build tree (install rime-data-pinyin-simp)";

TEST_F(InputMethodServerTest, EachContextKeepsItsOwnController)
{
    auto first = focusedContext();
    ASSERT_TRUE(first);
    EXPECT_GE(shell.panelHides, 1);
    VoiceInputController* firstController = controllerOf(*first);
    first->focusOut();
    auto second = focusedContext();
    ASSERT_TRUE(second);
    ASSERT_NE(firstController, nullptr);
    EXPECT_NE(controllerOf(*second), firstController);
    EXPECT_NE(controllerOf(*second)->identity(), firstController->identity());
    EXPECT_EQ(server->contexts().size(), 2u);

    second->focusOut();
    first->focusIn();
    EXPECT_TRUE(waitUntil([&] { return state->active() == firstController; }));
}

TEST_F(InputMethodServerTest, WithNoClientFocusedNothingIsTypedAndThePanelIsAsked)
{
    auto context = focusedContext();
    ASSERT_TRUE(context);
    VoiceInputController* controller = state->active();
    const int shownBefore = shell.idleShows;

    // The daemon's own context takes the focus.
    context->focusOut();
    ASSERT_TRUE(waitUntil([&] { return state->active() == nullptr; }));
    EXPECT_GT(shell.idleShows, shownBefore);

    // The controller it left types nothing into it any more.
    controller->voice(QStringLiteral("不该出现"), true, QStringLiteral("u1"));
    ASSERT_TRUE(context->sendKey(IBUS_KEY_a, IBUS_RELEASE_MASK)); // a round trip through the daemon
    EXPECT_TRUE(context->committed.isEmpty());
    EXPECT_FALSE(context->preedit.visible);
}

TEST_F(InputMethodServerTest, ModifiersKeepTheCompositionAndResetLeavesTheLettersTypedOnce)
{
    auto context = focusedContext();
    ASSERT_TRUE(context);
    const int tablesBefore = context->lookupUpdates;
    if (!compose(*context, {IBUS_KEY_n, IBUS_KEY_i}))
        GTEST_SKIP() << kNoDictionary;
    ASSERT_TRUE(context->lookupVisible);
    EXPECT_EQ(context->lookupUpdates - tablesBefore, 2) << "one table per key";
    // Shift before a capital, Control before a shortcut: each pressed alone first.
    EXPECT_EQ(context->press(IBUS_KEY_Shift_L), false);
    EXPECT_EQ(context->press(IBUS_KEY_H, IBUS_SHIFT_MASK), true);
    EXPECT_EQ(context->press(IBUS_KEY_Control_L), false);
    EXPECT_EQ(context->press(IBUS_KEY_c, IBUS_CONTROL_MASK), false);
    EXPECT_EQ(context->preedit.text, QStringLiteral("nih"));

    context->reset();
    ASSERT_TRUE(context->sendKey(IBUS_KEY_Shift_L, IBUS_RELEASE_MASK)); // a round trip behind the reset
    // The daemon commits the letters on screen; nothing follows them.
    EXPECT_EQ(context->commits, std::vector<QString>{QStringLiteral("nih")});
    EXPECT_FALSE(context->preedit.visible);
    EXPECT_FALSE(context->lookupVisible);
    EXPECT_EQ(state->active()->pinyin(), QString());
}

TEST_F(InputMethodServerTest, MovingTheFocusLeavesTheCompositionWhereItWasTyped)
{
    auto first = focusedContext();
    ASSERT_TRUE(first);
    if (!compose(*first, {IBUS_KEY_n, IBUS_KEY_i}))
        GTEST_SKIP() << kNoDictionary;

    first->focusOut();
    auto second = focusedContext();
    ASSERT_TRUE(second);
    // The daemon hands the engine to the next context before telling it the
    // focus left, so the letters on screen are what stays where they were typed.
    ASSERT_TRUE(waitUntil([&] { return !first->committed.isEmpty(); }));
    EXPECT_EQ(first->committed, QStringLiteral("ni"));
    EXPECT_TRUE(second->committed.isEmpty());
    EXPECT_FALSE(second->lookupVisible);

    // The composition is closed: the next letter starts a new one.
    EXPECT_EQ(second->press(IBUS_KEY_m), true);
    EXPECT_EQ(second->preedit.text, QStringLiteral("m"));
}

TEST_F(InputMethodServerTest, KeysComposePickAndSwitchToEnglishWithHeldVoiceInTheSameCommit)
{
    auto context = focusedContext();
    ASSERT_TRUE(context);
    if (!compose(*context, {IBUS_KEY_n, IBUS_KEY_i, IBUS_KEY_h, IBUS_KEY_a, IBUS_KEY_o}))
        GTEST_SKIP() << kNoDictionary;
    EXPECT_EQ(context->preedit.text, QStringLiteral("nihao"));
    EXPECT_EQ(context->preedit.cursor, 5u);
    ASSERT_TRUE(context->lookupVisible);
    EXPECT_EQ(context->lookupTable.value(0), QStringLiteral("你好"));
    EXPECT_LE(context->lookupTable.size(), 9);

    // Dictation finished while the composition is open: held back, then sent
    // in the candidate's commit (compositors lose or reorder a second one).
    state->active()->voice(QStringLiteral("语音"), true, QStringLiteral("u1"));
    EXPECT_EQ(context->preedit.text, QStringLiteral("nihao"));
    EXPECT_EQ(context->press(IBUS_KEY_space), true);
    EXPECT_EQ(context->commits, std::vector<QString>{QStringLiteral("你好语音")});
    EXPECT_FALSE(context->preedit.visible);
    EXPECT_FALSE(context->lookupVisible);

    // A digit picks from the table.
    compose(*context, {IBUS_KEY_s, IBUS_KEY_h, IBUS_KEY_i});
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

TEST_F(InputMethodServerTest, ServesAgainAfterTheDaemonRestarts)
{
    ASSERT_TRUE(focusedContext());
    daemon.stop();
    ASSERT_TRUE(waitUntil([&] { return !server->ready(); }));
    EXPECT_EQ(state->active(), nullptr);

    ASSERT_TRUE(daemon.start()) << daemon.error().toStdString();
    ASSERT_TRUE(waitUntil([&] { return server->ready(); }, std::chrono::seconds(20)))
        << "did not reconnect to the new daemon";
    EXPECT_TRUE(focusedContext());
}

} // namespace
} // namespace tellwire
