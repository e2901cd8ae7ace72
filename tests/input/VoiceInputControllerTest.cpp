#include "input/VoiceInputController.h"
#include "model/Defaults.h"
#include "model/DesktopState.h"
#include "model/SecretStore.h"
#include "pinyin/Pinyin.h"
#include "relayclient/Router.h"
#include "support/Fakes.h"
#include "support/Messages.h"

#include <gtest/gtest.h>

namespace tellwire {
namespace {

using namespace Qt::StringLiterals;
using namespace tellwire::testing;

// Plays a script into a controller and returns what the application then shows: the text committed, with
// each key passed on in its place (the screen keeps both). [u:text] is interim voice of utterance u, [u=text]
// its final; | the client's request to finish; ⊘ focus lost and back; ⌖ the caret moved; ☞ a click on the second candidate (if any);
// ⇧ ⌃ ⌘ ⌥ hold a modifier for the next key; ␣ ⏎ ⌤ ⌫ ⎋ ← → ↑ ↓ are keys, ∅ one without a character.
QString play(VoiceInputController& ime, RecordingClient& screen, const QString& script)
{
    static const QHash<QChar, std::uint16_t> codes{{u'␣', KeyEvent::kSpace}, {u'⏎', KeyEvent::kReturn},
        {u'⌤', KeyEvent::kKeypadEnter}, {u'⌫', KeyEvent::kDelete}, {u'⎋', KeyEvent::kEscape}, {u'←', KeyEvent::kLeft},
        {u'→', KeyEvent::kRight}, {u'↓', KeyEvent::kDown}, {u'↑', KeyEvent::kUp}, {u'∅', KeyEvent::kOther}};
    static const QHash<QChar, std::uint64_t> modifiers{
        {u'⇧', KeyEvent::kShift}, {u'⌃', KeyEvent::kControl}, {u'⌘', KeyEvent::kCommand}, {u'⌥', KeyEvent::kAlt}};
    const qsizetype before = screen.committed.size();
    KeyEvent key;
    for (qsizetype i = 0, start = 0; i < script.size(); ++i) {
        const QChar c = script[i];
        if (modifiers.contains(c)) {
            key.modifierFlags |= modifiers[c];
            continue; // a key passed on takes its modifiers along
        }
        if (c == u'[') {
            const qsizetype end = script.indexOf(u']', i);
            ime.voice(script.sliced(i + 3, end - i - 3), script[i + 2] == u'=', script[i + 1]);
            i = end;
        } else if (c == u'|') {
            ime.commitComposition();
        } else if (c == u'⌖') {
            ime.caretMoved();
        } else if (c == u'⊘') {
            ime.deactivateServer();
            ime.activateServer();
        } else if (c == u'☞') {
            ime.candidateSelected(ime.candidates().size() > 1 ? std::optional(ime.candidates()[1]) : std::nullopt);
        } else {
            key.keyCode = codes.value(c, KeyEvent::kOther);
            key.characters = c == u'∅' ? QString() : codes.contains(c) ? std::optional<QString>() : QString(c);
            if (!ime.handle(&key))
                screen.committed += script.sliced(start, i + 1 - start);
            key = {};
        }
        start = i + 1;
    }
    return screen.committed.sliced(before);
}

class ControllerTest : public ::testing::Test {
protected:
    // nihao as a whole and its pieces; "a" and "x" are no codes.
    Pinyin dictionary = Pinyin::fromBytes("...\n拟好\tni hao\t5\n你好\tni hao\t10\n你\tni\t9\n泥\tni\t5\n"
                                          "好\thao\t9\n哈\tha\t5\n哦\to\t1\n");
    MemorySecretStore secrets;
    MemoryDefaults defaults;
    DesktopState state{secrets, defaults, nullptr};
    Router router{state};
    RecordingShell shell;
    RecordingClient client;

