#include "ibus/InputContextSession.h"

#include "ibus/IBusCandidateWindow.h"

namespace tellwire {

InputContextSession::InputContextSession(QString path, DesktopState& state, Router& router, AppShell* shell)
    : path_(std::move(path))
    , client_([this] { return !controller_->pinyin().isEmpty(); })
{
    controller_ = std::make_unique<VoiceInputController>(state, router, shell, [this] {
        return std::make_unique<IBusCandidateWindow>(client_, [this] { return controller_->candidates(); });
    });
    controller_->setClient(&client_);
}

InputContextSession::~InputContextSession() = default;

} // namespace tellwire
