#pragma once

#include "ui/Theme.h"

#include <QColor>
#include <QFont>
#include <QString>

namespace tellwire {

// Style sheets and text sizes shared by the panel and the settings window.
namespace WindowStyle {

// The transcript's size: a step above body text.
QFont titleFont(const QFont& body);
// Hints and notes: a step below body text, kept readable for Chinese.
QFont captionFont(const QFont& body);

// The panel, its controls tinted with accent.
QString panel(const Theme& theme, const QColor& accent);
// The settings window: grouped rows, no tint.
QString settings(const Theme& theme);

} // namespace WindowStyle

} // namespace tellwire
