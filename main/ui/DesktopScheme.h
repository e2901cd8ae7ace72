#pragma once

#include <QObject>

namespace tellwire {

// Whether the desktop itself is dark, and word when that changes (the desktop
// theme or the application palette switched).
class DesktopScheme : public QObject {
    Q_OBJECT
public:
    explicit DesktopScheme(QObject* parent = nullptr);

    static bool isDark();

signals:
    void changed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

} // namespace tellwire
