#include "model/DesktopState.h"
#include "model/Defaults.h"
#include "model/SecretStore.h"

#include <gtest/gtest.h>

namespace tellwire {
namespace {

TEST(DesktopStateTest, LoadsTheStoredTokenAndKeepsADeviceIdentifierOfEightCharactersOrMore)
{
    MemorySecretStore secrets;
    MemoryDefaults defaults;
    secrets.save(DesktopState::kTokenAccount, QStringLiteral("t0k"));
    const QString fresh = DesktopState(secrets, defaults, nullptr).deviceID();
    EXPECT_TRUE(fresh.startsWith(QStringLiteral("mac-")) && fresh.size() == 36) << fresh.toStdString();
    const DesktopState again(secrets, defaults, nullptr);
    EXPECT_EQ(again.token() + " " + again.deviceID(), "t0k " + fresh);
    defaults.setString(QStringLiteral("desktop-device-id"), QStringLiteral("linux-01"));
    EXPECT_EQ(DesktopState(secrets, defaults, nullptr).deviceID(), QStringLiteral("linux-01"));
    defaults.setString(QStringLiteral("desktop-device-id"), QStringLiteral("short"));
    EXPECT_EQ(DesktopState(secrets, defaults, nullptr).deviceID().size(), 36);
}

// Copying it, oldest first, is shown with the real clipboard in DesktopWindowsTest.
TEST(DesktopStateTest, HistoryKeepsTheNewestHundredNewestFirst)
{
    MemorySecretStore secrets;
    MemoryDefaults defaults;
    DesktopState state(secrets, defaults, nullptr);
    for (int i = 0; i <= 100; ++i)
        state.addToHistory(Transcript{QString::number(i), QString::number(i), true, 0, 0, {}, {}});
    ASSERT_EQ(state.history().size(), 100);
    EXPECT_EQ(state.history().front().id() + " " + state.history().back().id(), "100 1"); // "0" went
}

} // namespace
} // namespace tellwire
