#pragma once

#include <QByteArray>
#include <QImage>

namespace tellwire {

// text as a QR code, `scale` pixels a module, with the four-module quiet zone
// readers need; a null image when text does not fit in one.
QImage qrCode(const QByteArray& text, int scale);

} // namespace tellwire
