#pragma once

#include "input/VoiceInputController.h"
#include "ibus/IBusTextClient.h"

#include <QString>

#include <memory>

namespace tellwire {

class AppShell;
class DesktopState;
class Router;

// One client input context as the host sees it: its controller and the
// client adapter the controller types through.
class InputContextSession {
public:
    InputContextSession(QString path, DesktopState& state, Router& router, AppShell* shell);
    ~InputContextSession();

    const QString& path() const { return path_; }
    VoiceInputController& controller() { return *controller_; }
    IBusTextClient& client() { return client_; }

private:
    QString path_;
    IBusTextClient client_;
    std::unique_ptr<VoiceInputController> controller_;
};

} // namespace tellwire
