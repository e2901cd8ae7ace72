#include "fcitx/FcitxTextClient.h"

#include "TellwireProtocol.h"

#include <utility>

namespace tellwire {

FcitxTextClient::FcitxTextClient(std::function<bool()> composing, std::function<void(const FcitxOutput&)> push)
    : composing_(std::move(composing))
    , push_(std::move(push))
{
}

void FcitxTextClient::beginCall()
{
    inCall_ = true;
}

FcitxOutput FcitxTextClient::endCall()
{
    inCall_ = false;
    return std::exchange(pending_, FcitxOutput{});
}

void FcitxTextClient::dropCommitTypedByClient()
{
    pending_.commit.clear();
}

void FcitxTextClient::setMarkedText(const QString& text, TextRange selection, TextRange)
{
    // The addon places the caret in bytes of UTF-8; the controller counts UTF-16 units.
    pending_.preedit = FcitxOutput::Preedit{text, int(text.left(selection.location).toUtf8().size()),
                                            composing_ && composing_()};
    changed();
}

void FcitxTextClient::insertText(const QString& text, TextRange)
{
    // One commit per call, like a key event's: the addon hides the preedit before it.
    pending_.commit += text;
    pending_.preedit = FcitxOutput::Preedit{};
    changed();
}

void FcitxTextClient::showCandidates(const QStringList& candidates)
{
    pending_.panel = protocol::kPanelShow;
    pending_.candidates = candidates.mid(0, protocol::kPageSize);
    changed();
}

void FcitxTextClient::hideCandidates()
{
    pending_.panel = protocol::kPanelHide;
    pending_.candidates.clear();
    changed();
}

void FcitxTextClient::changed()
{
    if (inCall_)
        return;
    const FcitxOutput output = std::exchange(pending_, FcitxOutput{});
    if (push_)
        push_(output);
}

} // namespace tellwire
