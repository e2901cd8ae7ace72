#include "ui/DesktopPanel.h"

#include "model/DesktopState.h"
#include "ui/WindowStyle.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QStringList>
#include <QTextBlockFormat>
#include <QTextCursor>
#include <QTextEdit>
#include <QVBoxLayout>

namespace tellwire {

DesktopPanel::DesktopPanel(DesktopState& state, QWidget* parent)
    : QWidget(parent)
    , state_(state)
    , theme_(state.defaults())
    , dot_(new QLabel(this))
    , status_(new QLabel(this))
    , mode_(new QLabel(this))
    , transcript_(new QTextEdit(this))
    , hint_(new QLabel(QStringLiteral("点击输入框后，文字将在光标处输入"), this))
    , copy_(new QPushButton(QStringLiteral("复制文字"), this))
    , pause_(new QPushButton(this))
{
    setObjectName(QStringLiteral("desktopPanel"));
    setAttribute(Qt::WA_StyledBackground);
    dot_->setObjectName(QStringLiteral("panelDot"));
    dot_->setFixedSize(kDotDiameter, kDotDiameter);
    mode_->setObjectName(QStringLiteral("panelMode"));
    hint_->setObjectName(QStringLiteral("panelHint"));
    transcript_->setObjectName(QStringLiteral("panelTranscript"));
    copy_->setObjectName(QStringLiteral("panelCopy"));
    pause_->setObjectName(QStringLiteral("panelPause"));

    // The panel never takes the keyboard from the application being typed into.
    for (QWidget* control : {static_cast<QWidget*>(copy_), static_cast<QWidget*>(pause_)})
        control->setFocusPolicy(Qt::NoFocus);
    copy_->setCursor(Qt::PointingHandCursor);
    pause_->setCursor(Qt::PointingHandCursor);

    status_->setTextFormat(Qt::PlainText);
    hint_->setFont(WindowStyle::captionFont(font()));

    transcript_->setReadOnly(true);
    transcript_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    transcript_->setAttribute(Qt::WA_InputMethodEnabled, false);
    transcript_->setFocusPolicy(Qt::NoFocus);
    transcript_->setAcceptRichText(false);
    transcript_->setMinimumHeight(kTranscriptMinimumHeight);
    transcript_->setFont(WindowStyle::titleFont(font()));
    transcript_->setFrameShape(QFrame::NoFrame);
    transcript_->setLineWrapMode(QTextEdit::WidgetWidth);
    transcript_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);

    auto* statusRow = new QHBoxLayout;
    statusRow->setSpacing(8);
    statusRow->addWidget(dot_, 0, Qt::AlignVCenter);
    statusRow->addWidget(status_);
    statusRow->addStretch(1);
    statusRow->addWidget(mode_);

    auto* controlRow = new QHBoxLayout;
    controlRow->setSpacing(8);
    controlRow->addWidget(hint_);
    controlRow->addStretch(1);
    controlRow->addWidget(copy_);
    controlRow->addWidget(pause_);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(kMargin, kMargin, kMargin, kMargin);
    layout->setSpacing(kRowSpacing);
    layout->addLayout(statusRow);
    layout->addWidget(transcript_, 1);
    layout->addLayout(controlRow);

    connect(copy_, &QPushButton::clicked, this, [this] { state_.copyAll(); });
    connect(pause_, &QPushButton::clicked, this, &DesktopPanel::togglePause);
    connect(&state_, &DesktopState::statusChanged, this, &DesktopPanel::renderStatus);
    connect(&state_, &DesktopState::chineseChanged, this, &DesktopPanel::renderMode);
    connect(&state_, &DesktopState::historyChanged, this, &DesktopPanel::renderHistory);
    connect(&state_, &DesktopState::pausedChanged, this, &DesktopPanel::renderPaused);
    connect(&theme_, &WindowTheme::changed, this, &DesktopPanel::renderAppearance);

    renderStatus();
    renderMode();
    renderHistory();
    renderPaused();
    renderAppearance();
}

void DesktopPanel::renderStatus()
{
    status_->setText(state_.status());
}

void DesktopPanel::renderMode()
{
    mode_->setText(state_.chinese() ? QStringLiteral("中") : QStringLiteral("EN"));
}

void DesktopPanel::renderHistory()
{
    // Rebuilt in full; the reader's scroll position is kept.
    QScrollBar* bar = transcript_->verticalScrollBar();
    const int position = bar->value();
    transcript_->setPlainText(state_.historyText());
    QTextCursor cursor(transcript_->document());
    cursor.select(QTextCursor::Document);
    QTextBlockFormat spacing;
    spacing.setLineHeight(kLineSpacing, QTextBlockFormat::LineDistanceHeight);
    cursor.mergeBlockFormat(spacing);
    bar->setValue(position);
}

void DesktopPanel::renderPaused()
{
    pause_->setText(state_.paused() ? QStringLiteral("恢复接收") : QStringLiteral("暂停接收"));
}

void DesktopPanel::renderAppearance()
{
    const Theme theme = theme_.theme();
    const QColor accent = theme_.accent();
    setStyleSheet(WindowStyle::panel(theme, accent));
    setPalette(theme.palette(accent));
}

void DesktopPanel::togglePause()
{
    state_.setPaused(!state_.paused());
}

} // namespace tellwire
