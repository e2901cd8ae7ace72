#include "ControllerFixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace tellwire {
namespace {

using namespace tellwire::testing;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

class KeyHandlingTest : public ControllerTest {
protected:
    std::unique_ptr<VoiceInputController> controller = makeController(&client);

    void SetUp() override { controller->activateServer(); }

    bool press(const KeyEvent& event) { return ControllerTest::press(*controller, event); }
    bool type(const QString& letters) { return ControllerTest::type(*controller, letters); }
};

TEST_F(KeyHandlingTest, OnlyKeyDownsAreHandled)
{
    EXPECT_EQ(controller->recognizedEvents(), 0x400u);
    EXPECT_FALSE(controller->handle(nullptr));
    KeyEvent release = charKey(u'n');
    release.keyDown = false;
    EXPECT_FALSE(press(release));
    EXPECT_EQ(controller->pinyin(), QString());
    EXPECT_THAT(client.calls, IsEmpty());
}

TEST_F(KeyHandlingTest, LettersComposeAsMarkedTextWithCandidatesBelow)
{
    EXPECT_TRUE(type(QStringLiteral("ni")));
    EXPECT_THAT(client.calls, ElementsAre(marked(QStringLiteral("n"), 1), marked(QStringLiteral("ni"), 2)));
    EXPECT_EQ(controller->candidates(), QStringList({QStringLiteral("你"), QStringLiteral("泥")}));
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->visible);
    EXPECT_EQ(window->updates, 2);

    // Uppercase (Shift or Caps Lock) composes lowercase; the apostrophe is kept on screen.
    EXPECT_TRUE(press(charKey(u'\'')));
    EXPECT_TRUE(press(charKey(u'H', KeyEvent::kShift)));
    EXPECT_TRUE(type(QStringLiteral("AO")));
    EXPECT_EQ(controller->pinyin(), QStringLiteral("ni'hao"));
    EXPECT_EQ(client.markedText, QStringLiteral("ni'hao"));
    EXPECT_EQ(controller->candidates(), QStringList({QStringLiteral("你好"), QStringLiteral("拟好")}));
    EXPECT_EQ(client.committed, QString());
}

TEST_F(KeyHandlingTest, SpaceAndReturnCommitTheFirstCandidate)
{
    type(QStringLiteral("nihao"));
    EXPECT_TRUE(press(space()));
    EXPECT_EQ(client.committed, QStringLiteral("你好"));
    EXPECT_EQ(controller->pinyin(), QString());
    EXPECT_THAT(controller->candidates(), IsEmpty());
    EXPECT_FALSE(window->visible);

    type(QStringLiteral("hao"));
    EXPECT_TRUE(press(returnKey())); // no newline reaches the application
    EXPECT_EQ(client.committed, QStringLiteral("你好好"));

    // Without a composition both belong to the application.
    EXPECT_FALSE(press(space()));
    EXPECT_FALSE(press(returnKey()));
    EXPECT_EQ(client.committed, QStringLiteral("你好好"));
}

TEST_F(KeyHandlingTest, DigitsPickACandidateOnlyWhenOneIsThere)
{
    type(QStringLiteral("nihao"));
    EXPECT_TRUE(press(charKey(u'2')));
    EXPECT_EQ(client.committed, QStringLiteral("拟好"));

    // 0 is no selection: the first candidate is committed and the 0 typed after it.
    type(QStringLiteral("nihao"));
    EXPECT_FALSE(press(charKey(u'0')));
    EXPECT_EQ(client.committed, QStringLiteral("拟好你好"));

    type(QStringLiteral("nihao"));
    EXPECT_FALSE(press(charKey(u'3')));
    EXPECT_EQ(client.committed, QStringLiteral("拟好你好你好"));

    // No candidates at all: the raw letters, and the digit passes on.
    type(QStringLiteral("xa"));
    EXPECT_THAT(controller->candidates(), IsEmpty());
    EXPECT_TRUE(window->visible);
    EXPECT_FALSE(press(charKey(u'1')));
    EXPECT_EQ(client.committed, QStringLiteral("拟好你好你好xa"));

    EXPECT_FALSE(press(charKey(u'1'))); // no composition: just a digit
    EXPECT_EQ(client.committed, QStringLiteral("拟好你好你好xa"));
}

