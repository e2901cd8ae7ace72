#include "ui/AppearanceSettings.h"

#include "ui/Swatch.h"
#include "preferences/TextRules.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>

namespace tellwire {

AppearanceSettings::AppearanceSettings(Defaults& defaults, QWidget* parent)
    : FormSection(QStringLiteral("主题皮肤"), parent)
    , appearance_(defaults)
    , picker_(new QComboBox(this))
    , accentField_(new QLineEdit(this))
    , restore_(new QPushButton(QStringLiteral("恢复默认"), this))
{
    picker_->addItem(QStringLiteral("跟随系统"), QStringLiteral("system"));
    picker_->addItem(QStringLiteral("浅色"), QStringLiteral("light"));
    picker_->addItem(QStringLiteral("深色"), QStringLiteral("dark"));
    picker_->setMinimumWidth(120);
    addLabelledRow(QStringLiteral("显示模式"), picker_);

    auto* swatchRow = new QHBoxLayout;
    swatchRow->setSpacing(8);
    for (const QString& hex : Appearance::swatches()) {
        auto* swatch = new Swatch(hex, this);
        connect(swatch, &Swatch::clicked, this, [this, hex] { appearance_.setAccent(hex); });
        swatches_.append(swatch);
        swatchRow->addWidget(swatch);
    }
    swatchRow->addStretch(1);
    addRow(swatchRow);

    // Our own fields must never ask our own input method for keys.
    accentField_->setAttribute(Qt::WA_InputMethodEnabled, false);
    accentField_->setInputMethodHints(Qt::ImhNoPredictiveText | Qt::ImhPreferLatin);
    accentField_->setFixedWidth(150);
    addLabelledRow(QStringLiteral("自定义颜色 #RRGGBB"), accentField_);

    auto* restoreRow = new QHBoxLayout;
    restoreRow->addWidget(restore_);
    restoreRow->addStretch(1);
    addRow(restoreRow);

    connect(picker_, &QComboBox::activated, this, [this](int index) {
        appearance_.setAppearance(picker_->itemData(index).toString());
    });
    connect(accentField_, &QLineEdit::textEdited, this,
            [this](const QString& text) { appearance_.setAccent(text); });
    connect(restore_, &QPushButton::clicked, this, [this] { appearance_.restoreDefaults(); });
    connect(&appearance_, &Appearance::accentChanged, this, &AppearanceSettings::renderAccent);
    connect(&appearance_, &Appearance::appearanceChanged, this,
            &AppearanceSettings::renderAppearance);

    renderAccent();
    renderAppearance();
}

void AppearanceSettings::setOutlineColor(const QColor& color)
{
    for (Swatch* swatch : std::as_const(swatches_))
        swatch->setOutlineColor(color);
}

void AppearanceSettings::renderAccent()
{
    const QString accent = appearance_.accent();
    if (TextRules::perceivedLength(accent) > Appearance::kAccentLength) {
        // Writing the cut text comes back here through the change signal.
        appearance_.setAccent(Appearance::cutAccent(accent));
        return;
    }
    if (accentField_->text() != accent)
        accentField_->setText(accent);
    for (Swatch* swatch : std::as_const(swatches_))
        swatch->setMarked(appearance_.isSelected(swatch->hex()));
}

void AppearanceSettings::renderAppearance()
{
    picker_->setCurrentIndex(picker_->findData(appearance_.appearance()));
}

} // namespace tellwire
