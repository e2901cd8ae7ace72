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

// Keys as the IBus adapter hands them over.
KeyEvent key(std::uint16_t code, std::optional<QString> characters = {}, std::uint64_t flags = 0)
{
    KeyEvent event;
    event.keyCode = code;
    event.characters = std::move(characters);
    event.modifierFlags = flags;
    return event;
}
// Letters, digits, punctuation: a character and no special code.
KeyEvent charKey(QChar c, std::uint64_t flags = 0) { return key(KeyEvent::kOther, QString(c), flags); }
KeyEvent space(std::uint64_t flags = 0) { return key(KeyEvent::kSpace, QStringLiteral(" "), flags); }
const KeyEvent kReturn = key(KeyEvent::kReturn, QStringLiteral("\r"));
const KeyEvent kEscape = key(KeyEvent::kEscape, QStringLiteral("\x1b"));
const KeyEvent kBackspace = key(KeyEvent::kDelete, QStringLiteral("\b"));
const QString kNoDictionary = QStringLiteral("拼音词库缺失，请重新安装完整客户端");

bool press(VoiceInputController& controller, const KeyEvent& event) { return controller.handle(&event); }

// Each character as its own key-down; true when every one was consumed.
bool type(VoiceInputController& controller, const QString& letters)
{
    bool consumed = true;
    for (QChar c : letters)
        consumed = press(controller, charKey(c)) && consumed;
    return consumed;
}

class ControllerTest : public ::testing::Test {
protected:
    // nihao as a whole and its pieces; "a" and "x" are no codes.
    Pinyin dictionary = Pinyin::fromBytes("...\n拟好\tni hao\t5\n你好\tni hao\t10\n你\tni\t9\n泥\tni\t5\n"
                                          "好\thao\t9\n哈\tha\t5\n哦\to\t1\n");
    MemorySecretStore secrets;
    MemoryDefaults defaults;
    DesktopState state{secrets, defaults, nullptr};
    RecordingShell shell;
    RecordingClient client;
    RecordingCandidateWindow* window = nullptr; // the latest controller's
    std::unique_ptr<VoiceInputController> controller = make(&client);
    VoiceInputController& ime = *controller; // focused by SetUp

    void SetUp() override { ime.activateServer(); }

    std::unique_ptr<VoiceInputController> make(TextClient* withClient, const Pinyin* withDictionary = nullptr)
    {
        auto made = std::make_unique<VoiceInputController>(
            state, &shell,
            [this] {
                auto candidates = std::make_unique<RecordingCandidateWindow>();
                window = candidates.get();
                return candidates;
            },
            nullptr, withDictionary ? withDictionary : &dictionary);
        made->setClient(withClient);
        return made;
    }
};

using VoiceInputControllerTest = ControllerTest;
using KeyHandlingTest = ControllerTest;

TEST_F(VoiceInputControllerTest, InterimsReplaceTheMarkedTextAndTheFinalIsInserted)
{
    ime.voice(QStringLiteral("你"), false, QStringLiteral("u1"));
    ime.voice(QStringLiteral("你好"), false, QStringLiteral("u1"));
    // Another utterance takes the marked text over; the caret counts UTF-16 units.
    ime.voice(QStringLiteral("笑😀"), false, QStringLiteral("u2"));
    EXPECT_EQ(ime.voiceID(), QStringLiteral("u2"));
    ime.voice(QStringLiteral("笑😀。"), true, QStringLiteral("u2"));

    EXPECT_THAT(client.calls, ElementsAre(marked(QStringLiteral("你"), 1), marked(QStringLiteral("你好"), 2),
                                          marked(QStringLiteral("笑😀"), 3), inserted(QStringLiteral("笑😀。"))));
    EXPECT_EQ(client.markedText, QString());
    EXPECT_EQ(ime.voiceID(), std::nullopt);
}

