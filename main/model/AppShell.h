#pragma once

namespace tellwire {

// What the input controllers and the relay client ask of the application's
// windows. The desktop application implements it; tests record the calls.
class AppShell {
public:
    virtual ~AppShell() = default;

    // Shows the transcript panel, whatever has focus.
    virtual void showPanel() = 0;
    // Hides the transcript panel if it exists.
    virtual void hidePanel() = 0;
    // Brings the transcript panel forward when no input session has focus.
    virtual void showPanelIfIdle() = 0;
    virtual void showSettings() = 0;
};

} // namespace tellwire
