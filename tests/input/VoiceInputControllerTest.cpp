#include "ControllerFixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace tellwire {
namespace {

using namespace tellwire::testing;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

class VoiceInputControllerTest : public ControllerTest {
protected:
    std::unique_ptr<VoiceInputController> controller = makeController(&client);

    void SetUp() override { controller->activateServer(); }
};

TEST_F(VoiceInputControllerTest, InterimsReplaceTheMarkedTextAndTheFinalIsInserted)
{
    controller->voice(QStringLiteral("你"), false, QStringLiteral("u1"));
    controller->voice(QStringLiteral("你好"), false, QStringLiteral("u1"));
    // Another utterance takes the marked text over; the caret counts UTF-16 units.
    controller->voice(QStringLiteral("笑😀"), false, QStringLiteral("u2"));
    EXPECT_EQ(controller->voiceID(), QStringLiteral("u2"));
    controller->voice(QStringLiteral("笑😀。"), true, QStringLiteral("u2"));

    EXPECT_THAT(client.calls, ElementsAre(marked(QStringLiteral("你"), 1), marked(QStringLiteral("你好"), 2),
                                          marked(QStringLiteral("笑😀"), 3), inserted(QStringLiteral("笑😀。"))));
    EXPECT_EQ(client.markedText, QString());
    EXPECT_EQ(controller->voiceID(), std::nullopt);
}

TEST_F(VoiceInputControllerTest, WithoutAClientNothingIsShownButTheStateFollows)
{
    controller->setClient(nullptr);
    controller->voice(QStringLiteral("你"), false, QStringLiteral("u1"));
    EXPECT_EQ(controller->voiceID(), QStringLiteral("u1"));
    controller->voice(QStringLiteral("你好"), true, QStringLiteral("u1"));
    EXPECT_EQ(controller->voiceID(), std::nullopt);

    EXPECT_TRUE(type(*controller, QStringLiteral("nihao")));
    controller->voice(QStringLiteral("语音"), true, QStringLiteral("u2"));
    EXPECT_TRUE(press(*controller, space()));
    EXPECT_EQ(controller->pinyin(), QString());
    EXPECT_THAT(controller->queued(), IsEmpty());
    EXPECT_FALSE(window->visible);
    EXPECT_THAT(client.calls, IsEmpty());
}

TEST_F(VoiceInputControllerTest, AnInterruptedUtteranceStaysOffScreenUntilItsFinal)
{
    controller->voice(QStringLiteral("你"), false, QStringLiteral("U"));
    EXPECT_TRUE(press(*controller, charKey(u'n')));
    EXPECT_EQ(client.markedText, QStringLiteral("n"));
    EXPECT_EQ(controller->voiceID(), std::nullopt);
    EXPECT_TRUE(controller->discarded().contains(QStringLiteral("U")));

    controller->voice(QStringLiteral("你好"), false, QStringLiteral("U"));
    controller->voice(QStringLiteral("你好。"), true, QStringLiteral("U")); // swallowed, not held back
    EXPECT_THAT(controller->queued(), IsEmpty());
    EXPECT_TRUE(press(*controller, charKey(u'i')));
    EXPECT_TRUE(press(*controller, space()));
    EXPECT_EQ(client.committed, QStringLiteral("你"));
    EXPECT_THAT(controller->discarded(), IsEmpty());

    controller->voice(QStringLiteral("下一句"), false, QStringLiteral("V"));
    EXPECT_EQ(client.markedText, QStringLiteral("下一句"));

    // In English mode the key reaches the application and still ends the utterance.
    state.setChinese(false);
    EXPECT_FALSE(press(*controller, charKey(u'x')));
    EXPECT_EQ(client.markedText, QString());
    EXPECT_TRUE(controller->discarded().contains(QStringLiteral("V")));
}

TEST_F(VoiceInputControllerTest, AnAbandonedUtteranceShowsAgainAtItsNextInterim)
{
    controller->voice(QStringLiteral("你"), false, QStringLiteral("U"));
    controller->abandonVoice();
    EXPECT_EQ(client.markedText, QString());
    controller->voice(QStringLiteral("你好"), false, QStringLiteral("U"));
    EXPECT_EQ(client.markedText, QStringLiteral("你好"));
}

TEST_F(VoiceInputControllerTest, CommitCompositionDropsInterimTextAndKeepsHeldFinals)
{
    controller->voice(QStringLiteral("说到一半"), false, QStringLiteral("u1"));
    controller->commitComposition();
    EXPECT_THAT(client.calls, ElementsAre(marked(QStringLiteral("说到一半"), 4), marked(QString(), 0)));
    EXPECT_EQ(controller->voiceID(), std::nullopt);

    ASSERT_TRUE(type(*controller, QStringLiteral("hao")));
    controller->voice(QStringLiteral("一"), true, QStringLiteral("u2"));
    controller->commitComposition();
    EXPECT_EQ(client.committed, QStringLiteral("好"));
    EXPECT_EQ(controller->queued().size(), 1u);
    controller->flush();
    EXPECT_EQ(client.committed, QStringLiteral("好一"));
}

TEST_F(VoiceInputControllerTest, FinalsDuringACompositionFollowWhateverEndsIt)
{
    ASSERT_TRUE(type(*controller, QStringLiteral("ni")));
    const auto before = client.calls;
    controller->voice(QStringLiteral("一半"), false, QStringLiteral("u1"));
    controller->voice(QStringLiteral("第一句。"), true, QStringLiteral("u1"));
    controller->voice(QStringLiteral("第二句。"), true, QStringLiteral("u2"));
    controller->flush(); // the composition is still open
    EXPECT_EQ(client.calls, before);

    EXPECT_TRUE(press(*controller, charKey(u'2')));
    EXPECT_THAT(std::vector(client.calls.end() - 3, client.calls.end()),
                ElementsAre(inserted(QStringLiteral("泥")), inserted(QStringLiteral("第一句。")),
                            inserted(QStringLiteral("第二句。"))));

    // A click on a candidate delivers held text the same way.
    ASSERT_TRUE(type(*controller, QStringLiteral("hao")));
    controller->voice(QStringLiteral("第三句。"), true, QStringLiteral("u3"));
    controller->candidateSelected(std::nullopt);
    EXPECT_EQ(controller->pinyin(), QStringLiteral("hao"));
    controller->candidateSelected(QStringLiteral("好"));
    EXPECT_EQ(controller->pinyin(), QString());
    EXPECT_FALSE(window->visible);
    EXPECT_EQ(client.committed, QStringLiteral("泥第一句。第二句。好第三句。"));
}

TEST_F(VoiceInputControllerTest, AtMostThirtyFinalsAreHeldDuringOneComposition)
{
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

TEST_F(VoiceInputControllerTest, FlushDeliversOnlyForTheActiveController)
{
    RecordingClient otherClient;
    auto other = makeController(&otherClient);
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

TEST_F(VoiceInputControllerTest, DeactivationCommitsTheCompositionAndDropsVoice)
{
    ASSERT_TRUE(type(*controller, QStringLiteral("hao")));
    controller->voice(QStringLiteral("一"), true, QStringLiteral("u1"));
    controller->voice(QStringLiteral("二"), true, QStringLiteral("u2"));
    EXPECT_TRUE(window->visible);

    controller->deactivateServer();
    EXPECT_EQ(client.committed, QStringLiteral("好"));
    EXPECT_EQ(client.markedText, QString());
    EXPECT_THAT(controller->queued(), IsEmpty());
    EXPECT_FALSE(window->visible);
    EXPECT_EQ(state.active(), nullptr);
    EXPECT_EQ(shell.idleShows, 1);

    // Interim text leaves the screen untyped, and the utterance is not discarded.
    controller->activateServer();
    controller->voice(QStringLiteral("临时"), false, QStringLiteral("u3"));
    controller->deactivateServer();
    EXPECT_EQ(client.markedText, QString());
    EXPECT_EQ(client.committed, QStringLiteral("好"));
    EXPECT_EQ(controller->voiceID(), std::nullopt);
    EXPECT_THAT(controller->discarded(), IsEmpty());

    // A controller that took the focus meanwhile stays active.
    RecordingClient otherClient;
    auto other = makeController(&otherClient);
    controller->activateServer();
    other->activateServer();
    controller->deactivateServer();
    EXPECT_EQ(state.active(), other.get());
}

TEST_F(VoiceInputControllerTest, EveryFocusChangeStartsANewEpoch)
{
    const QUuid identity = controller->identity();
    const QUuid focused = controller->focusEpoch();
    controller->deactivateServer();
    const QUuid unfocused = controller->focusEpoch();
    controller->activateServer();
    EXPECT_NE(focused, unfocused);
    EXPECT_NE(controller->focusEpoch(), unfocused);
    EXPECT_NE(controller->focusEpoch(), focused);
    EXPECT_EQ(controller->identity(), identity);
    EXPECT_NE(makeController(&client)->identity(), identity);
}

TEST_F(VoiceInputControllerTest, ActivationHidesThePanelAndMakesTheCandidateWindowOnce)
{
    int made = 0;
    VoiceInputController fresh(state, &shell, [&made]() -> std::unique_ptr<CandidateWindow> {
        ++made;
        return made == 1 ? nullptr : std::make_unique<RecordingCandidateWindow>();
    });
    const QUuid initial = fresh.focusEpoch();
    const int hides = shell.panelHides;
    fresh.activateServer();
    EXPECT_NE(fresh.focusEpoch(), initial);
    EXPECT_EQ(shell.panelHides, hides + 1);
    EXPECT_EQ(fresh.candidatePanel(), nullptr); // the first try yielded nothing
    fresh.activateServer();
    EXPECT_NE(fresh.candidatePanel(), nullptr);
    fresh.activateServer();
    EXPECT_EQ(made, 2);
    EXPECT_EQ(state.active(), &fresh);
}

} // namespace
} // namespace tellwire
