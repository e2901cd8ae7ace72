#include "settingsfile/SettingsDefaults.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace tellwire {
namespace {

// What is written survives a restart, the empty text included (an emptied
// colour is not a missing one); a value that is not text reads as unset.
TEST(SettingsDefaultsTest, ValuesSurviveInTheFileAndEveryWriteIsAnnounced)
{
    EXPECT_EQ(SettingsDefaults().fileName(),
              QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/tellwire/tellwire.conf");
    QTemporaryDir folder;
    QStringList announced;
    {
        SettingsDefaults defaults(folder.filePath("tellwire.conf"));
        QObject::connect(&defaults, &Defaults::changed, [&](const QString& key) { announced.append(key); });
        defaults.setString("accent", QString());
        defaults.setString("appearance", "@dark, light");
    }
    EXPECT_EQ(announced, (QStringList{"accent", "appearance"}));
    const SettingsDefaults reopened(folder.filePath("tellwire.conf"));
    EXPECT_TRUE(reopened.contains("accent"));
    EXPECT_EQ(reopened.string("appearance"), "@dark, light");

    QFile edited(folder.filePath("edited.conf"));
    ASSERT_TRUE(edited.open(QIODevice::WriteOnly)
                && edited.write("accent=a, b\nappearance=@ByteArray(dark)\nendpoint=x\n") > 0 && edited.flush());
    const SettingsDefaults list(edited.fileName());
    EXPECT_FALSE(list.contains("accent") || list.contains("appearance"));
    EXPECT_EQ(list.string("accent") + list.string("appearance"), QString()) << "a list and bytes";
    EXPECT_EQ(list.string("endpoint"), "x");
}

} // namespace
} // namespace tellwire