TEST_F(VoiceInputControllerTest, WithoutAClientNothingIsShownButTheStateFollows)
{
    ime.setClient(nullptr);
    ime.voice(QStringLiteral("你"), false, QStringLiteral("u1"));
    EXPECT_EQ(ime.voiceID(), QStringLiteral("u1"));
    ime.voice(QStringLiteral("你好"), true, QStringLiteral("u1"));
    EXPECT_EQ(ime.voiceID(), std::nullopt);

    EXPECT_TRUE(type(ime, QStringLiteral("nihao")));
    ime.voice(QStringLiteral("语音"), true, QStringLiteral("u2"));
    EXPECT_TRUE(press(ime, space()));
    EXPECT_EQ(ime.pinyin(), QString());
    EXPECT_THAT(ime.queued(), IsEmpty());
    EXPECT_FALSE(window->visible);
    EXPECT_THAT(client.calls, IsEmpty());
}

TEST_F(VoiceInputControllerTest, AnInterruptedUtteranceStaysOffScreenUntilItsFinal)
{
    ime.voice(QStringLiteral("你"), false, QStringLiteral("U"));
    EXPECT_TRUE(press(ime, charKey(u'n')));
    EXPECT_EQ(client.markedText, QStringLiteral("n"));
    EXPECT_EQ(ime.voiceID(), std::nullopt);
    EXPECT_TRUE(ime.discarded().contains(QStringLiteral("U")));

    ime.voice(QStringLiteral("你好"), false, QStringLiteral("U"));
    ime.voice(QStringLiteral("你好。"), true, QStringLiteral("U")); // swallowed, not held back
    EXPECT_THAT(ime.queued(), IsEmpty());
    EXPECT_TRUE(press(ime, charKey(u'i')));
    EXPECT_TRUE(press(ime, space()));
    EXPECT_EQ(client.committed, QStringLiteral("你"));
    EXPECT_THAT(ime.discarded(), IsEmpty());

    ime.voice(QStringLiteral("下一句"), false, QStringLiteral("V"));
    EXPECT_EQ(client.markedText, QStringLiteral("下一句"));

    // In English mode the key reaches the application and still ends the utterance.
    state.setChinese(false);
    EXPECT_FALSE(press(ime, charKey(u'x')));
    EXPECT_EQ(client.markedText, QString());
    EXPECT_TRUE(ime.discarded().contains(QStringLiteral("V")));

    // Abandoned rather than interrupted, it shows again at its next interim.
    ime.voice(QStringLiteral("你"), false, QStringLiteral("W"));
    ime.abandonVoice();
    EXPECT_EQ(client.markedText, QString());
    ime.voice(QStringLiteral("你好"), false, QStringLiteral("W"));
    EXPECT_EQ(client.markedText, QStringLiteral("你好"));
}

TEST_F(VoiceInputControllerTest, CommitCompositionDropsInterimTextAndKeepsHeldFinals)
{
    ime.voice(QStringLiteral("说到一半"), false, QStringLiteral("u1"));
    ime.commitComposition();
    EXPECT_THAT(client.calls, ElementsAre(marked(QStringLiteral("说到一半"), 4), marked(QString(), 0)));
    EXPECT_EQ(ime.voiceID(), std::nullopt);

    ASSERT_TRUE(type(ime, QStringLiteral("hao")));
    ime.voice(QStringLiteral("一"), true, QStringLiteral("u2"));
    ime.commitComposition();
    EXPECT_EQ(client.committed, QStringLiteral("好"));
    EXPECT_EQ(ime.queued().size(), 1u);
    ime.flush();
    EXPECT_EQ(client.committed, QStringLiteral("好一"));
}

