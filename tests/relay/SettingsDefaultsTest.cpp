#include "relay/SettingsDefaults.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace tellwire {
namespace {

TEST(SettingsDefaultsTest, ValuesSurviveAndEveryWriteIsAnnounced)
{
    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("tellwire.conf"));
    QStringList announced;
    {
        SettingsDefaults defaults(file);
        QObject::connect(&defaults, &Defaults::changed, [&](const QString& key) { announced.append(key); });
        EXPECT_EQ(defaults.string(QStringLiteral("accent")), QString());
        defaults.setString(QStringLiteral("accent"), QStringLiteral("#0c9488"));
        defaults.setString(QStringLiteral("appearance"), QStringLiteral("@dark, light"));
        EXPECT_EQ(defaults.string(QStringLiteral("accent")), QStringLiteral("#0c9488"));
    }
    EXPECT_EQ(announced, (QStringList{"accent", "appearance"}));

    const SettingsDefaults reopened(file);
    EXPECT_EQ(reopened.string(QStringLiteral("accent")), QStringLiteral("#0c9488"));
    EXPECT_EQ(reopened.string(QStringLiteral("appearance")), QStringLiteral("@dark, light"));
}

TEST(SettingsDefaultsTest, ValuesThatAreNotTextReadAsUnset)
{
    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("tellwire.conf"));
    QFile written(file);
    ASSERT_TRUE(written.open(QIODevice::WriteOnly));
    written.write("[General]\naccent=a, b\nappearance=dark\n");
    written.close();
    const SettingsDefaults defaults(file);
    EXPECT_EQ(defaults.string(QStringLiteral("accent")), QString());
    EXPECT_EQ(defaults.string(QStringLiteral("appearance")), QStringLiteral("dark"));
}

TEST(SettingsDefaultsTest, LivesInTheXdgConfigFolder)
{
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (config != qEnvironmentVariable("XDG_CONFIG_HOME"))
        GTEST_SKIP() << "needs the throwaway XDG_CONFIG_HOME of tools/with-test-session";
    SettingsDefaults defaults;
    EXPECT_EQ(defaults.fileName(), QDir(config).filePath(QStringLiteral("tellwire/tellwire.conf")));
    defaults.setString(QStringLiteral("endpoint"), QStringLiteral("https://relay.orrisfeld.cc"));
    EXPECT_TRUE(QFile::exists(defaults.fileName()));
}

} // namespace
} // namespace tellwire
