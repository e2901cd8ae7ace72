#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

namespace tellwire {

class RelayClient;

// Signing this desktop in to the relay: with a phone number and a texted
// code, or, to the relay on this machine, with the secret only this user can
// read; and the check of a stored sign-in at launch.
class SignIn : public QObject {
    Q_OBJECT
public:
    explicit SignIn(RelayClient& client, QObject* parent = nullptr);

    // Where the relay on this machine keeps the secret that signs its user's desktop in.
    static QString localSecretPath();
    // Whether the relay is the one on this machine, which this user started:
    // a loopback origin, and the relay's local secret is there.
    bool isLocal() const;

    // Keeps a token the relay still accepts and starts polling; without one,
    // signs in to the relay on this machine or asks for the settings window.
    void prepare();
    // After the relay refused the token: signs in anew where no person is
    // needed, with the local secret, trying again until the relay answers.
    void signInAgain();
    // Asks the relay to text a sign-in code to phone.
    void requestPhoneCode(const QString& phone);
    // Trades phone and code for a token, keeps it and starts polling.
    void login(const QString& phone, const QString& code);

private:
    void showSettings();
    void signInLocally();
    void keep(const QString& token, const QString& signedIn);

    RelayClient& client_;
    QTimer localRetry_;
};

} // namespace tellwire