TEST_F(VoiceInputControllerTest, FinalsDuringACompositionFollowWhateverEndsIt)
{
    ASSERT_TRUE(type(ime, QStringLiteral("ni")));
    const auto before = client.calls;
    ime.voice(QStringLiteral("一半"), false, QStringLiteral("u1"));
    ime.voice(QStringLiteral("第一句。"), true, QStringLiteral("u1"));
    ime.voice(QStringLiteral("第二句。"), true, QStringLiteral("u2"));
    ime.flush(); // the composition is still open
    EXPECT_EQ(client.calls, before);

    EXPECT_TRUE(press(ime, charKey(u'2')));
    EXPECT_THAT(std::vector(client.calls.end() - 3, client.calls.end()),
                ElementsAre(inserted(QStringLiteral("泥")), inserted(QStringLiteral("第一句。")),
                            inserted(QStringLiteral("第二句。"))));

    // A click on a candidate delivers held text the same way.
    ASSERT_TRUE(type(ime, QStringLiteral("hao")));
    ime.voice(QStringLiteral("第三句。"), true, QStringLiteral("u3"));
    ime.candidateSelected(std::nullopt);
    EXPECT_EQ(ime.pinyin(), QStringLiteral("hao"));
    ime.candidateSelected(QStringLiteral("好"));
    EXPECT_EQ(ime.pinyin(), QString());
    EXPECT_FALSE(window->visible);
    EXPECT_EQ(client.committed, QStringLiteral("泥第一句。第二句。好第三句。"));
}

TEST_F(VoiceInputControllerTest, AtMostThirtyFinalsAreHeldDuringOneComposition)
{
    ASSERT_TRUE(type(ime, QStringLiteral("a")));
    QString expected = QStringLiteral("a");
    for (int i = 1; i <= 31; ++i) {
        ime.voice(QString::number(i) + QLatin1Char(' '), true, QString::number(i));
        if (i <= 30)
            expected += QString::number(i) + QLatin1Char(' ');
    }
    EXPECT_EQ(ime.queued().size(), 30u);
    EXPECT_TRUE(press(ime, kReturn)); // no candidates: the raw letters
    EXPECT_EQ(client.committed, expected);
}

TEST_F(VoiceInputControllerTest, FlushDeliversOnlyForTheActiveController)
{
    RecordingClient otherClient;
    auto other = make(&otherClient);
    ASSERT_TRUE(type(ime, QStringLiteral("ni")));
    ime.voice(QStringLiteral("好"), true, QStringLiteral("u1"));

    other->activateServer(); // focus moved without a deactivation in between
    EXPECT_TRUE(press(ime, space()));
    EXPECT_EQ(client.committed, QStringLiteral("你"));
    EXPECT_EQ(ime.queued().size(), 1u);

    ime.activateServer();
    ime.flush();
    EXPECT_EQ(client.committed, QStringLiteral("你好"));
    EXPECT_EQ(otherClient.committed, QString());
}

TEST_F(VoiceInputControllerTest, DeactivationCommitsTheCompositionAndDropsVoice)
{
    ASSERT_TRUE(type(ime, QStringLiteral("hao")));
    ime.voice(QStringLiteral("一"), true, QStringLiteral("u1"));
    ime.voice(QStringLiteral("二"), true, QStringLiteral("u2"));
    EXPECT_TRUE(window->visible);

    ime.deactivateServer();
    EXPECT_EQ(client.committed, QStringLiteral("好"));
    EXPECT_EQ(client.markedText, QString());
    EXPECT_THAT(ime.queued(), IsEmpty());
    EXPECT_FALSE(window->visible);
    EXPECT_EQ(state.active(), nullptr);
    EXPECT_EQ(shell.idleShows, 1);

    // Interim text leaves the screen untyped, and the utterance is not discarded.
    ime.activateServer();
    ime.voice(QStringLiteral("临时"), false, QStringLiteral("u3"));
    ime.deactivateServer();
    EXPECT_EQ(client.markedText, QString());
    EXPECT_EQ(client.committed, QStringLiteral("好"));
    EXPECT_EQ(ime.voiceID(), std::nullopt);
    EXPECT_THAT(ime.discarded(), IsEmpty());

    // A controller that took the focus meanwhile stays active.
    auto other = make(nullptr);
    ime.activateServer();
    other->activateServer();
    ime.deactivateServer();
    EXPECT_EQ(state.active(), other.get());
}

