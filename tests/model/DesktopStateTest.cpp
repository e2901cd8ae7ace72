#include "model/DesktopState.h"
#include "model/Defaults.h"
#include "model/SecretStore.h"

#include <gtest/gtest.h>

namespace tellwire {
namespace {

// Copying the history, oldest first, is shown with the real clipboard in DesktopWindowsTest.
TEST(DesktopStateTest, LoadsTheTokenKeepsADeviceIdentifierOfEightCharactersOrMoreAndTheNewestHundredTranscripts)
{
    MemorySecretStore secrets;
    MemoryDefaults defaults;
    secrets.save(DesktopState::kTokenAccount, QStringLiteral("t0k"));
    DesktopState state(secrets, defaults, nullptr);
    const QString fresh = state.deviceID();
    EXPECT_TRUE(fresh.startsWith(QStringLiteral("mac-")) && fresh.size() == 36) << fresh.toStdString();
    EXPECT_EQ(state.token() + " " + DesktopState(secrets, defaults, nullptr).deviceID(), "t0k " + fresh);
    defaults.setString(QStringLiteral("desktop-device-id"), QStringLiteral("linux-01"));
    EXPECT_EQ(DesktopState(secrets, defaults, nullptr).deviceID(), QStringLiteral("linux-01"));
    defaults.setString(QStringLiteral("desktop-device-id"), QStringLiteral("short"));
    EXPECT_EQ(DesktopState(secrets, defaults, nullptr).deviceID().size(), 36);
    for (int i = 0; i <= 100; ++i)
        state.addToHistory(Transcript{QString::number(i), QString::number(i), true, 0, 0, {}, {}});
    ASSERT_EQ(state.history().size(), 100);
    EXPECT_EQ(state.history().front().id() + " " + state.history().back().id(), "100 1"); // "0" went
}

TEST(DesktopStateTest, TalksToTheRelayOnThisMachineUnlessTheSettingsOrTheEnvironmentNameAnother)
{
    MemoryDefaults defaults;
    qunsetenv("TELLWIRE_RELAY_ORIGIN");
    EXPECT_EQ(DesktopState::startingBase(defaults), "http://127.0.0.1:8787");
    defaults.setString(QStringLiteral("relay/origin"), QStringLiteral(" https://relay.example.cn\n"));
    EXPECT_EQ(DesktopState::startingBase(defaults), "https://relay.example.cn");
    qputenv("TELLWIRE_RELAY_ORIGIN", "http://127.0.0.1:9");
    EXPECT_EQ(DesktopState::startingBase(defaults), "http://127.0.0.1:9");
    qunsetenv("TELLWIRE_RELAY_ORIGIN");
}

} // namespace
} // namespace tellwire
