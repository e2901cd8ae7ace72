#include "ui/GlyphIcon.h"

#include <QFont>
#include <QPainter>
#include <QPixmap>

namespace tellwire {

QIcon glyphIcon(const QString& glyph, const QColor& background)
{
    QIcon icon;
    for (const int side : {16, 22, 24, 32, 48, 64, 128}) {
        QPixmap pixmap(side, side);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::TextAntialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(background);
        const qreal radius = side * 0.22;
        painter.drawRoundedRect(QRectF(0, 0, side, side), radius, radius);
        QFont font;
        font.setPixelSize(qRound(side * 0.72));
        font.setBold(true);
        painter.setFont(font);
        painter.setPen(Qt::white);
        painter.drawText(QRectF(0, 0, side, side), Qt::AlignCenter, glyph);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace tellwire
