#pragma once

#include "preferences/Appearance.h"
#include "ui/Theme.h"

#include <QColor>
#include <QObject>

namespace tellwire {

class Defaults;

// What a window paints with: the chosen scheme, or the desktop's own while the
// choice is "system", and the accent. Tells when any of them changes.
class WindowTheme : public QObject {
    Q_OBJECT
public:
    explicit WindowTheme(Defaults& defaults, QObject* parent = nullptr);

    Theme theme() const;
    QColor accent() const { return toQColor(appearance_.accentColor()); }

    static bool desktopIsDark();

signals:
    void changed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Appearance appearance_;
};

} // namespace tellwire
