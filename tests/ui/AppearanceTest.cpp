#include "ui/Appearance.h"

#include "relay/Defaults.h"
#include "relay/SettingsDefaults.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTemporaryDir>

namespace tellwire {
namespace {

class AppearanceTest : public ::testing::Test {
protected:
    MemoryDefaults defaults;
    Appearance appearance{defaults};
};

TEST_F(AppearanceTest, NothingStoredMeansTealAndTheDesktopsScheme)
{
    EXPECT_EQ(appearance.accent(), QStringLiteral("#0c9488"));
    EXPECT_EQ(appearance.accentColor(), (HexColor{0x0c, 0x94, 0x88}));
    EXPECT_EQ(appearance.appearance(), QStringLiteral("system"));
    EXPECT_EQ(appearance.scheme(), Appearance::Scheme::System);
    EXPECT_TRUE(appearance.isSelected(QStringLiteral("#0c9488")));
    EXPECT_EQ(Appearance::swatches(),
              (QStringList{"#0c9488", "#2563eb", "#7c3aed", "#dc4b6c"}));
}

TEST_F(AppearanceTest, UnknownSchemesAreLight)
{
    const std::pair<QString, Appearance::Scheme> cases[] = {
        {"system", Appearance::Scheme::System}, {"dark", Appearance::Scheme::Dark},
        {"light", Appearance::Scheme::Light},   {"Dark", Appearance::Scheme::Light},
        {"sepia", Appearance::Scheme::Light},   {"", Appearance::Scheme::Light},
    };
    for (const auto& [stored, scheme] : cases) {
        appearance.setAppearance(stored);
        EXPECT_EQ(appearance.scheme(), scheme) << stored.toStdString();
    }
}

TEST_F(AppearanceTest, SwatchesMatchOnlyTheExactText)
{
    appearance.setAccent(QStringLiteral("#7C3AED"));
    EXPECT_EQ(appearance.accentColor(), (HexColor{0x7c, 0x3a, 0xed}));
    for (const QString& swatch : Appearance::swatches())
        EXPECT_FALSE(appearance.isSelected(swatch)) << swatch.toStdString();

    // A stored empty text is not a missing one: teal, but no swatch chosen.
    appearance.setAccent(QString());
    EXPECT_EQ(appearance.accent(), QString());
    EXPECT_EQ(appearance.accentColor(), (HexColor{0x0c, 0x94, 0x88}));
    EXPECT_FALSE(appearance.isSelected(QStringLiteral("#0c9488")));
}

TEST_F(AppearanceTest, RestoreWritesTealThenSystem)
{
    appearance.setAccent(QStringLiteral("#7c3aed"));
    appearance.setAppearance(QStringLiteral("dark"));
    QSignalSpy writes(&defaults, &Defaults::changed);
    appearance.restoreDefaults();
    ASSERT_EQ(writes.size(), 2);
    EXPECT_EQ(writes.at(0).at(0).toString(), QStringLiteral("accent"));
    EXPECT_EQ(writes.at(1).at(0).toString(), QStringLiteral("appearance"));
    EXPECT_EQ(defaults.string("accent"), QStringLiteral("#0c9488"));
    EXPECT_EQ(defaults.string("appearance"), QStringLiteral("system"));
}

TEST_F(AppearanceTest, TellsAboutItsOwnKeysOnly)
{
    QSignalSpy accent(&appearance, &Appearance::accentChanged);
    QSignalSpy scheme(&appearance, &Appearance::appearanceChanged);
    defaults.setString(QStringLiteral("endpoint"), QStringLiteral("https://example.org"));
    defaults.setString(QStringLiteral("accent"), QStringLiteral("#2563eb"));
    defaults.setString(QStringLiteral("appearance"), QStringLiteral("dark"));
    EXPECT_EQ(accent.size(), 1);
    EXPECT_EQ(scheme.size(), 1);
}

TEST(AppearanceSettingsFileTest, AnEmptiedAccentStaysEmptyAcrossLaunches)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString file = folder.filePath(QStringLiteral("tellwire.conf"));
    {
        SettingsDefaults defaults(file);
        Appearance appearance(defaults);
        EXPECT_EQ(appearance.accent(), QStringLiteral("#0c9488"));
        appearance.setAccent(QString());
        appearance.setAppearance(QStringLiteral("dark"));
    }
    SettingsDefaults defaults(file);
    Appearance appearance(defaults);
    EXPECT_EQ(appearance.accent(), QString());
    EXPECT_FALSE(appearance.isSelected(QStringLiteral("#0c9488")));
    EXPECT_EQ(appearance.scheme(), Appearance::Scheme::Dark);
}

TEST_F(AppearanceTest, CutKeepsSevenCharacters)
{
    EXPECT_EQ(Appearance::cutAccent(QStringLiteral("#2563ebaa")), QStringLiteral("#2563eb"));
    EXPECT_EQ(Appearance::cutAccent(QStringLiteral("#2563eb")), QStringLiteral("#2563eb"));
    EXPECT_EQ(Appearance::cutAccent(QStringLiteral("颜色颜色颜色颜色")), QStringLiteral("颜色颜色颜色颜"));
}

} // namespace
} // namespace tellwire