TEST_F(KeyHandlingTest, ArrowsAndOtherKeysCommitAndPassOn)
{
    for (const std::uint16_t arrow : {KeyEvent::kLeft, KeyEvent::kRight, KeyEvent::kDown, KeyEvent::kUp}) {
        type(QStringLiteral("ni"));
        EXPECT_FALSE(press(keyDown(arrow, QString())));
        EXPECT_EQ(controller->pinyin(), QString());
    }
    EXPECT_EQ(client.committed, QStringLiteral("你你你你"));

    type(QStringLiteral("hao"));
    EXPECT_FALSE(press(charKey(u',')));
    type(QStringLiteral("hao"));
    EXPECT_FALSE(press(keyDown(KeyEvent::kKeypadEnter, QStringLiteral("\r"))));
    EXPECT_EQ(client.committed, QStringLiteral("你你你你好好"));

    EXPECT_FALSE(press(keyDown(KeyEvent::kLeft, QString())));
    EXPECT_FALSE(press(charKey(u'.')));
    EXPECT_FALSE(press(keyDown(KeyEvent::kOther, QString()))); // a key without a character
    EXPECT_EQ(client.committed, QStringLiteral("你你你你好好"));
}

TEST_F(KeyHandlingTest, DeleteShortensTheCompositionAndClosesItWhenEmpty)
{
    EXPECT_FALSE(press(backspace()));

    type(QStringLiteral("nih"));
    controller->voice(QStringLiteral("语音"), true, QStringLiteral("u1"));
    EXPECT_TRUE(press(backspace()));
    EXPECT_EQ(client.markedText, QStringLiteral("ni"));
    EXPECT_EQ(controller->candidates(), QStringList({QStringLiteral("你"), QStringLiteral("泥")}));
    EXPECT_TRUE(press(backspace()));
    EXPECT_TRUE(press(backspace()));
    EXPECT_EQ(controller->pinyin(), QString());
    EXPECT_EQ(client.calls.back(), inserted(QStringLiteral("语音")));
    EXPECT_EQ(client.calls.at(client.calls.size() - 2), marked(QString(), 0));
    EXPECT_FALSE(window->visible);
    EXPECT_FALSE(press(backspace()));
}

TEST_F(KeyHandlingTest, EscapeDropsTheCompositionAndHeldVoiceText)
{
    type(QStringLiteral("nihao"));
    controller->voice(QStringLiteral("语音"), true, QStringLiteral("u1"));
    EXPECT_TRUE(press(escape()));
    EXPECT_EQ(controller->pinyin(), QString());
    EXPECT_EQ(client.markedText, QString());
    EXPECT_EQ(client.committed, QString());
    EXPECT_THAT(controller->queued(), IsEmpty());
    EXPECT_FALSE(window->visible);

    // With no composition open it is still consumed, and still drops held text.
    type(QStringLiteral("hao"));
    controller->voice(QStringLiteral("语音"), true, QStringLiteral("u2"));
    controller->commitComposition(); // commits, keeps the held text for later
    ASSERT_EQ(controller->queued().size(), 1u);
    EXPECT_TRUE(press(escape()));
    EXPECT_THAT(controller->queued(), IsEmpty());
    EXPECT_EQ(client.committed, QStringLiteral("好"));

    state.setChinese(false);
    EXPECT_FALSE(press(escape()));
}

