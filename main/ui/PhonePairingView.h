#pragma once

#include <QWidget>

class QLabel;
class QVBoxLayout;

namespace tellwire {

class PhonePairing;

// The QR code a phone scans to pair, the same link as text, the certificate
// fingerprint the phone will show, and the paired phones, each with a way to
// sign it out. The link is kept fresh while the view is on screen.
class PhonePairingView : public QWidget {
    Q_OBJECT
public:
    explicit PhonePairingView(PhonePairing& pairing, QWidget* parent = nullptr);

    QLabel* qrLabel() const { return qr_; }
    QLabel* linkLabel() const { return link_; }
    QWidget* phonesList() const { return phones_; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void render();

    PhonePairing& pairing_;
    QLabel* qr_;
    QLabel* link_;
    QLabel* fingerprint_;
    QWidget* phones_;
    QVBoxLayout* phoneRows_;
};

} // namespace tellwire
