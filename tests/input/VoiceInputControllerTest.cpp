#include "input/VoiceInputController.h"
#include "model/Defaults.h"
#include "model/DesktopState.h"
#include "model/SecretStore.h"
#include "pinyin/Pinyin.h"
#include "relayclient/Router.h"
#include "support/Fakes.h"
#include "support/Messages.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace tellwire {
namespace {

using namespace Qt::StringLiterals;
using namespace tellwire::testing;

// Plays a script into a controller and returns what the application then shows: the text
// committed, with each key passed on in its place. [u:text] is interim voice of utterance
// u, [u=text] its final; | the client's request to finish; ⊘ focus lost and back; ⇧ ⌃ ⌘
// hold a modifier for the next key; ␣ ⏎ ⌤ ⌫ ⎋ ← → ↑ ↓ are keys, ∅ one without a character.
QString play(VoiceInputController& ime, const RecordingClient& client, const QString& script)
{
    static const QHash<QChar, std::uint16_t> codes{{u'␣', KeyEvent::kSpace}, {u'⏎', KeyEvent::kReturn},
        {u'⌤', KeyEvent::kKeypadEnter}, {u'⌫', KeyEvent::kDelete}, {u'⎋', KeyEvent::kEscape}, {u'←', KeyEvent::kLeft},
        {u'→', KeyEvent::kRight}, {u'↓', KeyEvent::kDown}, {u'↑', KeyEvent::kUp}, {u'∅', KeyEvent::kOther}};
    static const QHash<QChar, std::uint64_t> modifiers{
        {u'⇧', KeyEvent::kShift}, {u'⌃', KeyEvent::kControl}, {u'⌘', KeyEvent::kCommand}};
    QString screen;
    KeyEvent key;
    for (qsizetype i = 0, start = 0, seen = client.committed.size(); i < script.size(); ++i) {
        const QChar c = script[i];
        bool passed = false;
        if (c == u'[') {
            const qsizetype end = script.indexOf(u']', i);
            ime.voice(script.sliced(i + 3, end - i - 3), script[i + 2] == u'=', script[i + 1]);
            i = end;
        } else if (c == u'|') {
            ime.commitComposition();
        } else if (c == u'⊘') {
            ime.deactivateServer();
            ime.activateServer();
        } else if (modifiers.contains(c)) {
            key.modifierFlags |= modifiers[c];
            continue;
        } else {
            key.keyCode = codes.value(c, KeyEvent::kOther);
            key.characters = c == u'∅' ? QString() : codes.contains(c) ? std::optional<QString>() : QString(c);
            passed = !ime.handle(&key);
            key = {};
        }
        screen += client.committed.sliced(std::exchange(seen, client.committed.size())) +
                  (passed ? script.sliced(start, i + 1 - start) : QString());
        start = i + 1;
    }
    return screen;
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
    int windows = 0; // candidate windows made
    std::unique_ptr<VoiceInputController> controller = make(&client);
    VoiceInputController& ime = *controller; // focused by SetUp

    void SetUp() override { ime.activateServer(); }
    std::unique_ptr<VoiceInputController> make(TextClient* to)
    {
        auto made = std::make_unique<VoiceInputController>(
            state, router, &shell, [this] { ++windows; return std::make_unique<RecordingCandidateWindow>(); },
            nullptr, &dictionary);
        made->setClient(to);
        return made;
    }
    QString play(const char* script) { return tellwire::play(ime, client, QString::fromUtf8(script)); }
    static auto& window(const auto& c) { return static_cast<RecordingCandidateWindow&>(*c.candidatePanel()); }
};

TEST_F(ControllerTest, KeysAndVoiceEndUpOnScreenInTheirOrder)
{
    const std::array<std::string, 3> cases[] = { // script, screen, marked text
        // Candidates are picked by Space, Return or their digit; other keys commit the first and pass on.
        {"nihao␣", "你好"}, {"hao⏎", "好"}, {"nihao2", "拟好"}, {"nihao0", "你好0"}, {"nihao3", "你好3"},
        {"ni[1=语]←", "你语←"}, {"ni→", "你→"}, {"ni↑", "你↑"}, {"ni↓", "你↓"}, {"hao,", "好,"}, {"hao⌤", "好⌤"},
        {"xa1", "xa1"}, {"'␣", "'"}, {"ni'⇧HAO␣", "你好"}, {"ni'⇧HAO", "", "ni'hao"}, {"hao|", "好"},
        {"nih⌫", "", "ni"}, {"n⌫⌫", "⌫"}, {"nihao⎋", ""}, {std::string(64, 'a') + "b␣", std::string(64, 'a')},
        {"␣⏎1←.∅⎋", "␣⏎1←.∅"}, // without a composition keys belong to the application, but Escape
        // Shortcuts belong to the application and leave the composition open; Shift+Space
        // commits it and switches to English, and back.
        {"ni⌘c⌃v⌃⇧␣", "⌘c⌃v⌃⇧␣", "ni"}, {"ni⇧␣n⎋", "你n⎋"}, {"⇧␣⇧␣n", "", "n"},
        // Interim voice shows until a key is typed over it; its utterance then stays away.
        {"[1:你][2:笑😀]", "", "笑😀"}, {"[1:你][1=你好]", "你好"},
        {"[U:你]n[U:你好][U=你好。]i␣[U:又是U]", "你", "又是U"},
        {"[V:你]⇧␣n[V:还在说][W:新的]", "n", "新的"}, {"[V:你]⌘c[V:还在说]", "⌘c"},
        // Switching the language leaves it; finishing for the client takes it away for now.
        {"[V:说话中]⇧␣", "", "说话中"}, {"[V:说话中]|", ""}, {"[V:说话中]|[V:又说]", "", "又说"},
        // Losing focus commits the composition, drops held finals and takes interim text away for now.
        {"hao[1=一]⊘a␣", "好a"}, {"hao⊘", "好"}, {"[1:临时]⊘", ""}, {"[1:临时]⊘[1:再说]", "", "再说"},
        // Finals wait for the composition and follow whatever ends it, but Escape.
        {"ni[1:一半][1=第一句。][2=第二句。]2", "泥第一句。第二句。"}, {"a[1=语音]⌫", "语音"},
        {"hao[1=一]|a␣", "好a一"}, {"ni[1=丢掉]⎋hao␣", "好"}, {"ni[1=丢掉]|⎋hao␣", "你好"},
        {"a" + QByteArray("[1=x]").repeated(31).toStdString() + "⏎", "a" + std::string(30, 'x')}, // thirty at most
    };
    for (const auto& [script, screen, marked] : cases) {
        SCOPED_TRACE(script);
        RecordingClient fresh;
        QString shown;
        // Without a client nothing shows, and all goes on the same.
        auto blind = make(nullptr), composing = make(&fresh);
        for (VoiceInputController* controller : {blind.get(), composing.get()}) {
            controller->activateServer();
            state.setChinese(true);
            shown = tellwire::play(*controller, fresh, QString::fromStdString(script));
        }
        EXPECT_EQ(shown.toStdString(), screen);
        EXPECT_EQ(fresh.markedText.toStdString(), marked);
        EXPECT_EQ(window(*composing).visible, !composing->pinyin().isEmpty());
        EXPECT_EQ(blind->pinyin(), composing->pinyin());
    }
}

TEST_F(ControllerTest, CompositionAndVoiceAreMarkedTextWithTheCaretAtTheEndAndCandidatesCanBeClicked)
{
    KeyEvent release{false, 0, KeyEvent::kOther, u"n"_s};
    EXPECT_FALSE(ime.handle(&release));
    play("[1:你][2:笑😀][2=笑😀。]ni");
    EXPECT_THAT(client.calls, ::testing::ElementsAre(marked(u"你"_s, 1), marked(u"笑😀"_s, 3), inserted(u"笑😀。"_s),
                                          marked(u"n"_s, 1), marked(u"ni"_s, 2)));
    play("hao[3=呀]");
    EXPECT_EQ(ime.candidates(), QStringList({u"你好"_s, u"拟好"_s}));
    EXPECT_EQ(window(ime).updates, 5);
    ime.candidateSelected(std::nullopt);
    ime.candidateSelected(u"拟好"_s);
    EXPECT_EQ(client.committed, u"笑😀。拟好呀"_s);
    EXPECT_FALSE(window(ime).visible);
}

TEST_F(ControllerTest, EachFocusChangeStartsAnEpochAndOnlyTheFocusedControllerFlushesOrSwitches)
{
    QSet<QUuid> epochs{ime.focusEpoch()};
    const auto focus = [&](VoiceInputController& controller, bool in) {
        in ? controller.activateServer() : controller.deactivateServer();
        epochs << controller.focusEpoch();
    };
    focus(ime, false);
    EXPECT_EQ(router.active(), nullptr);
    EXPECT_EQ(shell.idleShows, 1);
    // Focus moved on without a deactivation: held text waits for the focus to come back.
    RecordingClient otherClient;
    auto other = make(&otherClient);
    focus(ime, true);
    play("ni[3=好]");
    focus(*other, true);
    EXPECT_EQ(play("␣"), u"你"_s);
    focus(ime, true);
    ime.flush();
    EXPECT_EQ(client.committed, u"你好"_s);
    // Deactivated late, a controller leaves the one that took the focus active.
    focus(*other, true);
    focus(ime, false);
    EXPECT_EQ(router.active(), other.get());
    EXPECT_EQ(epochs.size(), 7);
    EXPECT_EQ(shell.panelHides, 5);
    EXPECT_EQ(windows, 2); // one each, however often focused
    // The language switched elsewhere (the tray) commits the focused composition only.
    play("hao");
    tellwire::play(*other, otherClient, u"ni"_s);
    state.setChinese(false);
    EXPECT_EQ(otherClient.committed, u"你"_s);
    EXPECT_EQ(ime.pinyin(), u"hao"_s);
}

TEST_F(ControllerTest, AMissingDictionaryTurnsChineseModeIntoPassThroughThatSaysWhy)
{
    const Pinyin missing;
    VoiceInputController broken(state, router, &shell, {}, nullptr, &missing); // and no candidate window
    broken.setClient(&client);
    broken.activateServer();
    EXPECT_EQ(tellwire::play(broken, client, u"[1:说话]n[1:还在说]"_s), u"n"_s);
    EXPECT_EQ(client.markedText, QString());
    EXPECT_EQ(state.error(), QString::fromUtf8(msg::kDictionaryMissing));
    state.setError(QString()); // said again at every key, even after something else took the error line
    EXPECT_EQ(tellwire::play(broken, client, u"␣⎋"_s), u"␣⎋"_s);
    EXPECT_EQ(state.error(), QString::fromUtf8(msg::kDictionaryMissing));
    state.setError(QString()); // English mode and the mode switch do not need the dictionary
    EXPECT_EQ(tellwire::play(broken, client, u"⇧␣n"_s), u"n"_s);
    EXPECT_EQ(state.error(), QString());
}

} // namespace
} // namespace tellwire
