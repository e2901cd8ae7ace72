#include "ControllerFixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace tellwire {
namespace {

using namespace tellwire::testing;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

class VoiceInputControllerTest : public ControllerTest {};

TEST_F(VoiceInputControllerTest, InterimsReplaceMarkedTextAndFinalIsInserted)
{
    auto controller = makeController(&client);
    controller->activateServer();

    controller->voice(QStringLiteral("你"), false, QStringLiteral("u1"));
    controller->voice(QStringLiteral("你好"), false, QStringLiteral("u1"));
    EXPECT_EQ(controller->voiceID(), QStringLiteral("u1"));
    controller->voice(QStringLiteral("你好。"), true, QStringLiteral("u1"));

    EXPECT_THAT(client.calls, ElementsAre(marked(QStringLiteral("你"), 1), marked(QStringLiteral("你好"), 2),
                                          inserted(QStringLiteral("你好。"))));
    EXPECT_EQ(client.markedText, QString());
    EXPECT_EQ(controller->voiceID(), std::nullopt);
}

TEST_F(VoiceInputControllerTest, CaretAfterCharactersBeyondBasicPlaneCountsUtf16Units)
{
    auto controller = makeController(&client);
    controller->activateServer();
    const QString text = QStringLiteral("笑😀");
    controller->voice(text, false, QStringLiteral("u1"));
    EXPECT_THAT(client.calls, ElementsAre(marked(text, 3)));
}

TEST_F(VoiceInputControllerTest, AnotherUtterancesInterimTakesOverTheMarkedText)
{
    auto controller = makeController(&client);
    controller->voice(QStringLiteral("甲"), false, QStringLiteral("A"));
    controller->voice(QStringLiteral("乙"), false, QStringLiteral("B"));
    EXPECT_EQ(controller->voiceID(), QStringLiteral("B"));
    EXPECT_EQ(client.markedText, QStringLiteral("乙"));
}

TEST_F(VoiceInputControllerTest, WithoutClientNothingIsShownButStateFollows)
{
    auto controller = makeController(nullptr);
    controller->activateServer();
    controller->voice(QStringLiteral("你"), false, QStringLiteral("u1"));
    EXPECT_EQ(controller->voiceID(), QStringLiteral("u1"));
    controller->voice(QStringLiteral("你好"), true, QStringLiteral("u1"));
    EXPECT_EQ(controller->voiceID(), std::nullopt);
}

TEST_F(VoiceInputControllerTest, InterruptedUtteranceStaysOffScreenUntilItsFinal)
{
    auto controller = makeController(&client);
    controller->activateServer();
    controller->voice(QStringLiteral("你"), false, QStringLiteral("U"));
    state.setChinese(false);
    EXPECT_FALSE(press(*controller, charKey(u'x'))); // typed through to the application
    EXPECT_EQ(client.markedText, QString());
    EXPECT_TRUE(controller->discarded().contains(QStringLiteral("U")));

    controller->voice(QStringLiteral("你好"), false, QStringLiteral("U"));
    controller->voice(QStringLiteral("你好。"), true, QStringLiteral("U"));
    EXPECT_EQ(client.committed, QString());
    EXPECT_EQ(client.markedText, QString());
    EXPECT_FALSE(controller->discarded().contains(QStringLiteral("U")));

    controller->voice(QStringLiteral("下一句"), false, QStringLiteral("V"));
    EXPECT_EQ(client.markedText, QStringLiteral("下一句"));
}

TEST_F(VoiceInputControllerTest, AbandonedUtteranceShowsAgainAtItsNextInterim)
{
    auto controller = makeController(&client);
    controller->activateServer();
    controller->voice(QStringLiteral("你"), false, QStringLiteral("U"));
    controller->abandonVoice();
    EXPECT_EQ(client.markedText, QString());
    controller->voice(QStringLiteral("你好"), false, QStringLiteral("U"));
    EXPECT_EQ(client.markedText, QStringLiteral("你好"));
}

TEST_F(VoiceInputControllerTest, CommitCompositionRemovesInterimTextInsteadOfCommittingIt)
{
    auto controller = makeController(&client);
    controller->activateServer();
    controller->voice(QStringLiteral("说到一半"), false, QStringLiteral("u1"));
    controller->commitComposition();
    EXPECT_THAT(client.calls, ElementsAre(marked(QStringLiteral("说到一半"), 4), marked(QString(), 0)));
    EXPECT_EQ(client.committed, QString());
    EXPECT_EQ(controller->voiceID(), std::nullopt);
}

TEST_F(VoiceInputControllerTest, FinalsDuringCompositionWaitAndFollowTheCommittedCandidate)
{
    auto controller = makeController(&client);
    controller->activateServer();
    ASSERT_TRUE(type(*controller, QStringLiteral("nihao")));
    const auto before = client.calls;

    controller->voice(QStringLiteral("中间"), false, QStringLiteral("u1"));
    controller->voice(QStringLiteral("语音。"), true, QStringLiteral("u1"));
    EXPECT_EQ(client.calls, before);
    EXPECT_EQ(client.markedText, QStringLiteral("nihao"));

    EXPECT_TRUE(press(*controller, space()));
    EXPECT_EQ(client.committed, QStringLiteral("你好语音。"));
    EXPECT_THAT(controller->queued(), IsEmpty());
}

TEST_F(VoiceInputControllerTest, AtMostThirtyFinalsAreHeldDuringOneComposition)
{
    auto controller = makeController(&client);
    controller->activateServer();
    ASSERT_TRUE(type(*controller, QStringLiteral("a")));
    for (int i = 1; i <= 31; ++i)
        controller->voice(QString::number(i) + QLatin1Char(' '), true, QString::number(i));
    EXPECT_EQ(controller->queued().size(), 30u);

    EXPECT_TRUE(press(*controller, returnKey())); // no candidates: the raw letters
    QString expected = QStringLiteral("a");
    for (int i = 1; i <= 30; ++i)
        expected += QString::number(i) + QLatin1Char(' ');
    EXPECT_EQ(client.committed, expected);
}

TEST_F(VoiceInputControllerTest, FlushWaitsForTheCompositionToClose)
{
    auto controller = makeController(&client);
    controller->activateServer();
    ASSERT_TRUE(type(*controller, QStringLiteral("ni")));
    controller->voice(QStringLiteral("好"), true, QStringLiteral("u1"));
    controller->flush();
    EXPECT_EQ(client.committed, QString());
    EXPECT_EQ(controller->queued().size(), 1u);
}

TEST_F(VoiceInputControllerTest, FlushDeliversOnlyForTheActiveController)
{
    RecordingClient otherClient;
    auto controller = makeController(&client);
    auto other = makeController(&otherClient);
    controller->activateServer();
    ASSERT_TRUE(type(*controller, QStringLiteral("ni")));
    controller->voice(QStringLiteral("好"), true, QStringLiteral("u1"));

    other->activateServer(); // focus moved without a deactivation in between
    EXPECT_TRUE(press(*controller, space()));
    EXPECT_EQ(client.committed, QStringLiteral("你"));
    EXPECT_EQ(controller->queued().size(), 1u);

    controller->activateServer();
    controller->flush();
    EXPECT_EQ(client.committed, QStringLiteral("你好"));
    EXPECT_EQ(otherClient.committed, QString());
}

TEST_F(VoiceInputControllerTest, DeactivationCommitsCompositionAndDropsVoice)
{
    auto controller = makeController(&client);
    controller->activateServer();
    ASSERT_TRUE(type(*controller, QStringLiteral("hao")));
    controller->voice(QStringLiteral("一"), true, QStringLiteral("u1"));
    controller->voice(QStringLiteral("二"), true, QStringLiteral("u2"));
    ASSERT_TRUE(window != nullptr);
    EXPECT_TRUE(window->visible);

    controller->deactivateServer();
    EXPECT_EQ(client.committed, QStringLiteral("好"));
    EXPECT_EQ(client.markedText, QString());
    EXPECT_THAT(controller->queued(), IsEmpty());
    EXPECT_FALSE(window->visible);
    EXPECT_EQ(state.active(), nullptr);
    EXPECT_EQ(shell.idleShows, 1);

    // Nothing held back reappears at the next focus.
    controller->activateServer();
    controller->flush();
    EXPECT_EQ(client.committed, QStringLiteral("好"));
}

TEST_F(VoiceInputControllerTest, CommitCompositionKeepsHeldFinalsForTheNextFlush)
{
    auto controller = makeController(&client);
    controller->activateServer();
    ASSERT_TRUE(type(*controller, QStringLiteral("hao")));
    controller->voice(QStringLiteral("一"), true, QStringLiteral("u1"));
    controller->commitComposition();
    EXPECT_EQ(client.committed, QStringLiteral("好"));
    EXPECT_EQ(controller->queued().size(), 1u);
    controller->flush();
    EXPECT_EQ(client.committed, QStringLiteral("好一"));
}

TEST_F(VoiceInputControllerTest, DeactivationTakesInterimTextOffTheScreen)
{
    auto controller = makeController(&client);
    controller->activateServer();
    controller->voice(QStringLiteral("临时"), false, QStringLiteral("u0"));
    controller->deactivateServer();
    EXPECT_EQ(client.markedText, QString());
    EXPECT_EQ(client.committed, QString());
    EXPECT_EQ(controller->voiceID(), std::nullopt);
    EXPECT_FALSE(controller->discarded().contains(QStringLiteral("u0")));
}

TEST_F(VoiceInputControllerTest, DeactivationLeavesAnotherActiveControllerAlone)
{
    auto first = makeController(&client);
    RecordingClient otherClient;
    auto second = makeController(&otherClient);
    first->activateServer();
    second->activateServer();
    first->deactivateServer();
    EXPECT_EQ(state.active(), second.get());
    second->deactivateServer();
    EXPECT_EQ(state.active(), nullptr);
}

TEST_F(VoiceInputControllerTest, EveryFocusChangeStartsANewEpoch)
{
    auto controller = makeController(&client);
    const QUuid identity = controller->identity();
    const QUuid initial = controller->focusEpoch();
    controller->activateServer();
    const QUuid focused = controller->focusEpoch();
    controller->deactivateServer();
    const QUuid unfocused = controller->focusEpoch();
    EXPECT_NE(initial, focused);
    EXPECT_NE(focused, unfocused);
    EXPECT_NE(initial, unfocused);
    EXPECT_EQ(controller->identity(), identity);
    EXPECT_NE(makeController(&client)->identity(), identity);
}

TEST_F(VoiceInputControllerTest, ActivationHidesThePanelAndMakesTheCandidateWindowOnce)
{
    int made = 0;
    VoiceInputController controller(state, &shell, [&made]() -> std::unique_ptr<CandidateWindow> {
        ++made;
        return made == 1 ? nullptr : std::make_unique<RecordingCandidateWindow>();
    });
    controller.activateServer();
    EXPECT_EQ(shell.panelHides, 1);
    EXPECT_EQ(controller.candidatePanel(), nullptr); // first try yielded nothing
    controller.activateServer();
    EXPECT_NE(controller.candidatePanel(), nullptr);
    controller.activateServer();
    EXPECT_EQ(made, 2);
    EXPECT_EQ(state.active(), &controller);
}

} // namespace
} // namespace tellwire
