#include "ui/StatusDot.h"

#include <QPainter>

namespace tellwire {

StatusDot::StatusDot(QWidget* parent)
    : QWidget(parent)
{
    setFixedSize(kDiameter, kDiameter);
    setAttribute(Qt::WA_TranslucentBackground);
}

void StatusDot::setColor(const QColor& color)
{
    if (color_ == color)
        return;
    color_ = color;
    update();
}

QSize StatusDot::sizeHint() const
{
    return {kDiameter, kDiameter};
}

void StatusDot::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color_);
    painter.drawEllipse(QRectF(rect()));
}

} // namespace tellwire
