#pragma once

#include "ui/WindowTheme.h"

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;

namespace tellwire {

class AppearanceSettings;
class DesktopState;
class PhonePairing;
class PhonePairingView;
class SignIn;

// The settings window's content: phone sign-in, the connection, appearance,
// the way to the desktop's input method settings and the red error line.
// The phone number and the code live only here, for as long as the window.
class DesktopSettings : public QWidget {
    Q_OBJECT
public:
    static constexpr qsizetype kCodeLength = 6;

    // With the relay on this machine, phones pair by QR code through `pairing`
    // instead of signing in with a number.
    DesktopSettings(DesktopState& state, SignIn& signIn, PhonePairing& pairing, QWidget* parent = nullptr);

    QLineEdit* phoneField() const { return phone_; }
    QLineEdit* codeField() const { return code_; }
    QPushButton* requestCodeButton() const { return requestCode_; }
    QPushButton* loginButton() const { return login_; }
    QLabel* hostLabel() const { return host_; }
    QLabel* statusLabel() const { return status_; }
    AppearanceSettings* appearanceSettings() const { return appearanceSettings_; }
    QPushButton* keyboardSettingsButton() const { return keyboardSettings_; }
    QPushButton* clearHistoryButton() const { return clearHistory_; }
    QLabel* errorLabel() const { return error_; }
    // Null unless the relay is the one on this machine.
    PhonePairingView* pairingView() const { return pairingView_; }

private:
    void renderStatus();
    void renderHost();
    void renderError();
    void renderLoginEnabled();
    void renderAppearance();
    void requestCode();
    void signIn();

    DesktopState& state_;
    SignIn& signIn_;
    WindowTheme theme_;
    QScrollArea* scroll_;
    QLineEdit* phone_;
    QLineEdit* code_;
    QPushButton* requestCode_;
    QPushButton* login_;
    QLabel* host_;
    PhonePairingView* pairingView_ = nullptr;
    QLabel* status_;
    AppearanceSettings* appearanceSettings_;
    QPushButton* keyboardSettings_;
    QPushButton* clearHistory_;
    QLabel* error_;
};

} // namespace tellwire
