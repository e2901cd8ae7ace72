#pragma once

#include <QString>

namespace tellwire {

// The desktop's general clipboard.
class Clipboard {
public:
    virtual ~Clipboard() = default;
    // Replaces the clipboard's contents by plain text.
    virtual void setText(const QString& text) = 0;
};

} // namespace tellwire
