#include "input/VoiceInputController.h"

#include "relay/DesktopState.h"
#include "ui/AppShell.h"

namespace tellwire {

VoiceInputController::VoiceInputController(DesktopState& state, AppShell* shell,
                                           CandidateWindowFactory makeCandidateWindow,
                                           QObject* parent)
    : QObject(parent)
    , state_(state)
    , shell_(shell)
    , makeCandidateWindow_(std::move(makeCandidateWindow))
{
}

VoiceInputController::~VoiceInputController() = default;

void VoiceInputController::activateServer()
{
    focusEpoch_ = QUuid::createUuid();
    state_.setActive(this);
    if (shell_)
        shell_->hidePanel();
    if (!candidatePanel_ && makeCandidateWindow_)
        candidatePanel_ = makeCandidateWindow_();
}

void VoiceInputController::deactivateServer()
{
    commitPinyin();
    abandonVoice();
    queued_.clear();
    hideCandidates();
    if (state_.active() == this)
        state_.setActive(nullptr);
    focusEpoch_ = QUuid::createUuid();
    if (shell_)
        shell_->showPanelIfIdle();
}

void VoiceInputController::commitComposition()
{
    commitPinyin();
    abandonVoice();
}

void VoiceInputController::voice(const QString& text, bool final, const QString& id)
{
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
        if (client_)
            client_->setMarkedText(text, TextRange{text.size(), 0}, kNoReplacement);
        return;
    }
    if (client_)
        client_->insertText(text, kNoReplacement);
    voiceID_.reset();
}

void VoiceInputController::flush()
{
    if (state_.active() != this || !pinyin_.isEmpty())
        return;
    if (client_) {
        for (const auto& [id, text] : queued_)
            client_->insertText(text, kNoReplacement);
    }
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
    if (client_)
        client_->setMarkedText(QString(), TextRange{0, 0}, kNoReplacement);
}

void VoiceInputController::commitPinyin(qsizetype index)
{
    if (pinyin_.isEmpty())
        return;
    const QString text = index >= 0 && index < choices_.size() ? choices_.at(index) : pinyin_;
    if (client_)
        client_->insertText(text, kNoReplacement);
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
