#include "ui/Swatch.h"

#include "preferences/HexColor.h"
#include "ui/Theme.h"

#include <QPainter>

namespace tellwire {

Swatch::Swatch(const QString& hex, QWidget* parent)
    : QAbstractButton(parent)
    , hex_(hex)
    , fill_(toQColor(HexColor::parse(hex)))
    , outline_(Qt::black)
{
    setAccessibleName(QStringLiteral("主题色 ") + hex);
    setToolTip(hex);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setFixedSize(sizeHint());
}

void Swatch::setMarked(bool marked)
{
    if (marked_ == marked)
        return;
    marked_ = marked;
    update();
}

void Swatch::setOutlineColor(const QColor& color)
{
    outline_ = color;
    update();
}

QSize Swatch::sizeHint() const
{
    // Room for the half of the outline that lies outside the circle.
    const int side = kDiameter + kOutlineWidth;
    return {side, side};
}

void Swatch::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF circle(kOutlineWidth / 2.0, kOutlineWidth / 2.0, kDiameter, kDiameter);
    painter.setPen(Qt::NoPen);
    painter.setBrush(isDown() ? fill_.darker(115) : fill_);
    painter.drawEllipse(circle);
    if (marked_) {
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(outline_, kOutlineWidth));
        painter.drawEllipse(circle);
    }
}

} // namespace tellwire
