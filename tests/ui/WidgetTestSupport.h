#pragma once

// Shared pieces of the widget tests: a model on in-memory services and the
// desktop clipboard, and how the windows look.

#include "relay/Defaults.h"
#include "relay/DesktopState.h"
#include "relay/SecretStore.h"
#include "relay/Transcript.h"
#include "support/Fakes.h"
#include "ui/QtClipboard.h"

#include <QColor>
#include <QImage>
#include <QPalette>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>
#include <optional>

namespace tellwire::testing {

inline Transcript finalTranscript(const QString& utterance, const std::optional<QString>& text)
{
    Transcript t;
    t.utterance = utterance;
    t.text = text;
    t.final = true;
    return t;
}

inline constexpr QRgb kTeal = 0x0c9488;
inline constexpr QRgb kViolet = 0x7c3aed;

inline bool isDark(const QWidget& window)
{
    return window.palette().color(QPalette::Window).lightness() < 128;
}

// The colour a widget shows at its middle, as drawn.
inline QColor middleColour(QWidget& widget)
{
    const QImage image = widget.grab().toImage();
    return image.pixelColor(image.width() / 2, image.height() / 2);
}

// A model with nothing stored: no token, no preferences.
class ModelTest : public ::testing::Test {
protected:
    MemorySecretStore secrets;
    MemoryDefaults defaults;
    QtClipboard clipboard;
    std::unique_ptr<DesktopState> state = std::make_unique<DesktopState>(secrets, defaults, &clipboard);
};

} // namespace tellwire::testing
