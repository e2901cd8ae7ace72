#pragma once

#include "preferences/Appearance.h"
#include "preferences/HexColor.h"

#include <QColor>
#include <QPalette>

namespace tellwire {

// The colours of one scheme as the windows paint them.
struct Theme {
    bool dark = false;
    QColor window;        // window background
    QColor surface;       // grouped rows and the transcript area
    QColor text;          // primary foreground
    QColor secondaryText; // dimmed foreground
    QColor separator;     // hairlines between rows
    QColor field;         // text field background
    QColor control;       // plain button background
    QColor controlBorder;
    QColor focus;         // focus ring and selection outside the panel
    QColor error;

    // "System" takes the desktop's side, light or dark.
    static Theme forScheme(Appearance::Scheme scheme, bool desktopIsDark);
    static Theme lightScheme();
    static Theme darkScheme();

    // A palette for the widgets drawn by the style (pickers, scroll bars).
    QPalette palette(const QColor& highlight) const;
};

QColor toQColor(const HexColor& color);
// Black or white, whichever reads better on background.
QColor readableOn(const QColor& background);

} // namespace tellwire