TEST_F(VoiceInputControllerTest, ActivationStartsAnEpochHidesThePanelAndMakesTheCandidateWindowOnce)
{
    int made = 0;
    VoiceInputController fresh(state, &shell, [&made]() -> std::unique_ptr<CandidateWindow> {
        return ++made == 1 ? nullptr : std::make_unique<RecordingCandidateWindow>();
    });
    const QUuid identity = fresh.identity();
    const QUuid initial = fresh.focusEpoch();
    const int hides = shell.panelHides;
    fresh.activateServer();
    const QUuid focused = fresh.focusEpoch();
    EXPECT_EQ(shell.panelHides, hides + 1);
    EXPECT_EQ(state.active(), &fresh);
    EXPECT_EQ(fresh.candidatePanel(), nullptr); // the first try yielded nothing
    fresh.deactivateServer();
    const QUuid unfocused = fresh.focusEpoch();
    fresh.activateServer();
    EXPECT_NE(fresh.candidatePanel(), nullptr);
    fresh.activateServer();
    EXPECT_EQ(made, 2);

    EXPECT_NE(focused, initial);
    EXPECT_NE(unfocused, focused);
    EXPECT_NE(fresh.focusEpoch(), unfocused);
    EXPECT_EQ(fresh.identity(), identity);
    EXPECT_NE(ime.identity(), identity);
}

TEST_F(KeyHandlingTest, LettersComposeAsMarkedTextWithCandidatesBelow)
{
    EXPECT_FALSE(ime.handle(nullptr));
    KeyEvent release = charKey(u'n');
    release.keyDown = false;
    EXPECT_FALSE(press(ime, release));
    EXPECT_THAT(client.calls, IsEmpty());

    EXPECT_TRUE(type(ime, QStringLiteral("ni")));
    EXPECT_THAT(client.calls, ElementsAre(marked(QStringLiteral("n"), 1), marked(QStringLiteral("ni"), 2)));
    EXPECT_EQ(ime.candidates(), QStringList({QStringLiteral("你"), QStringLiteral("泥")}));
    EXPECT_TRUE(window->visible);
    EXPECT_EQ(window->updates, 2);

    // Uppercase (Shift or Caps Lock) composes lowercase; the apostrophe is kept on screen.
    EXPECT_TRUE(press(ime, charKey(u'\'')));
    EXPECT_TRUE(press(ime, charKey(u'H', KeyEvent::kShift)));
    EXPECT_TRUE(type(ime, QStringLiteral("AO")));
    EXPECT_EQ(ime.pinyin(), QStringLiteral("ni'hao"));
    EXPECT_EQ(client.markedText, QStringLiteral("ni'hao"));
    EXPECT_EQ(ime.candidates(), QStringList({QStringLiteral("你好"), QStringLiteral("拟好")}));
    EXPECT_EQ(client.committed, QString());
}