    std::unique_ptr<VoiceInputController> focused(TextClient* to, const Pinyin* words = nullptr)
    {
        auto made = std::make_unique<VoiceInputController>(
            state, router, &shell, [] { return std::make_unique<RecordingCandidateWindow>(); }, nullptr,
            words ? words : &dictionary);
        made->setClient(to);
        made->activateServer();
        return made;
    }
};

TEST_F(ControllerTest, KeysAndVoiceEndUpOnScreenInTheirOrder)
{
    const std::array<std::string, 3> cases[] = { // script, screen, marked text
        // Candidates are picked by Return, a click or their digit; other keys commit the first and pass on.
        {"hao⏎", "好"}, {"nihao2", "拟好"}, {"nihao0", "你好0"}, {"nihao3", "你好3"}, {"x☞", "", "x"}, {"hao|", "好"},
        {"nihao[1=呀]☞", "拟好呀"}, {"ni[1=语]←", "你语←"}, {"ni→", "你→"}, {"ni↑", "你↑"}, {"ni↓", "你↓"},
        {"hao⌤", "好⌤"},
        // A caret that keeps moving without keys: a field that hides its keys, where nothing is dictated until one comes.
        // The client echoes each change of ours with a move of its own, later.
        {"⌖⌖⌖[1=听见]", "听见"}, {"⌖⌖⌖[1=一]⌖⌖[2=二]", "一二"}, {"[1:说]⌖⌖⌖⌖⌖[1:说了][2=丢]", ""},
        {"ni␣⌖⌖⌖⌖[1=听见]", "你听见"}, {"[1:说]⊘⌖⌖⌖⌖[2=丢]", ""},
        {"⌖⌖⌖⌖[1=丢]x␣[2=回来]", "x回来"}, {"xa1", "xa1"}, {"ni'⇧HAO", "", "ni'hao"}, {"nih⌫", "", "ni"}, {"n⌫⌫", "⌫"},
        {std::string(64, 'a') + "b␣", std::string(64, 'a')}, // a 65th letter is swallowed
        {"␣⏎1←.∅⎋", "␣⏎1←.∅⎋"}, // without a composition keys belong to the application
        // Shortcuts go to the application and leave the composition; Shift+Space commits it and switches, and back.
        {"ni⌘c⌃v⌃⇧␣⌥d", "⌘c⌃v⌃⇧␣⌥d", "ni"}, {"⌥d", "⌥d"}, {"ni⇧␣n⎋", "你n⎋"}, {"⇧␣⇧␣n", "", "n"},
        // Interim voice shows until a key is typed over it; its utterance then stays away.
        {"[1:你][2:笑😀]", "", "笑😀"}, {"[U:你]n[U:你好][U=你好。]i␣[U:又是U]", "你", "又是U"},
        {"[V:你]⇧␣n[V:还在说][W:新的]", "n", "新的"}, {"[V:你]⌘c[V:还在说]", "⌘c"},
        // Switching the language leaves it; finishing for the client takes it away for now.
        {"[V:说话中]⇧␣", "", "说话中"}, {"[V:说话中]|", ""}, {"[V:说话中]|[V:又说]", "", "又说"},
        // Losing focus commits the composition, drops held finals and takes interim text away for now.
        {"hao[1=一]⊘a␣", "好a"}, {"hao⊘", "好"}, {"[1:临时]⊘", ""}, {"[1:临时]⊘[1:再说]", "", "再说"},
        // Finals wait for the composition and follow whatever ends it, but Escape, which drops them.
        {"ni[1:一半][1=第一句。][2=第二句。]2", "泥第一句。第二句。"}, {"a[1=语音]⌫", "语音"},
        {"hao[1=一]|a␣", "好a一"}, {"ni[1=丢掉]⎋hao␣", "好"}, {"ni[1=丢掉]|⎋hao␣", "你⎋好"},
        {"a" + QByteArray("[1=x]").repeated(31).toStdString() + "⏎", "a" + std::string(30, 'x')}}; // thirty at most
    for (const auto& [script, screen, marked] : cases) {
        SCOPED_TRACE(script);
        RecordingClient fresh;
        auto ime = focused(&fresh);
        state.setChinese(true);
        EXPECT_EQ(play(*ime, fresh, QString::fromStdString(script)).toStdString(), screen);
        EXPECT_EQ(fresh.markedText.toStdString(), marked);
        EXPECT_EQ(static_cast<RecordingCandidateWindow*>(ime->candidatePanel())->visible, !ime->pinyin().isEmpty());
    }
}

TEST_F(ControllerTest, EachFocusChangeStartsAnEpochAndTheTrayOrALateLeaveTouchOnlyTheFocusedController)
{
    RecordingClient otherClient;
    auto other = focused(&otherClient), ime = focused(&client);
    const CandidateWindow* window = ime->candidatePanel();
    QSet<QUuid> epochs{ime->focusEpoch()};
    // Focus leaves, comes back, moves on; the last leave comes late, when the other is active already.
    const std::pair<VoiceInputController*, bool> changes[] = {
        {ime.get(), false}, {ime.get(), true}, {other.get(), true}, {ime.get(), false}};
    for (const auto& [controller, in] : changes) {
        in ? controller->activateServer() : controller->deactivateServer();
        epochs << controller->focusEpoch();
    }
    EXPECT_EQ(router.active(), other.get());
    EXPECT_EQ(epochs.size(), 5);
    EXPECT_EQ(shell.panelHides, 4);
    EXPECT_EQ(ime->candidatePanel(), window); // one, however often focused
    // The language switched elsewhere (the tray) commits the focused composition only.
    play(*ime, client, u"hao"_s);
    play(*other, otherClient, u"ni"_s);
    state.setChinese(false);
    EXPECT_EQ(otherClient.committed, u"你"_s);
    EXPECT_EQ(ime->pinyin(), u"hao"_s);
}

TEST_F(ControllerTest, AMissingDictionaryTurnsChineseModeIntoPassThroughThatSaysWhy)
{
    const Pinyin missing;
    auto broken = focused(&client, &missing);
    // Said at every key, even after something else took the error line; English needs no dictionary.
    const std::array<const char*, 3> cases[] = {
        {"[1:说话]n[1:还在说]", "n", msg::kDictionaryMissing}, {"␣⎋", "␣⎋", msg::kDictionaryMissing}, {"⇧␣n", "n", ""}};
    for (const auto& [script, screen, error] : cases) {
        state.setError(QString());
        EXPECT_EQ(play(*broken, client, QString::fromUtf8(script)), QString::fromUtf8(screen));
        EXPECT_EQ(state.error(), QString::fromUtf8(error));
    }
    EXPECT_EQ(client.markedText, QString());
}

} // namespace
} // namespace tellwire
