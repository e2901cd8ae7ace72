#include "ui/DesktopSettings.h"

#include "model/DesktopState.h"
#include "relayclient/SignIn.h"
#include "ui/AppearanceSettings.h"
#include "ui/FormSection.h"
#include "ui/KeyboardSettings.h"
#include "ui/PhonePairingView.h"
#include "preferences/TextRules.h"
#include "ui/WindowStyle.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QUrl>
#include <QVBoxLayout>

namespace tellwire {

namespace {

constexpr int kFieldWidth = 200;

// Our own fields take digits and colour codes only; their keys must never go
// through our own input method, which lives in this very process.
QLineEdit* plainField(QWidget* parent)
{
    auto* field = new QLineEdit(parent);
    field->setAttribute(Qt::WA_InputMethodEnabled, false);
    field->setInputMethodHints(Qt::ImhNoPredictiveText | Qt::ImhPreferNumbers);
    field->setFixedWidth(kFieldWidth);
    return field;
}

QLabel* wrappedLabel(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    return label;
}

} // namespace

DesktopSettings::DesktopSettings(DesktopState& state, SignIn& signIn, PhonePairing& pairing, QWidget* parent)
    : QWidget(parent)
    , state_(state)
    , signIn_(signIn)
    , theme_(state.defaults())
    , scroll_(new QScrollArea(this))
    , phone_(plainField(this))
    , code_(plainField(this))
    , requestCode_(new QPushButton(QStringLiteral("获取验证码"), this))
    , login_(new QPushButton(QStringLiteral("登录并绑定此电脑"), this))
    , host_(new QLabel(this))
    , status_(wrappedLabel(QString(), this))
    , appearanceSettings_(new AppearanceSettings(state.defaults(), this))
    , keyboardSettings_(new QPushButton(QStringLiteral("打开键盘与输入法设置"), this))
    , clearHistory_(new QPushButton(QStringLiteral("清空本机转写记录"), this))
    , error_(wrappedLabel(QString(), this))
{
    setObjectName(QStringLiteral("desktopSettings"));
    setAttribute(Qt::WA_StyledBackground);

    auto* body = new QWidget;
    body->setObjectName(QStringLiteral("settingsBody"));
    auto* form = new QVBoxLayout(body);
    form->setContentsMargins(20, 14, 20, 16);
    form->setSpacing(12);

    auto* signInSection = new FormSection(QStringLiteral("手机号注册 / 登录"), body);
    signInSection->addLabelledRow(QStringLiteral("中国大陆手机号"), phone_);
    signInSection->addLabelledRow(QStringLiteral("6 位验证码"), code_);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(requestCode_);
    buttons->addWidget(login_);
    buttons->addStretch(1);
    signInSection->addRow(buttons);
    auto* note = wrappedLabel(
        QStringLiteral("首次验证会自动注册；以后登录同一手机号可恢复这台电脑的连接。"), body);
    note->setObjectName(QStringLiteral("settingsNote"));
    note->setFont(WindowStyle::captionFont(font()));
    signInSection->addRow(note);
    form->addWidget(signInSection);
    // The relay on this machine signs the desktop in by itself.
    const bool local = signIn.isLocal();
    signInSection->setVisible(!local);

    auto* connection = new FormSection(QStringLiteral("连接手机"), body);
    host_->setObjectName(QStringLiteral("settingsSecondary"));
    host_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    connection->addLabelledRow(QStringLiteral("线上服务"), host_);
    if (local) {
        pairingView_ = new PhonePairingView(pairing, body);
        connection->addRow(pairingView_);
    } else {
        connection->addRow(wrappedLabel(QStringLiteral("手机和电脑使用同一手机号登录后自动连接，无需配对码。"), body));
    }
    status_->setObjectName(QStringLiteral("settingsSecondary"));
    connection->addRow(status_);
    form->addWidget(connection);

    appearanceSettings_->setParent(body);
    form->addWidget(appearanceSettings_);

    auto* inputMethod = new FormSection(QStringLiteral("输入法"), body);
    inputMethod->addRow(wrappedLabel(
        QStringLiteral("在系统设置 → 键盘 → 输入法中添加「语音输入」。Shift + 空格切换中英文。"), body));
    for (QPushButton* button : {keyboardSettings_, clearHistory_}) {
        auto* row = new QHBoxLayout;
        row->addWidget(button);
        row->addStretch(1);
        inputMethod->addRow(row);
    }
    form->addWidget(inputMethod);

    error_->setObjectName(QStringLiteral("settingsError"));
    error_->setContentsMargins(12, 0, 12, 0);
    form->addWidget(error_);
    form->addStretch(1);

    scroll_->setWidget(body);
    scroll_->setWidgetResizable(true);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scroll_);

    connect(code_, &QLineEdit::textChanged, this, &DesktopSettings::renderLoginEnabled);
    connect(requestCode_, &QPushButton::clicked, this, &DesktopSettings::requestCode);
    connect(login_, &QPushButton::clicked, this, &DesktopSettings::signIn);
    connect(keyboardSettings_, &QPushButton::clicked, this, [] { KeyboardSettings::open(); });
    connect(clearHistory_, &QPushButton::clicked, this, [this] { state_.clearHistory(); });
    connect(&state_, &DesktopState::baseChanged, this, &DesktopSettings::renderHost);
    connect(&state_, &DesktopState::statusChanged, this, &DesktopSettings::renderStatus);
    connect(&state_, &DesktopState::errorChanged, this, &DesktopSettings::renderError);
    connect(&theme_, &WindowTheme::changed, this, &DesktopSettings::renderAppearance);

    renderHost();
    renderStatus();
    renderError();
    renderLoginEnabled();
    renderAppearance();
}

void DesktopSettings::renderHost()
{
    const QUrl origin(state_.base());
    host_->setText(origin.port() == -1 ? origin.host() : origin.host() + u':' + QString::number(origin.port()));
}

void DesktopSettings::renderStatus()
{
    status_->setText(state_.status());
}

void DesktopSettings::renderError()
{
    error_->setText(state_.error());
    error_->setVisible(!state_.error().isEmpty());
}

void DesktopSettings::renderLoginEnabled()
{
    login_->setEnabled(TextRules::perceivedLength(code_->text()) == kCodeLength);
}

void DesktopSettings::renderAppearance()
{
    const Theme theme = theme_.theme();
    setStyleSheet(WindowStyle::settings(theme));
    setPalette(theme.palette(theme.focus));
    appearanceSettings_->setOutlineColor(theme.text);
}

void DesktopSettings::requestCode()
{
    signIn_.requestPhoneCode(TextRules::trimBlanks(phone_->text()));
}

void DesktopSettings::signIn()
{
    signIn_.login(TextRules::trimBlanks(phone_->text()), TextRules::trimBlanks(code_->text()));
}

} // namespace tellwire
