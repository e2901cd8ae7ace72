#pragma once

#include "fcitx/FcitxTextClient.h"
#include "input/VoiceInputController.h"

#include <QString>

#include <functional>
#include <memory>

namespace tellwire {

class AppShell;
class DesktopState;
class Router;

// One fcitx5 input context as Tellwire sees it: its controller and the
// client adapter the controller types through.
class FcitxSession {
public:
    using Push = std::function<void(const QString& id, const FcitxOutput&)>;

    FcitxSession(QString id, DesktopState& state, Router& router, AppShell* shell, Push push);
    ~FcitxSession();

    const QString& id() const { return id_; }
    VoiceInputController& controller() { return *controller_; }
    FcitxTextClient& client() { return client_; }

private:
    QString id_;
    FcitxTextClient client_;
    std::unique_ptr<VoiceInputController> controller_;
};

} // namespace tellwire
