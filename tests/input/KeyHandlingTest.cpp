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

TEST_F(KeyHandlingTest, KeysThatEndACompositionCommitThenPassOnOrNot)
{
    const KeyEvent left = keyDown(KeyEvent::kLeft, QString());
    const struct {
        const char* letters;
        KeyEvent key;
        bool consumed;
        const char* committed;
    } cases[] = {
        {"nihao", space(), true, "你好"},
        {"hao", returnKey(), true, "好"}, // no newline reaches the application
        {"nihao", charKey(u'2'), true, "拟好"},
        {"nihao", charKey(u'0'), false, "你好"}, // no selection: the first candidate, then the 0
        {"nihao", charKey(u'3'), false, "你好"}, // beyond the candidates
        {"xa", charKey(u'1'), false, "xa"}, // no candidates: the raw letters, then the digit
        {"'", space(), true, "'"}, // an apostrophe alone commits itself
        {"ni", left, false, "你"}, // committed first, so the caret moves past it
        {"ni", keyDown(KeyEvent::kRight, QString()), false, "你"},
        {"ni", keyDown(KeyEvent::kDown, QString()), false, "你"},
        {"ni", keyDown(KeyEvent::kUp, QString()), false, "你"},
        {"hao", charKey(u','), false, "好"},
        {"hao", keyDown(KeyEvent::kKeypadEnter, QStringLiteral("\r")), false, "好"},
        // Without a composition they all belong to the application.
        {"", space(), false, ""},
        {"", returnKey(), false, ""},
        {"", charKey(u'1'), false, ""},
        {"", left, false, ""},
        {"", charKey(u'.'), false, ""},
        {"", keyDown(KeyEvent::kOther, QString()), false, ""},
        {"", backspace(), false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "\"" << c.letters << "\" then key " << c.key.keyCode << " "
                                          << c.key.characters.value_or(QString()).toStdString());
        RecordingClient fresh;
        auto composing = makeController(&fresh);
        composing->activateServer();
        EXPECT_TRUE(ControllerTest::type(*composing, QString::fromUtf8(c.letters)));
        // The window shows even when nothing was found.
        EXPECT_EQ(window->visible, *c.letters != '\0');
        EXPECT_EQ(ControllerTest::press(*composing, c.key), c.consumed);
        EXPECT_EQ(fresh.committed, QString::fromUtf8(c.committed));
        EXPECT_EQ(composing->pinyin(), QString());
        EXPECT_FALSE(window->visible);
    }
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
    // Interim voice text is left alone by the switch.
    controller->voice(QStringLiteral("说话中"), false, QStringLiteral("u1"));
    EXPECT_TRUE(press(space(KeyEvent::kShift)));
    EXPECT_FALSE(state.chinese());
    EXPECT_EQ(client.markedText, QStringLiteral("说话中"));
    EXPECT_EQ(controller->voiceID(), QStringLiteral("u1"));
    EXPECT_THAT(controller->discarded(), IsEmpty());
    EXPECT_TRUE(press(space(KeyEvent::kShift)));
    controller->abandonVoice();

    RecordingClient otherClient;
    auto other = makeController(&otherClient);

    EXPECT_TRUE(type(QStringLiteral("nihao")));
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
