#pragma once

#include <QAbstractButton>
#include <QColor>

namespace tellwire {

// One theme colour to pick: a filled circle, outlined while it is the chosen one.
class Swatch : public QAbstractButton {
    Q_OBJECT
public:
    static constexpr int kDiameter = 28;
    static constexpr int kOutlineWidth = 2;

    // hex: the stored text this swatch stands for.
    explicit Swatch(const QString& hex, QWidget* parent = nullptr);

    const QString& hex() const { return hex_; }
    bool isMarked() const { return marked_; }
    void setMarked(bool marked);
    void setOutlineColor(const QColor& color);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString hex_;
    QColor fill_;
    QColor outline_;
    bool marked_ = false;
};

} // namespace tellwire