TEST_F(KeyHandlingTest, ShiftSpaceCommitsAndSwitchesTheSharedMode)
{
    RecordingClient otherClient;
    auto other = makeController(&otherClient);

    type(QStringLiteral("nihao"));
    EXPECT_TRUE(press(space(KeyEvent::kShift)));
    EXPECT_EQ(client.committed, QStringLiteral("你好"));
    EXPECT_FALSE(state.chinese());

    // English everywhere: letters reach the application untouched.
    EXPECT_FALSE(press(charKey(u'n')));
    EXPECT_FALSE(ControllerTest::press(*other, charKey(u'n')));
    EXPECT_EQ(otherClient.markedText, QString());
    EXPECT_FALSE(press(space()));

    EXPECT_TRUE(ControllerTest::press(*other, space(KeyEvent::kShift)));
    EXPECT_TRUE(state.chinese());
    EXPECT_TRUE(press(charKey(u'n')));
    EXPECT_EQ(client.markedText, QStringLiteral("n"));
}

TEST_F(KeyHandlingTest, ShiftSpaceLeavesInterimVoiceTextAlone)
{
    controller->voice(QStringLiteral("说话中"), false, QStringLiteral("u1"));
    EXPECT_TRUE(press(space(KeyEvent::kShift)));
    EXPECT_FALSE(state.chinese());
    EXPECT_EQ(client.markedText, QStringLiteral("说话中"));
    EXPECT_EQ(controller->voiceID(), QStringLiteral("u1"));
    EXPECT_THAT(controller->discarded(), IsEmpty());
}

TEST_F(KeyHandlingTest, CommandAndControlKeysBelongToTheApplication)
{
    type(QStringLiteral("ni"));
    EXPECT_FALSE(press(charKey(u'c', KeyEvent::kCommand)));
    EXPECT_FALSE(press(charKey(u'v', KeyEvent::kControl)));
    EXPECT_FALSE(press(space(KeyEvent::kControl | KeyEvent::kShift)));
    EXPECT_EQ(controller->pinyin(), QStringLiteral("ni"));
    EXPECT_TRUE(state.chinese());
    EXPECT_EQ(client.committed, QString());

    // They do interrupt an utterance shown as interim text.
    press(escape());
    controller->voice(QStringLiteral("说话中"), false, QStringLiteral("u1"));
    EXPECT_FALSE(press(charKey(u'c', KeyEvent::kCommand)));
    EXPECT_EQ(client.markedText, QString());
    EXPECT_TRUE(controller->discarded().contains(QStringLiteral("u1")));
}

TEST_F(KeyHandlingTest, ATypedKeyEndsTheInterimUtteranceForGood)
{
    controller->voice(QStringLiteral("说话"), false, QStringLiteral("u1"));
    EXPECT_TRUE(press(charKey(u'n')));
    EXPECT_EQ(controller->voiceID(), std::nullopt);
    EXPECT_TRUE(controller->discarded().contains(QStringLiteral("u1")));
    EXPECT_EQ(client.markedText, QStringLiteral("n"));

    controller->voice(QStringLiteral("说话中。"), true, QStringLiteral("u1"));
    EXPECT_TRUE(press(charKey(u'i')));
    EXPECT_TRUE(press(space()));
    EXPECT_EQ(client.committed, QStringLiteral("你"));
    EXPECT_THAT(controller->discarded(), IsEmpty());
}

TEST_F(KeyHandlingTest, TheSixtyFifthLetterIsSwallowed)
{
    const QString sixtyFour(64, u'a');
    EXPECT_TRUE(type(sixtyFour));
    const auto calls = client.calls.size();
    EXPECT_TRUE(press(charKey(u'b')));
    EXPECT_EQ(controller->pinyin(), sixtyFour);
    EXPECT_EQ(client.calls.size(), calls);
    EXPECT_EQ(client.markedText, sixtyFour);
    EXPECT_TRUE(press(space()));
    EXPECT_EQ(client.committed, sixtyFour);
}

