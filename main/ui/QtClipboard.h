#pragma once

#include "model/Clipboard.h"

namespace tellwire {

// The desktop clipboard through Qt; needs a QGuiApplication.
class QtClipboard final : public Clipboard {
public:
    void setText(const QString& text) override;
};

} // namespace tellwire
