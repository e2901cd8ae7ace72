#include "input/VoiceInputController.h"

#include <algorithm>

#include "pinyin/Pinyin.h"
#include "model/DesktopState.h"
#include "relayclient/Router.h"
#include "model/AppShell.h"

#include <limits>

namespace tellwire {

namespace {

QString dictionaryMissingMessage()
{
    return QStringLiteral("拼音词库缺失，请重新安装完整客户端");
}

// A key that composes: one lowercase letter or the syllable separator.
bool isPinyinLetter(const QString& key)
{
    return key.size() == 1 && ((key.front() >= u'a' && key.front() <= u'z') || key.front() == u'\'');
}

// The key text read as a decimal whole number (an optional sign, then ASCII digits).
std::optional<qint64> wholeNumber(const QString& text)
{
    qsizetype i = 0;
    bool negative = false;
    if (!text.isEmpty() && (text.front() == u'+' || text.front() == u'-')) {
        negative = text.front() == u'-';
        i = 1;
    }
    if (i == text.size())
        return std::nullopt;
    qint64 value = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (c < u'0' || c > u'9' || value > (std::numeric_limits<qint64>::max() - 9) / 10)
            return std::nullopt;
        value = value * 10 + (c - u'0');
    }
    return negative ? -value : value;
}

} // namespace

VoiceInputController::VoiceInputController(DesktopState& state, Router& router, AppShell* shell,
                                           CandidateWindowFactory makeCandidateWindow,
                                           QObject* parent, const Pinyin* dictionary)
    : QObject(parent)
    , state_(state)
    , router_(router)
    , shell_(shell)
    , makeCandidateWindow_(std::move(makeCandidateWindow))
    , dictionary_(dictionary)
{
    // Switching the language from outside (the tray) finishes the composition
    // of the focused session first, as Shift+Space does.
    connect(&state_, &DesktopState::chineseChanged, this, [this] {
        if (router_.active() == this)
            commitPinyin(0);
    });
}

VoiceInputController::~VoiceInputController()
{
    router_.leave(this);
}

void VoiceInputController::activateServer()
{
    keysBypass_ = false;
    caretMoves_ = 0;
    focusEpoch_ = QUuid::createUuid();
    router_.focus(this);
    if (shell_)
        shell_->hidePanel();
    if (!candidatePanel_ && makeCandidateWindow_)
        candidatePanel_ = makeCandidateWindow_();
}

void VoiceInputController::deactivateServer()
{
    commitPinyin();
    newStretch();
    router_.leave(this);
    if (shell_)
        shell_->showPanelIfIdle();
}

void VoiceInputController::commitComposition()
{
    commitPinyin();
    abandonVoice();
}

void VoiceInputController::setSecret(bool secret)
{
    if (secret == secret_)
        return;
    commitPinyin();
    newStretch();
    secret_ = secret;
}

void VoiceInputController::fieldMayHaveChanged()
{
    commitPinyin();
    newStretch();
}

void VoiceInputController::caretMoved()
{
    if (ownEchoes_ > 0) {
        --ownEchoes_;
        return;
    }
    if (keysBypass_ || ++caretMoves_ < kCaretMovesWithoutKeys)
        return;
    newStretch();
    keysBypass_ = true;
}

// What was dictated or held for the old stretch goes to the history only;
// the next field is not presumed to hide its keys.
void VoiceInputController::newStretch()
{
    abandonVoice();
    queued_.clear();
    hideCandidates();
    keysBypass_ = false;
    caretMoves_ = 0;
    ownEchoes_ = 0; // echoes still owed are the old field's; the new one's moves all count
    focusEpoch_ = QUuid::createUuid();
}

// Text of ours moves the caret too, and the client tells of each change a
// while later, after the keys that caused it: those moves are not counted.
void VoiceInputController::mark(const QString& text)
{
    caretMoves_ = 0;
    if (text != marked_)
        expectEchoes(1);
    marked_ = text;
    if (client_)
        client_->setMarkedText(text, TextRange{text.size(), 0}, kNoReplacement);
}

void VoiceInputController::insert(const QString& text)
{
    caretMoves_ = 0; // the caret follows what we type
    expectEchoes(marked_.isEmpty() ? 1 : 2); // the marked text goes first
    marked_.clear();
    if (client_)
        client_->insertText(text, kNoReplacement);
}

void VoiceInputController::expectEchoes(int count)
{
    // Enough for a composition typed faster than the client answers, few enough
    // that changes it never echoed cannot hide a field's keys for long.
    constexpr int kMostEchoes = 16;
    ownEchoes_ = std::min(ownEchoes_ + count, kMostEchoes);
}

