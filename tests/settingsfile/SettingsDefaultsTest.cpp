#include "settingsfile/SettingsDefaults.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

namespace tellwire {
namespace {

// What is written survives a restart, the empty text too (an emptied colour is not a missing one).
TEST(SettingsDefaultsTest, ValuesSurviveInTheFileAndEveryWriteIsAnnounced)
{
    QTemporaryDir folder;
    const QString file = folder.filePath("tellwire.conf");
    QStringList announced;
    {
        SettingsDefaults defaults(file);
        QObject::connect(&defaults, &Defaults::changed, [&](const QString& key) { announced.append(key); });
        defaults.setString("accent", QString());
        defaults.setString("appearance", "@dark, light");
    }
    EXPECT_EQ(announced, (QStringList{"accent", "appearance"}));
    QFile edited(file); // by hand: a list and bytes, not text, read as unset
    ASSERT_TRUE(edited.open(QIODevice::Append) && edited.write("list=a, b\nbytes=@ByteArray(dark)\n") > 0);
    edited.close();
    const SettingsDefaults reopened(file);
    EXPECT_TRUE(reopened.contains("accent"));
    EXPECT_EQ(reopened.string("appearance"), "@dark, light");
    EXPECT_FALSE(reopened.contains("list") || reopened.contains("bytes"));
    EXPECT_EQ(reopened.string("list") + reopened.string("bytes"), QString());
}

} // namespace
} // namespace tellwire
