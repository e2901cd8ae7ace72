#pragma once

#include <QColor>
#include <QIcon>
#include <QString>

namespace tellwire {

// An icon showing one character in white on a rounded square of background,
// drawn at the sizes desktop trays ask for.
QIcon glyphIcon(const QString& glyph, const QColor& background);

} // namespace tellwire
