#include "input/VoiceInputController.h"
#include "relay/Defaults.h"
#include "relay/DesktopState.h"
#include "relay/SecretStore.h"
#include "support/Fakes.h"

#include <gtest/gtest.h>

#include <memory>

namespace tellwire {
namespace {

using testing::ClientCall;
using testing::inserted;
using testing::marked;
using testing::RecordingClient;
using testing::RecordingShell;

// A controller of one client session, as the input-method host makes them.
struct Session {
    RecordingClient client;
    std::unique_ptr<VoiceInputController> controller;

    explicit Session(DesktopState& state)
        : controller(std::make_unique<VoiceInputController>(state))
    {
        controller->setClient(&client);
    }
};

class RoutingTest : public ::testing::Test {
protected:
    MemorySecretStore secrets;
    MemoryDefaults defaults;
    RecordingShell shell;
    DesktopState state{secrets, defaults, nullptr};
    double now = 1'700'000'000'000.0;
    qint64 seq = 0;

    void SetUp() override
    {
        state.setShell(&shell);
        state.setClock([this] { return now; });
    }

    Transcript event(const QString& utterance, const QString& text, bool final = false, double age = 0)
    {
        return {utterance, text, final ? std::optional(true) : std::nullopt, ++seq, now - age, {}, {}};
    }
    Transcript finalEvent(const QString& utterance, const QString& text, double age = 0)
    {
        return event(utterance, text, true, age);
    }
    QStringList historyIDs() const
    {
        QStringList ids;
        for (const Transcript& t : state.history())
            ids.append(t.id());
        return ids;
    }
};

TEST_F(RoutingTest, InterimsAndFinalReachTheFocusedSessionAndARepeatedFinalChangesNothing)
{
    Session field(state);
    field.controller->activateServer();
    const Transcript final = finalEvent("u1", "你好。");

    state.consume(QList<Transcript>{event("u1", "你"), event("u1", "你好"), final, final, finalEvent("u1", "又好")});

    EXPECT_EQ(field.client.calls, (std::vector<ClientCall>{marked("你", 1), marked("你好", 2), inserted("你好。")}));
    ASSERT_EQ(state.history().size(), 1);
    EXPECT_EQ(state.history().front().text, QStringLiteral("你好。"));
    EXPECT_TRUE(state.routes().isEmpty());
    EXPECT_EQ(shell.idleShows, 0);

    // Clearing the history does not let it back in.
    state.clearHistory();
    state.consume(final);
    EXPECT_TRUE(state.history().isEmpty());
    EXPECT_EQ(field.client.calls.size(), 3u);
}

TEST_F(RoutingTest, UtteranceIsNotFollowedIntoAnotherField)
{
    Session first(state);
    Session second(state);
    first.controller->activateServer();
    state.consume(event("u1", "一"));

    first.controller->deactivateServer();
    second.controller->activateServer();
    state.consume(event("u1", "一二"));
    state.consume(finalEvent("u1", "一二三"));

    EXPECT_EQ(first.client.calls, (std::vector<ClientCall>{marked("一", 1), marked("", 0)}));
    EXPECT_TRUE(second.client.calls.empty());
    EXPECT_EQ(historyIDs(), QStringList{"u1"});

    // A later utterance follows the new focus.
    state.consume(finalEvent("u2", "新"));
    EXPECT_EQ(second.client.calls, std::vector<ClientCall>{inserted("新")});

    // Focus that leaves and comes back to the same field is a new stretch too.
    state.consume(event("u3", "三"));
    second.controller->deactivateServer();
    second.controller->activateServer();
    second.client.calls.clear();
    state.consume(finalEvent("u3", "三四"));
    EXPECT_TRUE(second.client.calls.empty());
    EXPECT_EQ(historyIDs(), (QStringList{"u3", "u2", "u1"}));
}

TEST_F(RoutingTest, UtteranceBegunWithoutFocusIsNeverTyped)
{
    state.consume(event("u1", "一"));
    EXPECT_EQ(shell.idleShows, 1);

    Session field(state);
    field.controller->activateServer();
    state.consume(event("u1", "一二"));
    state.consume(finalEvent("u1", "一二三"));

    EXPECT_TRUE(field.client.calls.empty());
    EXPECT_EQ(historyIDs(), QStringList{"u1"});
    EXPECT_TRUE(state.routes().isEmpty());
}

TEST_F(RoutingTest, PausedKeepsFinalsButTypesNothing)
{
    Session field(state);
    field.controller->activateServer();
    state.setPaused(true);

    state.consume(QList<Transcript>{event("u1", "一"), finalEvent("u1", "一二"), finalEvent("u1", "一二"),
                                    finalEvent("u2", "三")});

    EXPECT_TRUE(field.client.calls.empty());
    EXPECT_EQ(historyIDs(), (QStringList{"u2", "u1"}));
    EXPECT_EQ(shell.idleShows, 3); // the repeated final has no effect at all
    EXPECT_TRUE(state.routes().isEmpty());
}

TEST_F(RoutingTest, EventsThreeSecondsOldAreNotTyped)
{
    Session field(state);
    field.controller->activateServer();

    state.consume(event("stale", "旧", false, 3000));
    EXPECT_TRUE(field.client.calls.empty());
    EXPECT_EQ(shell.idleShows, 1);

    state.consume(event("fresh", "新", false, 2999));
    state.consume(event("ahead", "前", false, -60000)); // clock skew: the phone is ahead
    EXPECT_EQ(field.client.calls, (std::vector<ClientCall>{marked("新", 1), marked("前", 1)}));

    state.consume(finalEvent("stale", "旧的", 4000));
    EXPECT_EQ(historyIDs(), QStringList{"stale"});
    EXPECT_FALSE(state.routes().contains(QStringLiteral("stale")));
    EXPECT_EQ(shell.idleShows, 2);
}

TEST_F(RoutingTest, HundredAndFirstFinalDropsTheOldest)
{
    for (int i = 1; i <= 101; ++i)
        state.consume(finalEvent(QString::number(i), QString::number(i), 10000));
    ASSERT_EQ(state.history().size(), 100);
    EXPECT_EQ(state.history().front().id(), QStringLiteral("101"));
    EXPECT_EQ(state.history().back().id(), QStringLiteral("2"));
}

TEST_F(RoutingTest, MoreThanTwoHundredOpenRoutesAreForgotten)
{
    Session first(state);
    first.controller->activateServer();
    // Bound to the first field while paused: the routes pile up.
    state.setPaused(true);
    for (int i = 0; i < 199; ++i)
        state.consume(event(QStringLiteral("open-%1").arg(i), QStringLiteral("x")));
    state.setPaused(false);
    state.consume(event("open-199", "x")); // two hundred are kept
    EXPECT_EQ(state.routes().size(), 200);

    Session second(state);
    first.controller->deactivateServer();
    second.controller->activateServer();
    state.consume(event("trigger", "t"));
    EXPECT_TRUE(state.routes().isEmpty());

    // Bound afresh at its next event, to the field focused now.
    state.consume(event("open-0", "xy"));
    EXPECT_EQ(second.client.calls, (std::vector<ClientCall>{marked("t", 1), marked("xy", 2)}));
    EXPECT_EQ(first.client.calls, (std::vector<ClientCall>{marked("x", 1), marked("", 0)}));
}

TEST_F(RoutingTest, SessionEndWithoutUtteranceTakesInterimTextAway)
{
    Transcript end;
    end.type = QStringLiteral("session_end");
    state.consume(end); // without focus: nothing to do
    EXPECT_EQ(shell.idleShows, 0);

    Session field(state);
    field.controller->activateServer();
    state.consume(event("u1", "半句"));
    state.consume(end);
    EXPECT_EQ(field.client.calls, (std::vector<ClientCall>{marked("半句", 2), marked("", 0)}));
    EXPECT_TRUE(state.history().isEmpty());

    // Other events without utterance or text are ignored; one with both is an
    // ordinary transcript, whatever its type.
    Transcript other = end;
    other.type = QStringLiteral("ping");
    Transcript textless = event("u2", "");
    textless.text.reset();
    Transcript spoken = finalEvent("u3", "完");
    spoken.type = QStringLiteral("session_end");
    state.consume(QList<Transcript>{other, textless, spoken});
    EXPECT_EQ(field.client.calls,
              (std::vector<ClientCall>{marked("半句", 2), marked("", 0), inserted("完")}));
    EXPECT_FALSE(state.routes().contains(QStringLiteral("u2")));
    EXPECT_EQ(historyIDs(), QStringList{"u3"});
}

} // namespace
} // namespace tellwire
