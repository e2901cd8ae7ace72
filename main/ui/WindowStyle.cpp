#include "ui/WindowStyle.h"

namespace tellwire::WindowStyle {

namespace {

QString css(const QColor& color)
{
    return color.name(QColor::HexRgb);
}

QFont scaled(const QFont& body, double factor, double minimumPoints)
{
    QFont font = body;
    const double points = body.pointSizeF() > 0 ? body.pointSizeF() : 10.0;
    font.setPointSizeF(qMax(points * factor, minimumPoints));
    return font;
}

} // namespace

QFont titleFont(const QFont& body)
{
    return scaled(body, 15.0 / 12.0, 11.0);
}

QFont captionFont(const QFont& body)
{
    return scaled(body, 0.9, 8.0);
}

QString panel(const Theme& t, const QColor& accent)
{
    const QColor onAccent = readableOn(accent);
    const QColor accentPressed = t.dark ? accent.lighter(120) : accent.darker(120);
    const QColor pauseFill = t.dark ? t.surface : t.control;
    // Deep accents need lifting to read as text on a dark window.
    const QColor accentText = t.dark && accent.lightness() < 150 ? accent.lighter(140) : accent;
    return QStringLiteral(R"(
#desktopPanel { background: %1; }
QLabel { color: %2; background: transparent; }
QLabel#panelMode, QLabel#panelHint { color: %3; }
QLabel#panelDot { background: %6; border-radius: 3px; }
QTextEdit#panelTranscript {
  background: %4; color: %2; border: 1px solid %5; border-radius: 10px;
  padding: 6px 8px; selection-background-color: %6; selection-color: %7;
}
QPushButton {
  border-radius: 6px; padding: 5px 14px; min-height: 18px;
}
QPushButton#panelCopy { background: %6; color: %7; border: 1px solid %6; }
QPushButton#panelCopy:pressed { background: %8; border-color: %8; }
QPushButton#panelPause { background: %9; color: %10; border: 1px solid %10; }
QPushButton#panelPause:pressed { background: %5; }
)")
        .arg(css(t.window), css(t.text), css(t.secondaryText), css(t.surface), css(t.separator),
             css(accent), css(onAccent), css(accentPressed), css(pauseFill))
        .arg(css(accentText));
}

QString settings(const Theme& t)
{
    const QColor pressed = t.dark ? t.control.lighter(125) : t.separator;
    return QStringLiteral(R"(
#desktopSettings, #settingsBody { background: %1; }
QScrollArea { background: %1; border: none; }
QLabel { color: %2; background: transparent; }
QLabel#sectionHeader, QLabel#settingsSecondary, QLabel#settingsNote { color: %3; }
QLabel#settingsError { color: %9; }
QFrame#sectionCard { background: %4; border: 1px solid %5; border-radius: 10px; }
QFrame#rowSeparator { background: %5; border: none; }
QLineEdit {
  background: %6; color: %2; border: 1px solid %7; border-radius: 6px;
  padding: 3px 8px; selection-background-color: %8; selection-color: white;
}
QLineEdit:focus { border: 1px solid %8; }
QPushButton {
  background: %10; color: %2; border: 1px solid %7; border-radius: 6px;
  padding: 4px 12px; min-height: 18px;
}
QPushButton:pressed { background: %11; }
QPushButton:disabled { color: %3; border-color: %5; }
QPushButton:focus { border: 1px solid %8; }
QScrollBar:vertical { background: transparent; width: 10px; margin: 2px 2px 2px 0; }
QScrollBar::handle:vertical { background: %7; border-radius: 4px; min-height: 30px; }
QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }
QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: transparent; }
)")
        .arg(css(t.window), css(t.text), css(t.secondaryText), css(t.surface), css(t.separator),
             css(t.field), css(t.controlBorder), css(t.focus), css(t.error))
        .arg(css(t.control), css(pressed));
}

} // namespace tellwire::WindowStyle
