#include "ui/AppearanceSettings.h"

#include "ui/DesktopPanel.h"
#include "ui/DesktopSettings.h"
#include "ui/Swatch.h"
#include "WidgetTestSupport.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace tellwire {
namespace {

using testing::isDark;
using testing::kTeal;
using testing::kViolet;

// The appearance section inside the settings window, with the panel beside it.
class AppearanceSettingsTest : public testing::ModelTest {
protected:
    DesktopSettings settings{*state};
    DesktopPanel panel{*state};
    AppearanceSettings* section = settings.appearanceSettings();

    void SetUp() override
    {
        settings.show();
        panel.show();
    }

    QStringList marked() const
    {
        QStringList result;
        for (const Swatch* swatch : section->swatches()) {
            if (swatch->isMarked())
                result.append(swatch->hex());
        }
        return result;
    }

    QColor dot() { return testing::middleColour(*panel.statusDot()); }

    void choose(const QString& option)
    {
        QComboBox* picker = section->schemePicker();
        picker->setCurrentIndex(picker->findText(option));
        emit picker->activated(picker->currentIndex());
    }
};

TEST_F(AppearanceSettingsTest, TypedPastedOrStoredCodesAreCutToSevenAndMarkOnlyAnExactSwatch)
{
    struct Case {
        QString typed, kept;
        QRgb colour;
        QStringList marked;
    };
    const Case cases[] = {
        {"#7C3AED", "#7C3AED", kViolet, {}}, // the comparison is case-sensitive
        {"", "", kTeal, {}},
        {"#2563eb", "#2563eb", 0x2563eb, {"#2563eb"}},
        {"#1234567890", "#123456", 0x123456, {}},
    };
    for (const Case& c : cases) {
        section->accentField()->selectAll();
        QTest::keyClick(section->accentField(), Qt::Key_Backspace);
        QTest::keyClicks(section->accentField(), c.typed);
        EXPECT_EQ(section->accentField()->text(), c.kept) << c.typed.toStdString();
        EXPECT_EQ(defaults.string(QStringLiteral("accent")), c.kept);
        EXPECT_EQ(dot(), QColor(c.colour)) << c.typed.toStdString();
        EXPECT_EQ(marked(), c.marked) << c.typed.toStdString();
    }

    QApplication::clipboard()->setText(QStringLiteral("#2563ebaa"));
    section->accentField()->selectAll();
    section->accentField()->paste();
    EXPECT_EQ(section->accentField()->text(), QStringLiteral("#2563eb"));
    EXPECT_EQ(marked(), QStringList{"#2563eb"});

    defaults.setString(QStringLiteral("accent"), QStringLiteral("#dc4b6c00ff"));
    EXPECT_EQ(defaults.string(QStringLiteral("accent")), QStringLiteral("#dc4b6c"));
    EXPECT_EQ(section->accentField()->text(), QStringLiteral("#dc4b6c"));
}

// Starting from nothing stored, and returning there.
TEST_F(AppearanceSettingsTest, SwatchesPickerAndRestoreRestyleBothWindowsTogether)
{
    auto expectDefaults = [&] {
        EXPECT_EQ(section->schemePicker()->currentText(), QStringLiteral("跟随系统"));
        EXPECT_EQ(marked(), QStringList{"#0c9488"});
        EXPECT_EQ(section->accentField()->text(), QStringLiteral("#0c9488"));
        EXPECT_EQ(dot(), QColor(kTeal));
        EXPECT_FALSE(isDark(panel)); // the offscreen desktop is light
        EXPECT_FALSE(isDark(settings));
    };
    QStringList hexes;
    for (const Swatch* swatch : section->swatches()) {
        hexes.append(swatch->hex());
        EXPECT_EQ(swatch->size(), QSize(30, 30)) << "28-point circle and its 2-point outline";
    }
    EXPECT_EQ(hexes, (QStringList{"#0c9488", "#2563eb", "#7c3aed", "#dc4b6c"}));
    QStringList options;
    for (int i = 0; i < section->schemePicker()->count(); ++i)
        options.append(section->schemePicker()->itemText(i));
    EXPECT_EQ(options, (QStringList{"跟随系统", "浅色", "深色"}));
    EXPECT_EQ(section->restoreButton()->text(), QStringLiteral("恢复默认"));
    expectDefaults();
    EXPECT_FALSE(defaults.contains(QStringLiteral("accent"))) << "nothing written until the user acts";

    choose(QStringLiteral("深色"));
    EXPECT_EQ(defaults.string(QStringLiteral("appearance")), QStringLiteral("dark"));
    EXPECT_TRUE(isDark(settings));
    EXPECT_TRUE(isDark(panel));
    choose(QStringLiteral("浅色"));
    EXPECT_EQ(defaults.string(QStringLiteral("appearance")), QStringLiteral("light"));
    EXPECT_FALSE(isDark(settings));
    EXPECT_FALSE(isDark(panel));
    defaults.setString(QStringLiteral("appearance"), QStringLiteral("dark"));
    EXPECT_EQ(section->schemePicker()->currentText(), QStringLiteral("深色"));
    EXPECT_TRUE(isDark(settings));

    EXPECT_EQ(panel.palette().color(QPalette::Highlight), QColor(kTeal));
    QTest::mouseClick(section->swatches().at(2), Qt::LeftButton);
    EXPECT_EQ(defaults.string(QStringLiteral("accent")), QStringLiteral("#7c3aed"));
    EXPECT_EQ(marked(), QStringList{"#7c3aed"});
    EXPECT_EQ(section->accentField()->text(), QStringLiteral("#7c3aed"));
    EXPECT_EQ(dot(), QColor(kViolet));
    EXPECT_EQ(panel.palette().color(QPalette::Highlight), QColor(kViolet));
    const QImage copy = panel.copyButton()->grab().toImage();
    EXPECT_EQ(copy.pixelColor(6, copy.height() / 2), QColor(kViolet)) << "filled with the accent";

    QTest::mouseClick(section->restoreButton(), Qt::LeftButton);
    EXPECT_EQ(defaults.string(QStringLiteral("accent")), QStringLiteral("#0c9488"));
    EXPECT_EQ(defaults.string(QStringLiteral("appearance")), QStringLiteral("system"));
    expectDefaults();
}

} // namespace
} // namespace tellwire