TEST_F(KeyHandlingTest, VoiceTextHeldDuringACompositionFollowsTheCommit)
{
    type(QStringLiteral("ni"));
    controller->voice(QStringLiteral("一半"), false, QStringLiteral("u1"));
    controller->voice(QStringLiteral("第一句。"), true, QStringLiteral("u1"));
    controller->voice(QStringLiteral("第二句。"), true, QStringLiteral("u2"));
    EXPECT_EQ(client.markedText, QStringLiteral("ni"));
    EXPECT_TRUE(press(charKey(u'2')));
    EXPECT_THAT(std::vector(client.calls.end() - 3, client.calls.end()),
                ElementsAre(inserted(QStringLiteral("泥")), inserted(QStringLiteral("第一句。")),
                            inserted(QStringLiteral("第二句。"))));

    // A click on a candidate delivers held text the same way.
    type(QStringLiteral("hao"));
    controller->voice(QStringLiteral("第三句。"), true, QStringLiteral("u3"));
    controller->candidateSelected(std::nullopt);
    EXPECT_EQ(controller->pinyin(), QStringLiteral("hao"));
    controller->candidateSelected(QStringLiteral("好"));
    EXPECT_EQ(controller->pinyin(), QString());
    EXPECT_FALSE(window->visible);
    EXPECT_EQ(client.committed, QStringLiteral("泥第一句。第二句。好第三句。"));
}

TEST_F(KeyHandlingTest, AnApostropheAloneCommitsItself)
{
    EXPECT_TRUE(press(charKey(u'\'')));
    EXPECT_EQ(client.markedText, QStringLiteral("'"));
    EXPECT_TRUE(press(space()));
    EXPECT_EQ(client.committed, QStringLiteral("'"));
}

TEST_F(KeyHandlingTest, WithoutAClientTheCompositionStillCloses)
{
    controller->setClient(nullptr);
    EXPECT_TRUE(type(QStringLiteral("nihao")));
    EXPECT_TRUE(press(space()));
    EXPECT_EQ(controller->pinyin(), QString());
    EXPECT_FALSE(window->visible);
}

TEST_F(KeyHandlingTest, AMissingDictionaryTurnsChineseModeIntoPassThrough)
{
    const Pinyin missing;
    auto broken = makeController(&client, &missing);
    broken->activateServer();
    broken->voice(QStringLiteral("说话"), false, QStringLiteral("u1"));

    EXPECT_FALSE(ControllerTest::press(*broken, charKey(u'n')));
    EXPECT_EQ(state.error(), QStringLiteral("拼音词库缺失，请重新安装完整客户端"));
    EXPECT_TRUE(broken->discarded().contains(QStringLiteral("u1")));
    EXPECT_EQ(broken->pinyin(), QString());
    EXPECT_EQ(client.markedText, QString());
    EXPECT_FALSE(ControllerTest::press(*broken, escape()));

    // Said again on every key, even after something else took the error line.
    state.setError(QString());
    EXPECT_FALSE(ControllerTest::press(*broken, space()));
    EXPECT_EQ(state.error(), QStringLiteral("拼音词库缺失，请重新安装完整客户端"));

    // English mode and the mode switch do not need the dictionary.
    state.setError(QString());
    EXPECT_TRUE(ControllerTest::press(*broken, space(KeyEvent::kShift)));
    EXPECT_FALSE(ControllerTest::press(*broken, charKey(u'n')));
    EXPECT_EQ(state.error(), QString());
}

TEST_F(KeyHandlingTest, WithoutAnInjectedDictionaryTheInstalledOneIsUsed)
{
    VoiceInputController plain(state, &shell);
    plain.setClient(&client);
    plain.activateServer();
    EXPECT_TRUE(ControllerTest::type(plain, QStringLiteral("nihao")));
    ASSERT_FALSE(plain.candidates().isEmpty());
    EXPECT_EQ(plain.candidates().front(), QStringLiteral("你好"));
}

} // namespace
} // namespace tellwire
