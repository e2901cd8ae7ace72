// GLib's headers come before Qt's, whose signals/slots keywords they use as names.
#include <ibus.h>

#include "ibus/InputMethodServer.h"
#include "input/VoiceInputController.h"
#include "model/Defaults.h"
#include "model/DesktopState.h"
#include "model/SecretStore.h"
#include "relayclient/Router.h"
#include "support/Fakes.h"
#include "support/PrivateIBusDaemon.h"
#include "support/TestInputContext.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

#include <map>

namespace tellwire {
namespace {

using namespace tellwire::testing;

// The desktop's input-source menu as the daemon sees it: the owner of the
// panel's name, keeping the label of each property the focused engine shows.
class TestPanel {
public:
    std::map<QString, QString> labels;
    QString preedit; // shown for clients that cannot show it themselves

    TestPanel()
        : bus_(ibus_bus_new())
        , service_(ibus_panel_service_new(ibus_bus_get_connection(bus_)))
    {
        const auto keep = +[](IBusPanelService*, IBusProperty* property, gpointer self) {
            static_cast<TestPanel*>(self)->labels[ibus_property_get_key(property)] =
                QString::fromUtf8(ibus_text_get_text(ibus_property_get_label(property)));
        };
        g_signal_connect(service_, "update-property", G_CALLBACK(keep), this);
        g_signal_connect(service_, "update-preedit-text", G_CALLBACK(+[](IBusPanelService*, IBusText* text, guint,
                                                                         gboolean, gpointer self) {
            static_cast<TestPanel*>(self)->preedit = QString::fromUtf8(ibus_text_get_text(text));
        }), this);
        g_signal_connect(service_, "register-properties", G_CALLBACK(+[](IBusPanelService* panel, IBusPropList* list,
                                                                         gpointer self) {
            static_cast<TestPanel*>(self)->labels.clear();
            for (guint i = 0; IBusProperty* property = ibus_prop_list_get(list, i); ++i)
                g_signal_emit_by_name(panel, "update-property", property);
        }), this);
    }
    ~TestPanel()
    {
        g_object_unref(service_);
        g_object_unref(bus_);
    }
    bool own() { return ibus_bus_request_name(bus_, IBUS_SERVICE_PANEL, 0) != 0; }
    // What a click on the menu entry sends.
    void activate(const char* key) { ibus_panel_service_property_activate(service_, key, PROP_STATE_CHECKED); }

private:
    IBusBus* bus_;
    IBusPanelService* service_;
};

// The engine served from this process to a private daemon (which knows it only
// from the run-time registration), with test clients as the applications.
class InputMethodServerTest : public ::testing::Test {
protected:
    PrivateIBusDaemon daemon;
    MemorySecretStore secrets;
    MemoryDefaults defaults;
    RecordingShell shell;
    DesktopState state{secrets, defaults, nullptr};
    Router router{state};
    std::unique_ptr<InputMethodServer> server;

    void SetUp() override
    {
        ASSERT_TRUE(InputMethodServer::eventLoopIsGlib());
        ASSERT_TRUE(daemon.start()) << daemon.error().toStdString();
        server = std::make_unique<InputMethodServer>(state, router, &shell);
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
            || !waitUntil([&] { return router.active() && router.active() == controllerOf(*context); }))
            return nullptr;
        return context;
    }

