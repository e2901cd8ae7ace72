#include "ui/Appearance.h"

#include "relay/Defaults.h"
#include "relay/SettingsDefaults.h"

#include <gtest/gtest.h>

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
        {"Dark", Appearance::Scheme::Light},    {"", Appearance::Scheme::Light},
    };
    for (const auto& [stored, scheme] : cases) {
        appearance.setAppearance(stored);
        EXPECT_EQ(appearance.scheme(), scheme) << stored.toStdString();
    }
}

// A stored empty text is not a missing one: teal, but no swatch chosen, also
// after the settings file is read again.
TEST(AppearanceTest, AnEmptiedAccentStaysEmptyAcrossLaunches)
{
    QTemporaryDir folder;
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
