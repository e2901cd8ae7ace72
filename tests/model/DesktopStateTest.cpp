#include "model/DesktopState.h"
#include "model/Defaults.h"
#include "model/SecretStore.h"
#include "support/Fakes.h"

#include <gtest/gtest.h>

namespace tellwire {
namespace {

TEST(DesktopStateTest, LoadsTheStoredTokenAndKeepsADeviceIdentifierOfEightCharactersOrMore)
{
    MemorySecretStore secrets;
    MemoryDefaults defaults;
    const QString key = QStringLiteral("desktop-device-id");
    secrets.save(DesktopState::kTokenAccount, QStringLiteral("t0k"));
    const QString fresh = DesktopState(secrets, defaults, nullptr).deviceID();
    EXPECT_TRUE(fresh.startsWith(QStringLiteral("mac-")) && fresh.size() == 36) << fresh.toStdString();
    const DesktopState again(secrets, defaults, nullptr);
    EXPECT_EQ(again.token() + " " + again.deviceID(), "t0k " + fresh);
    defaults.setString(key, QStringLiteral("linux-01"));
    EXPECT_EQ(DesktopState(secrets, defaults, nullptr).deviceID(), QStringLiteral("linux-01"));
    defaults.setString(key, QStringLiteral("short"));
    const QString replaced = DesktopState(secrets, defaults, nullptr).deviceID();
    EXPECT_EQ(replaced.size(), 36);
    EXPECT_EQ(defaults.string(key), replaced);
}

TEST(DesktopStateTest, HistoryKeepsTheNewestHundredAndCopiesOldestFirst)
{
    MemorySecretStore secrets;
    MemoryDefaults defaults;
    testing::RecordingClipboard clipboard;
    DesktopState state(secrets, defaults, &clipboard);
    for (int i = 0; i <= 100; ++i)
        state.addToHistory(Transcript{QString::number(i), QString::number(i), true, 0, 0, {}, {}});
    ASSERT_EQ(state.history().size(), 100);
    EXPECT_EQ(state.history().front().id() + " " + state.history().back().id(), "100 1"); // "0" went
    state.copyAll();
    EXPECT_TRUE(clipboard.writes.at(0).startsWith(QStringLiteral("1\n2\n3\n"))) << clipboard.writes.at(0).toStdString();
}

} // namespace
} // namespace tellwire
