#pragma once

#include "preferences/Appearance.h"
#include "ui/FormSection.h"

#include <QList>

class QComboBox;
class QLineEdit;
class QPushButton;

namespace tellwire {

class Defaults;
class Swatch;

// The "主题皮肤" section of the settings form: colour scheme, theme colour
// swatches, a free colour code and a way back to the defaults.
class AppearanceSettings : public FormSection {
    Q_OBJECT
public:
    explicit AppearanceSettings(Defaults& defaults, QWidget* parent = nullptr);

    QComboBox* schemePicker() const { return picker_; }
    const QList<Swatch*>& swatches() const { return swatches_; }
    QLineEdit* accentField() const { return accentField_; }
    QPushButton* restoreButton() const { return restore_; }

    // The swatches' outline follows the window's foreground colour.
    void setOutlineColor(const QColor& color);

private:
    void renderAccent();
    void renderAppearance();

    Appearance appearance_;
    QComboBox* picker_;
    QList<Swatch*> swatches_;
    QLineEdit* accentField_;
    QPushButton* restore_;
};

} // namespace tellwire