TEST_F(KeyHandlingTest, KeysThatEndACompositionCommitThenPassOnOrNot)
{
    const struct {
        const char* letters;
        KeyEvent key;
        bool consumed;
        const char* committed;
    } cases[] = {
        {"nihao", space(), true, "你好"},
        {"hao", kReturn, true, "好"}, // no newline reaches the application
        {"nihao", charKey(u'2'), true, "拟好"},
        {"nihao", charKey(u'0'), false, "你好"}, // no selection: the first candidate, then the 0
        {"nihao", charKey(u'3'), false, "你好"}, // beyond the candidates
        {"xa", charKey(u'1'), false, "xa"}, // no candidates: the raw letters, then the digit
        {"'", space(), true, "'"}, // an apostrophe alone commits itself
        {"ni", key(KeyEvent::kLeft), false, "你"}, // committed first, so the caret moves past it
        {"ni", key(KeyEvent::kRight), false, "你"},
        {"ni", key(KeyEvent::kDown), false, "你"},
        {"ni", key(KeyEvent::kUp), false, "你"},
        {"hao", charKey(u','), false, "好"},
        {"hao", key(KeyEvent::kKeypadEnter, QStringLiteral("\r")), false, "好"},
        // Without a composition they all belong to the application.
        {"", space(), false, ""},
        {"", kReturn, false, ""},
        {"", charKey(u'1'), false, ""},
        {"", key(KeyEvent::kLeft), false, ""},
        {"", charKey(u'.'), false, ""},
        {"", key(KeyEvent::kOther, QString()), false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "\"" << c.letters << "\" then key " << c.key.keyCode << " "
                                          << c.key.characters.value_or(QString()).toStdString());
        RecordingClient fresh;
        auto composing = make(&fresh);
        composing->activateServer();
        EXPECT_TRUE(type(*composing, QString::fromUtf8(c.letters)));
        // The window shows even when nothing was found.
        EXPECT_EQ(window->visible, *c.letters != '\0');
        EXPECT_EQ(press(*composing, c.key), c.consumed);
        EXPECT_EQ(fresh.committed, QString::fromUtf8(c.committed));
        EXPECT_EQ(composing->pinyin(), QString());
        EXPECT_FALSE(window->visible);
    }
}

TEST_F(KeyHandlingTest, DeleteShortensTheCompositionAndClosesItWhenEmpty)
{
    EXPECT_FALSE(press(ime, kBackspace));
    type(ime, QStringLiteral("nih"));
    ime.voice(QStringLiteral("语音"), true, QStringLiteral("u1"));
    EXPECT_TRUE(press(ime, kBackspace));
    EXPECT_EQ(client.markedText, QStringLiteral("ni"));
    EXPECT_EQ(ime.candidates(), QStringList({QStringLiteral("你"), QStringLiteral("泥")}));
    EXPECT_TRUE(press(ime, kBackspace));
    EXPECT_TRUE(press(ime, kBackspace));
    EXPECT_EQ(ime.pinyin(), QString());
    EXPECT_THAT(std::vector(client.calls.end() - 2, client.calls.end()),
                ElementsAre(marked(QString(), 0), inserted(QStringLiteral("语音"))));
    EXPECT_FALSE(window->visible);
    EXPECT_FALSE(press(ime, kBackspace));
}

TEST_F(KeyHandlingTest, EscapeDropsTheCompositionAndHeldVoiceText)
{
    type(ime, QStringLiteral("nihao"));
    ime.voice(QStringLiteral("语音"), true, QStringLiteral("u1"));
    EXPECT_TRUE(press(ime, kEscape));
    EXPECT_EQ(ime.pinyin(), QString());
    EXPECT_EQ(client.markedText, QString());
    EXPECT_EQ(client.committed, QString());
    EXPECT_THAT(ime.queued(), IsEmpty());
    EXPECT_FALSE(window->visible);

    // With no composition open it is still consumed, and still drops held text.
    type(ime, QStringLiteral("hao"));
    ime.voice(QStringLiteral("语音"), true, QStringLiteral("u2"));
    ime.commitComposition(); // commits, keeps the held text for later
    ASSERT_EQ(ime.queued().size(), 1u);
    EXPECT_TRUE(press(ime, kEscape));
    EXPECT_THAT(ime.queued(), IsEmpty());
    EXPECT_EQ(client.committed, QStringLiteral("好"));

    state.setChinese(false);
    EXPECT_FALSE(press(ime, kEscape));
}

