#include "fcitx/FcitxSession.h"

#include "fcitx/FcitxCandidateWindow.h"

namespace tellwire {

FcitxSession::FcitxSession(QString id, DesktopState& state, Router& router, AppShell* shell, Push push)
    : id_(std::move(id))
    , client_([this] { return !controller_->pinyin().isEmpty(); },
              [this, push = std::move(push)](const FcitxOutput& output) { push(id_, output); })
{
    controller_ = std::make_unique<VoiceInputController>(state, router, shell, [this] {
        return std::make_unique<FcitxCandidateWindow>(client_, [this] { return controller_->candidates(); });
    });
    controller_->setClient(&client_);
}

FcitxSession::~FcitxSession() = default;

} // namespace tellwire