void VoiceInputController::voice(const QString& text, bool final, const QString& id)
{
    if (secret_ || keysBypass_)
        return;
    if (discarded_.contains(id)) {
        if (final)
            discarded_.remove(id);
        return;
    }
    if (!pinyin_.isEmpty()) {
        // The composition's marked text is never disturbed by voice text.
        if (final && qsizetype(queued_.size()) < kQueueLimit)
            queued_.emplace_back(id, text);
        return;
    }
    if (!final) {
        voiceID_ = id;
        mark(text);
        return;
    }
    insert(text);
    voiceID_.reset();
}

void VoiceInputController::flush()
{
    if (router_.active() != this || !pinyin_.isEmpty())
        return;
    for (const auto& [id, text] : queued_)
        insert(text);
    queued_.clear();
}

void VoiceInputController::abandonVoice()
{
    if (voiceID_)
        clearMarked();
    voiceID_.reset();
}

void VoiceInputController::clearMarked()
{
    mark(QString());
}

const Pinyin& VoiceInputController::dictionary() const
{
    // The shared dictionary loads on first use, inside the key that needs it.
    if (!dictionary_)
        dictionary_ = &Pinyin::shared();
    return *dictionary_;
}

// A key typed over interim voice text ends that utterance for good.
void VoiceInputController::interruptVoice()
{
    if (voiceID_)
        discarded_.insert(*voiceID_);
    abandonVoice();
}

bool VoiceInputController::handle(const KeyEvent* event)
{
    if (!event || !event->keyDown || secret_)
        return false;
    caretMoves_ = 0;
    if (keysBypass_) {
        // Keys reach us again: another field, one that takes input methods.
        keysBypass_ = false;
        focusEpoch_ = QUuid::createUuid();
    }
    const std::uint64_t flags = event->modifierFlags;
    if (flags & (KeyEvent::kCommand | KeyEvent::kControl | KeyEvent::kAlt)) {
        // Shortcuts belong to the application; a composition stays open.
        interruptVoice();
        return false;
    }
    if (event->keyCode == KeyEvent::kSpace && (flags & KeyEvent::kShift)) {
        commitPinyin(0);
        state_.setChinese(!state_.chinese());
        return true;
    }
    interruptVoice();
    if (!state_.chinese())
        return false;
    if (!dictionary().ready()) {
        state_.setError(dictionaryMissingMessage());
        return false;
    }

    const QString key = event->characters.value_or(QString()).toLower();
    if (event->keyCode == KeyEvent::kEscape) {
        // Cancels a composition; with none, Escape is the application's (closing a dialog, say).
        const bool composing = !pinyin_.isEmpty();
        pinyin_.clear();
        choices_.clear();
        clearMarked();
        hideCandidates();
        queued_.clear();
        return composing;
    }
    if (event->keyCode == KeyEvent::kDelete && !pinyin_.isEmpty()) {
        pinyin_.chop(1);
        updatePinyin();
        return true;
    }
    if (!pinyin_.isEmpty()) {
        if (event->keyCode == KeyEvent::kSpace || event->keyCode == KeyEvent::kReturn) {
            commitPinyin(0);
            flush();
            return true;
        }
        if (const auto number = wholeNumber(key); number && *number >= 1 && *number <= choices_.size()) {
            commitPinyin(qsizetype(*number - 1));
            flush();
            return true;
        }
        switch (event->keyCode) {
        case KeyEvent::kLeft:
        case KeyEvent::kRight:
        case KeyEvent::kDown:
        case KeyEvent::kUp:
            // Committed first, so the arrow moves the caret past the new text.
            commitPinyin(0);
            flush();
            return false;
        default:
            break;
        }
    }
    if (isPinyinLetter(key)) {
        if (pinyin_.size() < kLongestComposition) {
            pinyin_ += key;
            updatePinyin();
        }
        return true;
    }
    if (!pinyin_.isEmpty()) {
        commitPinyin(0);
        flush();
    }
    return false;
}

void VoiceInputController::updatePinyin()
{
    choices_ = pinyin_.isEmpty() ? QStringList() : dictionary().candidates(pinyin_);
    mark(pinyin_);
    if (pinyin_.isEmpty()) {
        hideCandidates();
        flush();
    } else if (candidatePanel_) {
        // Shown even with no candidates, so the user sees the search came up empty.
        candidatePanel_->update();
        candidatePanel_->show();
    }
}

void VoiceInputController::candidateSelected(const std::optional<QString>& text)
{
    if (!text)
        return;
    insert(*text);
    pinyin_.clear();
    choices_.clear();
    hideCandidates();
    flush();
}

void VoiceInputController::commitPinyin(qsizetype index)
{
    if (pinyin_.isEmpty())
        return;
    const QString text = index >= 0 && index < choices_.size() ? choices_.at(index) : pinyin_;
    insert(text);
    pinyin_.clear();
    choices_.clear();
    hideCandidates();
}

void VoiceInputController::hideCandidates()
{
    if (candidatePanel_)
        candidatePanel_->hide();
}

} // namespace tellwire
