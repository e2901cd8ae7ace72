#pragma once

#include "ui/WindowTheme.h"

#include <QWidget>

class QLabel;
class QPushButton;
class QTextEdit;

namespace tellwire {

class DesktopState;

// The transcript panel's content: connection status and input mode, the
// received text oldest first, and the copy and pause controls. Holds nothing
// of its own; everything is redrawn from the model and the appearance keys.
class DesktopPanel : public QWidget {
    Q_OBJECT
public:
    static constexpr int kMargin = 24;
    static constexpr int kRowSpacing = 18;
    static constexpr int kTranscriptMinimumHeight = 120;
    static constexpr int kLineSpacing = 7;
    static constexpr int kDotDiameter = 7;

    explicit DesktopPanel(DesktopState& state, QWidget* parent = nullptr);

    // A 7-point circle in the accent colour.
    QLabel* statusDot() const { return dot_; }
    QLabel* statusLabel() const { return status_; }
    QLabel* modeLabel() const { return mode_; }
    QTextEdit* transcript() const { return transcript_; }
    QLabel* hintLabel() const { return hint_; }
    QPushButton* copyButton() const { return copy_; }
    QPushButton* pauseButton() const { return pause_; }

private:
    void renderStatus();
    void renderMode();
    void renderHistory();
    void renderPaused();
    void renderAppearance();
    void togglePause();

    DesktopState& state_;
    WindowTheme theme_;
    QLabel* dot_;
    QLabel* status_;
    QLabel* mode_;
    QTextEdit* transcript_;
    QLabel* hint_;
    QPushButton* copy_;
    QPushButton* pause_;
};

} // namespace tellwire
