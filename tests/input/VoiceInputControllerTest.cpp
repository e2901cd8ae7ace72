// The controller of one input session: voice delivery, focus, and the keys
// and pinyin composition, driven through recording stand-ins.

#include "input/KeyEvent.h"
#include "input/Pinyin.h"
#include "input/VoiceInputController.h"
#include "relay/Defaults.h"
#include "relay/DesktopState.h"
#include "relay/SecretStore.h"
#include "support/Fakes.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

namespace tellwire {
namespace {

using namespace tellwire::testing;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

// Keys typed the way the IBus adapter hands them over.
KeyEvent keyDown(std::uint16_t code, const QString& characters, std::uint64_t flags = 0)
{
    KeyEvent event;
    event.keyCode = code;
    event.characters = characters;
    event.modifierFlags = flags;
    return event;
}

// A key with a character and no special code: letters, digits, punctuation.
KeyEvent charKey(QChar c, std::uint64_t flags = 0)
{
    return keyDown(KeyEvent::kOther, QString(c), flags);
}

KeyEvent space(std::uint64_t flags = 0) { return keyDown(KeyEvent::kSpace, QStringLiteral(" "), flags); }
KeyEvent returnKey() { return keyDown(KeyEvent::kReturn, QStringLiteral("\r")); }
KeyEvent escape() { return keyDown(KeyEvent::kEscape, QStringLiteral("\x1b")); }
KeyEvent backspace() { return keyDown(KeyEvent::kDelete, QStringLiteral("\b")); }

class ControllerTest : public ::testing::Test {
protected:
    // nihao as a whole and its pieces; "a" and "x" are no codes.
    static constexpr char kDictionary[] = "...\n"
                                          "拟好\tni hao\t5\n"
                                          "你好\tni hao\t10\n"
                                          "你\tni\t9\n"
                                          "泥\tni\t5\n"
                                          "好\thao\t9\n"
                                          "哈\tha\t5\n"
                                          "哦\to\t1\n";

    MemorySecretStore secrets;
    MemoryDefaults defaults;
    DesktopState state{secrets, defaults, nullptr};
    RecordingShell shell;
    RecordingClient client;
    RecordingCandidateWindow* window = nullptr;
    Pinyin dictionary = Pinyin::fromBytes(QByteArray(kDictionary));

    // The controller under test, its focus gained.
    std::unique_ptr<VoiceInputController> controller;

    void SetUp() override
    {
        controller = makeController(&client);
        controller->activateServer();
    }

    std::unique_ptr<VoiceInputController> makeController(TextClient* withClient,
                                                         const Pinyin* withDictionary = nullptr)
    {
        auto controller = std::make_unique<VoiceInputController>(
            state, &shell,
            [this] {
                auto made = std::make_unique<RecordingCandidateWindow>();
                window = made.get();
                return made;
            },
            nullptr, withDictionary ? withDictionary : &dictionary);
        controller->setClient(withClient);
        return controller;
    }

    static bool press(VoiceInputController& controller, const KeyEvent& event)
    {
        return controller.handle(&event);
    }

    // Types each character as its own key-down; true when every one was consumed.
    static bool type(VoiceInputController& controller, const QString& letters)
    {
        bool consumed = true;
        for (QChar c : letters)
            consumed = press(controller, charKey(c)) && consumed;
        return consumed;
    }

    bool press(const KeyEvent& event) { return press(*controller, event); }
    bool type(const QString& letters) { return type(*controller, letters); }
};

class VoiceInputControllerTest : public ControllerTest {};
class KeyHandlingTest : public ControllerTest {};

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