TEST_F(KeyHandlingTest, ShiftSpaceCommitsAndSwitchesTheSharedMode)
{
    // Interim voice text is left alone by the switch.
    ime.voice(QStringLiteral("说话中"), false, QStringLiteral("u1"));
    EXPECT_TRUE(press(ime, space(KeyEvent::kShift)));
    EXPECT_FALSE(state.chinese());
    EXPECT_EQ(client.markedText, QStringLiteral("说话中"));
    EXPECT_EQ(ime.voiceID(), QStringLiteral("u1"));
    EXPECT_THAT(ime.discarded(), IsEmpty());
    EXPECT_TRUE(press(ime, space(KeyEvent::kShift)));
    ime.abandonVoice();

    RecordingClient otherClient;
    auto other = make(&otherClient);
    EXPECT_TRUE(type(ime, QStringLiteral("nihao")));
    EXPECT_TRUE(press(ime, space(KeyEvent::kShift)));
    EXPECT_EQ(client.committed, QStringLiteral("你好"));
    EXPECT_FALSE(state.chinese());

    // English everywhere: letters reach the application untouched.
    EXPECT_FALSE(press(ime, charKey(u'n')));
    EXPECT_FALSE(press(*other, charKey(u'n')));
    EXPECT_EQ(otherClient.markedText, QString());
    EXPECT_FALSE(press(ime, space()));

    EXPECT_TRUE(press(*other, space(KeyEvent::kShift)));
    EXPECT_TRUE(state.chinese());
    EXPECT_TRUE(press(ime, charKey(u'n')));
    EXPECT_EQ(client.markedText, QStringLiteral("n"));
}

TEST_F(KeyHandlingTest, CommandAndControlKeysBelongToTheApplication)
{
    type(ime, QStringLiteral("ni"));
    EXPECT_FALSE(press(ime, charKey(u'c', KeyEvent::kCommand)));
    EXPECT_FALSE(press(ime, charKey(u'v', KeyEvent::kControl)));
    EXPECT_FALSE(press(ime, space(KeyEvent::kControl | KeyEvent::kShift)));
    EXPECT_EQ(ime.pinyin(), QStringLiteral("ni"));
    EXPECT_TRUE(state.chinese());
    EXPECT_EQ(client.committed, QString());

    // They do interrupt an utterance shown as interim text.
    press(ime, kEscape);
    ime.voice(QStringLiteral("说话中"), false, QStringLiteral("u1"));
    EXPECT_FALSE(press(ime, charKey(u'c', KeyEvent::kCommand)));
    EXPECT_EQ(client.markedText, QString());
    EXPECT_TRUE(ime.discarded().contains(QStringLiteral("u1")));
}

TEST_F(KeyHandlingTest, TheSixtyFifthLetterIsSwallowed)
{
    const QString sixtyFour(64, u'a');
    EXPECT_TRUE(type(ime, sixtyFour));
    const auto calls = client.calls.size();
    EXPECT_TRUE(press(ime, charKey(u'b')));
    EXPECT_EQ(ime.pinyin(), sixtyFour);
    EXPECT_EQ(client.calls.size(), calls);
    EXPECT_TRUE(press(ime, space()));
    EXPECT_EQ(client.committed, sixtyFour);
}

TEST_F(KeyHandlingTest, AMissingDictionaryTurnsChineseModeIntoPassThrough)
{
    const Pinyin missing;
    auto broken = make(&client, &missing);
    broken->activateServer();
    broken->voice(QStringLiteral("说话"), false, QStringLiteral("u1"));

    EXPECT_FALSE(press(*broken, charKey(u'n')));
    EXPECT_EQ(state.error(), kNoDictionary);
    EXPECT_TRUE(broken->discarded().contains(QStringLiteral("u1")));
    EXPECT_EQ(broken->pinyin(), QString());
    EXPECT_EQ(client.markedText, QString());
    EXPECT_FALSE(press(*broken, kEscape));

    // Said again on every key, even after something else took the error line.
    state.setError(QString());
    EXPECT_FALSE(press(*broken, space()));
    EXPECT_EQ(state.error(), kNoDictionary);

    // English mode and the mode switch do not need the dictionary.
    state.setError(QString());
    EXPECT_TRUE(press(*broken, space(KeyEvent::kShift)));
    EXPECT_FALSE(press(*broken, charKey(u'n')));
    EXPECT_EQ(state.error(), QString());
}

} // namespace
} // namespace tellwire
