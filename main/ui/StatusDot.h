#pragma once

#include <QColor>
#include <QWidget>

namespace tellwire {

// The small filled circle in front of the panel's status line.
class StatusDot : public QWidget {
    Q_OBJECT
public:
    static constexpr int kDiameter = 7;

    explicit StatusDot(QWidget* parent = nullptr);

    QColor color() const { return color_; }
    void setColor(const QColor& color);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor color_;
};

} // namespace tellwire