    static void compose(TestInputContext& context, std::initializer_list<unsigned> letters)
    {
        for (unsigned key : letters)
            EXPECT_EQ(context.press(key), true) << "is rime-data-pinyin-simp installed?";
    }
};

TEST_F(InputMethodServerTest, EachContextHasItsControllerNoFocusTypesNothingAndADaemonRestartIsSurvived)
{
    auto first = focusedContext();
    ASSERT_TRUE(first);
    EXPECT_GE(shell.panelHides, 1);
    VoiceInputController* firstController = controllerOf(*first);
    first->focusOut();
    auto second = focusedContext();
    ASSERT_TRUE(second);
    EXPECT_NE(controllerOf(*second)->identity(), firstController->identity());
    EXPECT_EQ(server->contexts().size(), 2u);

    // The daemon's own context takes the focus: no controller is active, the
    // panel is asked for, and the controller left types nothing any more.
    const int shownBefore = shell.idleShows;
    second->focusOut();
    ASSERT_TRUE(waitUntil([&] { return router.active() == nullptr; }));
    EXPECT_GT(shell.idleShows, shownBefore);
    controllerOf(*second)->voice(QStringLiteral("不该出现"), true, QStringLiteral("u1"));
    ASSERT_TRUE(second->sendKey(IBUS_KEY_a, IBUS_RELEASE_MASK)); // a round trip through the daemon
    EXPECT_TRUE(second->committed.isEmpty());

    first->focusIn();
    EXPECT_TRUE(waitUntil([&] { return router.active() == firstController; }));

    // A restarted daemon is served again, with no context known: it reuses their paths.
    daemon.stop();
    ASSERT_TRUE(waitUntil([&] { return !server->ready(); }));
    EXPECT_EQ(router.active(), nullptr);
    EXPECT_EQ(server->contexts().size(), 0u);
    ASSERT_TRUE(daemon.start()) << daemon.error().toStdString();
    ASSERT_TRUE(waitUntil([&] { return server->ready(); }, std::chrono::seconds(20)))
        << "did not reconnect to the new daemon";
    EXPECT_TRUE(focusedContext());
}

TEST_F(InputMethodServerTest, KeysComposeAndPickWithHeldVoiceInTheSameCommitAndTheCaretCountsCharacters)
{
    auto context = focusedContext();
    ASSERT_TRUE(context);
    const int tablesBefore = context->lookupUpdates;
    compose(*context, {IBUS_KEY_n, IBUS_KEY_i, IBUS_KEY_h, IBUS_KEY_a, IBUS_KEY_o});
    EXPECT_EQ(context->lookupUpdates - tablesBefore, 5) << "one table per key";
    EXPECT_EQ(context->preedit.cursor, 5u);
    ASSERT_TRUE(context->lookupVisible);
    EXPECT_EQ(context->lookupTable.value(0), QStringLiteral("你好"));

    // Dictation finished while the composition is open: held back, then sent
    // in the candidate's commit (compositors lose or reorder a second one).
    router.active()->voice(QStringLiteral("语音"), true, QStringLiteral("u1"));
    EXPECT_EQ(context->preedit.text, QStringLiteral("nihao"));
    EXPECT_EQ(context->press(IBUS_KEY_space), true);
    EXPECT_EQ(context->commits, std::vector<QString>{QStringLiteral("你好语音")});
    EXPECT_FALSE(context->preedit.visible);
    EXPECT_FALSE(context->lookupVisible);

    // Interim text is preedit with the caret after it, counted in characters (U+20000 is one).
    router.active()->voice(QString::fromUtf8("你\xF0\xA0\x80\x80"), false, QStringLiteral("u2"));
    ASSERT_TRUE(waitUntil([&] { return context->preedit.text.size() == 3; }));
    EXPECT_EQ(context->preedit.cursor, 2u);
}

TEST_F(InputMethodServerTest, ModifiersKeepTheCompositionAndResetOrFocusLeaveTheLettersWhereTyped)
{
    auto first = focusedContext();
    ASSERT_TRUE(first);
    compose(*first, {IBUS_KEY_n, IBUS_KEY_i});
    // Shift before a capital, Control before a shortcut: each pressed alone first.
    EXPECT_EQ(first->press(IBUS_KEY_Shift_L), false);
    EXPECT_EQ(first->press(IBUS_KEY_H, IBUS_SHIFT_MASK), true);
    EXPECT_EQ(first->press(IBUS_KEY_Control_L), false);
    EXPECT_EQ(first->press(IBUS_KEY_c, IBUS_CONTROL_MASK), false);
    EXPECT_EQ(first->preedit.text, QStringLiteral("nih"));

    // The daemon commits the letters on screen at a reset; nothing follows them.
    first->reset();
    ASSERT_TRUE(first->sendKey(IBUS_KEY_Shift_L, IBUS_RELEASE_MASK)); // a round trip behind the reset
    EXPECT_EQ(first->commits, std::vector<QString>{QStringLiteral("nih")});
    EXPECT_FALSE(first->lookupVisible);
    EXPECT_EQ(controllerOf(*first)->pinyin(), QString());

    // The daemon hands the engine to the next context before telling it the
    // focus left, so the letters on screen stay where they were typed.
    compose(*first, {IBUS_KEY_n, IBUS_KEY_i});
    first->focusOut();
    auto second = focusedContext();
    ASSERT_TRUE(second);
    ASSERT_TRUE(waitUntil([&] { return first->commits.size() == 2; }));
    EXPECT_EQ(first->committed, QStringLiteral("nihni"));
    EXPECT_TRUE(second->committed.isEmpty());
    EXPECT_EQ(second->press(IBUS_KEY_m), true);
    EXPECT_EQ(second->preedit.text, QStringLiteral("m")) << "a new composition";
}

// Dictation into a PIN field goes to the history only; its keys are the
// application's (password fields: GTK 4 in the real-client test).
TEST_F(InputMethodServerTest, APinFieldGetsItsKeysUntouchedAndNoDictation)
{
    router.setClock([] { return 0.0; }); // every event fresh
    auto context = focusedContext();
    ASSERT_TRUE(context);
    context->setContentType(IBUS_INPUT_PURPOSE_PIN);
    EXPECT_EQ(context->press(IBUS_KEY_a), false);
    router.consume(Transcript{QStringLiteral("u1"), QStringLiteral("口令"), true, 1, 0, {}, {}});
    context->setContentType(IBUS_INPUT_PURPOSE_FREE_FORM);
    EXPECT_EQ(context->press(IBUS_KEY_n), true) << "composing again in an ordinary field";
    EXPECT_EQ(state.historyText(), QStringLiteral("口令"));
    EXPECT_EQ(context->committed, QString());
}

// Where no tray shows (stock GNOME), the input-source menu switches the mode,
// showing it, and opens what the tray opens.
TEST_F(InputMethodServerTest, TheInputSourceMenuSwitchesAndShowsTheModeAndOpensTheWindows)
{
    TestPanel panel;
    ASSERT_TRUE(panel.own());
    auto context = focusedContext();
    ASSERT_TRUE(context);
    ASSERT_TRUE(waitUntil([&] { return panel.labels.size() == 3; }));
    EXPECT_EQ(panel.labels, (std::map<QString, QString>{
                                {"InputMode", "中"}, {"ShowPanel", "显示语音记录"}, {"ShowSettings", "语音输入设置"}}));
    panel.activate("InputMode");
    EXPECT_TRUE(waitUntil([&] { return panel.labels["InputMode"] == "英"; }));
    EXPECT_FALSE(state.chinese());
    state.setChinese(true); // as Shift+Space or the tray does
    EXPECT_TRUE(waitUntil([&] { return panel.labels["InputMode"] == "中"; }));
    panel.activate("ShowPanel");
    EXPECT_TRUE(waitUntil([&] { return shell.panelShows == 1; }));
    panel.activate("ShowSettings");
    EXPECT_TRUE(waitUntil([&] { return shell.settingsShows == 1; }));
}

// A client that cannot show preedit (XIM, terminals): the daemon shows the
// interim text in the desktop's panel instead, and the final is typed once.
TEST_F(InputMethodServerTest, AClientWithoutPreeditShowsInterimTextInThePanel)
{
    router.setClock([] { return 0.0; }); // every event fresh
    TestPanel panel;
    ASSERT_TRUE(panel.own());
    auto context = focusedContext();
    ASSERT_TRUE(context);
    context->setCapabilities(IBUS_CAP_FOCUS);
    ASSERT_TRUE(context->sendKey(IBUS_KEY_Shift_L, IBUS_RELEASE_MASK)); // a round trip behind it
    const int preeditUpdates = context->preeditUpdates;
    router.consume(Transcript{QStringLiteral("u1"), QStringLiteral("你好"), false, 1, 0, {}, {}});
    EXPECT_TRUE(waitUntil([&] { return panel.preedit == QStringLiteral("你好"); }));
    router.consume(Transcript{QStringLiteral("u1"), QStringLiteral("你好吗"), true, 2, 0, {}, {}});
    EXPECT_TRUE(waitUntil([&] { return !context->committed.isEmpty(); }));
    EXPECT_TRUE(waitUntil([&] { return panel.preedit.isEmpty(); }));
    EXPECT_EQ(context->commits, std::vector<QString>{QStringLiteral("你好吗")});
    EXPECT_EQ(context->preeditUpdates, preeditUpdates);
}

} // namespace
} // namespace tellwire
