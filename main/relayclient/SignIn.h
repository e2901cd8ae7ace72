#pragma once

#include <QObject>
#include <QString>

namespace tellwire {

class RelayClient;

// Signing this desktop in to the relay with a phone number and a texted code,
// and the check of a stored sign-in at launch.
class SignIn : public QObject {
    Q_OBJECT
public:
    explicit SignIn(RelayClient& client, QObject* parent = nullptr);

    // Keeps a token the relay still accepts and starts polling, or asks for
    // the settings window.
    void prepare();
    // Asks the relay to text a sign-in code to phone.
    void requestPhoneCode(const QString& phone);
    // Trades phone and code for a token, keeps it and starts polling.
    void login(const QString& phone, const QString& code);

private:
    void showSettings();

    RelayClient& client_;
};

} // namespace tellwire
