// TellwireRegisterFcitx5 against the real fcitx5: Tellwire joins the user's
// input methods, whether fcitx5 runs or not, and nothing of theirs is lost.
#include "fcitx/PrivateFcitx5.h"
#include "support/ToolRun.h"

#include <gtest/gtest.h>

namespace tellwire {
namespace {

using namespace tellwire::testing;

const QByteArray kUsersProfile = "[Groups/0]\nName=Default\nDefault Layout=us\nDefaultIM=pinyin\n\n"
                                 "[Groups/0/Items/0]\nName=keyboard-us\nLayout=\n\n"
                                 "[Groups/0/Items/1]\nName=pinyin\nLayout=\n\n[GroupOrder]\n0=Default\n";
const QStringList kUsersWithTellwire{"keyboard-us", "pinyin", "tellwire"};

ToolRun registerTellwire()
{
    return runTool(QStringLiteral(TELLWIRE_REGISTER_FCITX5), {}, QProcessEnvironment::systemEnvironment());
}

TEST(RegisterFcitx5Test, AddsTellwireToTheProfileFcitx5ReadsWhenItStarts)
{
    ASSERT_TRUE(PrivateFcitx5::writeProfile(kUsersProfile));
    const ToolRun added = registerTellwire();
    EXPECT_EQ(added.exitCode, 0);
    EXPECT_EQ(added.out.trimmed(), QStringLiteral("已将 Tellwire 语音输入加入 fcitx5 的输入法列表。"));

    PrivateFcitx5 fcitx;
    ASSERT_TRUE(fcitx.start());
    EXPECT_EQ(PrivateFcitx5::currentGroup(), kUsersWithTellwire);
}

TEST(RegisterFcitx5Test, AsksARunningFcitx5OnceAndKeepsTheUsersInputMethods)
{
    ASSERT_TRUE(PrivateFcitx5::writeProfile(kUsersProfile));
    PrivateFcitx5 fcitx;
    ASSERT_TRUE(fcitx.start());

    const ToolRun added = registerTellwire();
    EXPECT_EQ(added.exitCode, 0) << added.err.toStdString();
    EXPECT_EQ(PrivateFcitx5::currentGroup(), kUsersWithTellwire);
    const ToolRun again = registerTellwire();
    EXPECT_EQ(again.exitCode, 0) << again.err.toStdString();
    EXPECT_EQ(again.out.trimmed(), QStringLiteral("Tellwire 语音输入已在 fcitx5 的输入法列表中。"));
    EXPECT_EQ(PrivateFcitx5::currentGroup(), kUsersWithTellwire);
}

} // namespace
} // namespace tellwire
