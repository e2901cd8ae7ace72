#include "ui/AppearanceSettings.h"

#include "ui/DesktopPanel.h"
#include "ui/DesktopSettings.h"
#include "ui/StatusDot.h"
#include "ui/Swatch.h"
#include "WidgetTestSupport.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace tellwire {
namespace {

// The appearance section inside the settings window, with the panel beside it.
class AppearanceSettingsTest : public testing::ModelTest {
protected:
    std::unique_ptr<DesktopSettings> settings;
    std::unique_ptr<DesktopPanel> panel;
    AppearanceSettings* section = nullptr;

    void SetUp() override
    {
        ModelTest::SetUp();
        settings = std::make_unique<DesktopSettings>(*state);
        panel = std::make_unique<DesktopPanel>(*state);
        settings->show();
        panel->show();
        section = settings->appearanceSettings();
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

    void typeAccent(const QString& text)
    {
        section->accentField()->selectAll();
        QTest::keyClick(section->accentField(), Qt::Key_Backspace);
        QTest::keyClicks(section->accentField(), text);
    }

    void choose(const QString& option)
    {
        QComboBox* picker = section->schemePicker();
        const int index = picker->findText(option);
        ASSERT_GE(index, 0) << option.toStdString();
        picker->setCurrentIndex(index);
        emit picker->activated(index);
    }

    static bool isDark(const QWidget& widget)
    {
        return widget.palette().color(QPalette::Window).lightness() < 128;
    }
};

TEST_F(AppearanceSettingsTest, NothingStoredShowsSystemAndTeal)
{
    QComboBox* picker = section->schemePicker();
    ASSERT_EQ(picker->count(), 3);
    EXPECT_EQ(picker->itemText(0), QStringLiteral("跟随系统"));
    EXPECT_EQ(picker->itemText(1), QStringLiteral("浅色"));
    EXPECT_EQ(picker->itemText(2), QStringLiteral("深色"));
    EXPECT_EQ(picker->currentText(), QStringLiteral("跟随系统"));
    EXPECT_EQ(marked(), QStringList{"#0c9488"});
    EXPECT_EQ(section->accentField()->text(), QStringLiteral("#0c9488"));
    EXPECT_EQ(panel->statusDot()->color(), QColor(0x0c, 0x94, 0x88));
    EXPECT_EQ(section->restoreButton()->text(), QStringLiteral("恢复默认"));
    // Nothing is written until the user changes something.
    EXPECT_FALSE(defaults.contains(QStringLiteral("accent")));
}

TEST_F(AppearanceSettingsTest, SwatchesComeInOrderAndPressingOneChoosesIt)
{
    QStringList hexes, names;
    for (const Swatch* swatch : section->swatches()) {
        hexes.append(swatch->hex());
        names.append(swatch->accessibleName());
        EXPECT_EQ(swatch->size(), QSize(Swatch::kDiameter + Swatch::kOutlineWidth,
                                        Swatch::kDiameter + Swatch::kOutlineWidth));
    }
    EXPECT_EQ(hexes, (QStringList{"#0c9488", "#2563eb", "#7c3aed", "#dc4b6c"}));
    EXPECT_EQ(names.first(), QStringLiteral("主题色 #0c9488"));

    QTest::mouseClick(section->swatches().at(2), Qt::LeftButton);
    EXPECT_EQ(defaults.string(QStringLiteral("accent")), QStringLiteral("#7c3aed"));
    EXPECT_EQ(marked(), QStringList{"#7c3aed"});
    EXPECT_EQ(section->accentField()->text(), QStringLiteral("#7c3aed"));
    EXPECT_EQ(panel->statusDot()->color(), QColor(0x7c, 0x3a, 0xed));
}

TEST_F(AppearanceSettingsTest, UpperCaseCodeColoursButMarksNoSwatch)
{
    typeAccent(QStringLiteral("#7C3AED"));
    EXPECT_EQ(defaults.string(QStringLiteral("accent")), QStringLiteral("#7C3AED"));
    EXPECT_EQ(panel->statusDot()->color(), QColor(0x7c, 0x3a, 0xed));
    EXPECT_TRUE(marked().isEmpty());
}

TEST_F(AppearanceSettingsTest, LongTextIsCutToSevenCharacters)
{
    QApplication::clipboard()->setText(QStringLiteral("#2563ebaa"));
    section->accentField()->selectAll();
    section->accentField()->paste();
    EXPECT_EQ(section->accentField()->text(), QStringLiteral("#2563eb"));
    EXPECT_EQ(defaults.string(QStringLiteral("accent")), QStringLiteral("#2563eb"));
    EXPECT_EQ(marked(), QStringList{"#2563eb"});

    // Written from elsewhere while the window exists, too.
    defaults.setString(QStringLiteral("accent"), QStringLiteral("#dc4b6c00ff"));
    EXPECT_EQ(defaults.string(QStringLiteral("accent")), QStringLiteral("#dc4b6c"));
    EXPECT_EQ(section->accentField()->text(), QStringLiteral("#dc4b6c"));

    typeAccent(QStringLiteral("#1234567890"));
    EXPECT_EQ(section->accentField()->text(), QStringLiteral("#123456"));
}

TEST_F(AppearanceSettingsTest, LoneHashOrEmptyFieldGivesTealAndMarksNothing)
{
    typeAccent(QStringLiteral("#"));
    EXPECT_EQ(panel->statusDot()->color(), QColor(0x0c, 0x94, 0x88));
    EXPECT_TRUE(marked().isEmpty());

    typeAccent(QString());
    EXPECT_EQ(section->accentField()->text(), QString());
    EXPECT_EQ(panel->statusDot()->color(), QColor(0x0c, 0x94, 0x88));
    EXPECT_TRUE(marked().isEmpty());
}

TEST_F(AppearanceSettingsTest, PickerSwitchesBothWindowsTogether)
{
    choose(QStringLiteral("深色"));
    EXPECT_EQ(defaults.string(QStringLiteral("appearance")), QStringLiteral("dark"));
    EXPECT_TRUE(isDark(*settings));
    EXPECT_TRUE(isDark(*panel));

    choose(QStringLiteral("浅色"));
    EXPECT_EQ(defaults.string(QStringLiteral("appearance")), QStringLiteral("light"));
    EXPECT_FALSE(isDark(*settings));
    EXPECT_FALSE(isDark(*panel));

    defaults.setString(QStringLiteral("appearance"), QStringLiteral("dark"));
    EXPECT_EQ(section->schemePicker()->currentText(), QStringLiteral("深色"));
    EXPECT_TRUE(isDark(*settings));
}

TEST_F(AppearanceSettingsTest, RestoreReturnsToSystemAndTeal)
{
    choose(QStringLiteral("深色"));
    QTest::mouseClick(section->swatches().at(2), Qt::LeftButton);
    ASSERT_TRUE(isDark(*panel));

    QTest::mouseClick(section->restoreButton(), Qt::LeftButton);
    EXPECT_EQ(defaults.string(QStringLiteral("accent")), QStringLiteral("#0c9488"));
    EXPECT_EQ(defaults.string(QStringLiteral("appearance")), QStringLiteral("system"));
    EXPECT_EQ(section->schemePicker()->currentText(), QStringLiteral("跟随系统"));
    EXPECT_EQ(marked(), QStringList{"#0c9488"});
    EXPECT_EQ(section->accentField()->text(), QStringLiteral("#0c9488"));
    EXPECT_FALSE(isDark(*panel)); // the offscreen desktop is light
    EXPECT_FALSE(isDark(*settings));
    EXPECT_EQ(panel->statusDot()->color(), QColor(0x0c, 0x94, 0x88));
}

} // namespace
} // namespace tellwire
