#pragma once

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

namespace tellwire {

class RelayClient;

// A phone signed in to this desktop's account.
struct PairedPhone {
    QString deviceId;
    QString name;
    QDateTime lastSeen;

    friend bool operator==(const PairedPhone&, const PairedPhone&) = default;
};

// Pairing phones with the relay on this machine: a single-use link for the
// phone page (shown as a QR code), renewed before it expires while someone
// looks at it, and the phones paired so far.
class PhonePairing : public QObject {
    Q_OBJECT
public:
    explicit PhonePairing(RelayClient& client, QObject* parent = nullptr);

    // The link a phone opens to sign in; empty until the relay gave one.
    const QString& link() const { return link_; }
    // Of the certificate the phone will be shown, e.g. "SHA256:AB:…".
    const QString& fingerprint() const { return fingerprint_; }
    const QList<PairedPhone>& phones() const { return phones_; }

    // Asks for a fresh link and the list of phones, and keeps the link fresh
    // until stop().
    void start();
    void stop();
    void refreshPhones();
    void remove(const QString& deviceId);

signals:
    void changed();

private:
    void requestLink();

    RelayClient& client_;
    QString link_;
    QString fingerprint_;
    QList<PairedPhone> phones_;
    QTimer renewal_;
};

} // namespace tellwire
