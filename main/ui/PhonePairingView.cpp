#include "ui/PhonePairingView.h"

#include "relayclient/PhonePairing.h"
#include "ui/QrCode.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

namespace tellwire {

namespace {

constexpr int kModulePixels = 4;

QLabel* selectableLabel(QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setObjectName(QStringLiteral("settingsSecondary"));
    return label;
}

} // namespace

PhonePairingView::PhonePairingView(PhonePairing& pairing, QWidget* parent)
    : QWidget(parent)
    , pairing_(pairing)
    , qr_(new QLabel(this))
    , link_(selectableLabel(this))
    , fingerprint_(selectableLabel(this))
    , phones_(new QWidget(this))
    , phoneRows_(new QVBoxLayout(phones_))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* hint = new QLabel(QStringLiteral("用同一网络中的手机扫描二维码，打开听写页面即可连接。"), this);
    hint->setWordWrap(true);
    layout->addWidget(hint);
    qr_->setAccessibleName(QStringLiteral("配对二维码"));
    layout->addWidget(qr_, 0, Qt::AlignLeft);
    layout->addWidget(link_);
    layout->addWidget(fingerprint_);
    phoneRows_->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(phones_);
    connect(&pairing_, &PhonePairing::changed, this, &PhonePairingView::render);
    render();
}

void PhonePairingView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    pairing_.start();
}

void PhonePairingView::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    pairing_.stop();
}

void PhonePairingView::render()
{
    const QImage code = qrCode(pairing_.link().toUtf8(), kModulePixels);
    qr_->setPixmap(QPixmap::fromImage(code));
    qr_->setVisible(!code.isNull());
    link_->setText(pairing_.link());
    fingerprint_->setText(pairing_.fingerprint().isEmpty() ? QString()
                                                           : QStringLiteral("证书指纹 ") + pairing_.fingerprint());
    fingerprint_->setVisible(!pairing_.fingerprint().isEmpty());

    while (QLayoutItem* item = phoneRows_->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    for (const PairedPhone& phone : pairing_.phones()) {
        auto* row = new QWidget(phones_);
        auto* line = new QHBoxLayout(row);
        line->setContentsMargins(0, 0, 0, 0);
        const QString name = phone.name.isEmpty() ? QStringLiteral("手机") : phone.name;
        line->addWidget(new QLabel(name + QStringLiteral(" · 最近在线 ") +
                                       phone.lastSeen.toLocalTime().toString(QStringLiteral("M月d日 HH:mm")),
                                   row),
                        1);
        auto* remove = new QPushButton(QStringLiteral("移除"), row);
        connect(remove, &QPushButton::clicked, this, [this, id = phone.deviceId] { pairing_.remove(id); });
        line->addWidget(remove);
        phoneRows_->addWidget(row);
    }
}

} // namespace tellwire
