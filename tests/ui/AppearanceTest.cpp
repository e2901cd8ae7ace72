#include "ui/Appearance.h"

#include "relay/Defaults.h"
#include "relay/SettingsDefaults.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTemporaryDir>

namespace tellwire {
namespace {

TEST(AppearanceTest, SchemesOtherThanSystemAndDarkAreLight)
{
    MemoryDefaults defaults;
    Appearance appearance(defaults);
    EXPECT_EQ(appearance.scheme(), Appearance::Scheme::System);
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

TEST(AppearanceTest, RestoreWritesTealThenSystemAndEachKeyIsToldApart)
{
    MemoryDefaults defaults;
    Appearance appearance(defaults);
    QSignalSpy accent(&appearance, &Appearance::accentChanged);
    QSignalSpy scheme(&appearance, &Appearance::appearanceChanged);
    defaults.setString(QStringLiteral("endpoint"), QStringLiteral("https://example.org"));
    EXPECT_EQ(accent.size() + scheme.size(), 0);

    QSignalSpy writes(&defaults, &Defaults::changed);
    appearance.restoreDefaults();
    ASSERT_EQ(writes.size(), 2);
    EXPECT_EQ(writes.at(0).at(0).toString(), QStringLiteral("accent"));
    EXPECT_EQ(writes.at(1).at(0).toString(), QStringLiteral("appearance"));
    EXPECT_EQ(defaults.string("accent"), QStringLiteral("#0c9488"));
    EXPECT_EQ(defaults.string("appearance"), QStringLiteral("system"));
    EXPECT_EQ(accent.size(), 1);
    EXPECT_EQ(scheme.size(), 1);
}

// A stored empty text is not a missing one: teal, but no swatch chosen, also
// after the settings file is read again.
TEST(AppearanceTest, AnEmptiedAccentStaysEmptyAcrossLaunches)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString file = folder.filePath(QStringLiteral("tellwire.conf"));
    {
        SettingsDefaults defaults(file);
        Appearance appearance(defaults);
        EXPECT_TRUE(appearance.isSelected(QStringLiteral("#0c9488")));
        appearance.setAccent(QString());
    }
    SettingsDefaults defaults(file);
    Appearance appearance(defaults);
    EXPECT_EQ(appearance.accent(), QString());
    EXPECT_EQ(appearance.accentColor(), (HexColor{0x0c, 0x94, 0x88}));
    EXPECT_FALSE(appearance.isSelected(QStringLiteral("#0c9488")));
}

} // namespace
} // namespace tellwire
