#pragma once

#include <QString>

namespace tellwire {

// Text measures the settings form applies to what the user types.
namespace TextRules {

// Number of user-perceived characters (grapheme clusters).
qsizetype perceivedLength(const QString& text);

// The first `count` user-perceived characters of text.
QString leftPerceived(const QString& text, qsizetype count);

// Removes Unicode space separators (the ideographic space among them) and tabs
// from both ends; line breaks and inner blanks stay.
QString trimBlanks(const QString& text);

} // namespace TextRules

} // namespace tellwire
