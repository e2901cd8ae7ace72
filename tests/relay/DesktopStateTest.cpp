#include "relay/DesktopState.h"
#include "input/VoiceInputController.h"
#include "relay/Defaults.h"
#include "relay/SecretStore.h"
#include "support/Fakes.h"

#include <gtest/gtest.h>

#include <QRegularExpression>

#include <memory>

namespace tellwire {
namespace {

Transcript finalText(const char* utterance, const std::optional<QString>& text, qint64 seq)
{
    return Transcript{QString::fromLatin1(utterance), text, true, seq, 0, std::nullopt, std::nullopt};
}

class DesktopStateTest : public ::testing::Test {
protected:
    MemorySecretStore secrets;
    MemoryDefaults defaults;
    testing::RecordingClipboard clipboard;
    QString storedID() const { return defaults.string(QStringLiteral("desktop-device-id")); }
};

TEST_F(DesktopStateTest, LoadsTheStoredTokenAndKeepsADeviceIdentifierOfEightCharactersOrMore)
{
    DesktopState signedOut(secrets, defaults, &clipboard);
    EXPECT_FALSE(signedOut.hasToken());
    EXPECT_EQ(signedOut.status(), QStringLiteral("未连接手机"));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^mac-[0-9a-f]{32}$")).match(signedOut.deviceID()).hasMatch())
        << signedOut.deviceID().toStdString();
    EXPECT_EQ(storedID(), signedOut.deviceID());

    secrets.save(QStringLiteral("desktop-token"), QStringLiteral("t0k"));
    DesktopState signedIn(secrets, defaults, &clipboard);
    EXPECT_EQ(signedIn.token(), QStringLiteral("t0k"));
    EXPECT_EQ(signedIn.deviceID(), signedOut.deviceID());

    defaults.setString(QStringLiteral("desktop-device-id"), QStringLiteral("linux-01"));
    EXPECT_EQ(DesktopState(secrets, defaults, &clipboard).deviceID(), QStringLiteral("linux-01"));
    defaults.setString(QStringLiteral("desktop-device-id"), QStringLiteral("short"));
    const QString replaced = DesktopState(secrets, defaults, &clipboard).deviceID();
    EXPECT_TRUE(replaced.startsWith(QStringLiteral("mac-")) && replaced.size() == 36) << replaced.toStdString();
    EXPECT_EQ(storedID(), replaced);
}

TEST_F(DesktopStateTest, CopyAllPutsOldestFirstAndSkipsEntriesWithoutText)
{
    DesktopState state(secrets, defaults, &clipboard);
    state.copyAll();
    state.addToHistory(finalText("a", QStringLiteral("第一句"), 1));
    state.addToHistory(finalText("x", std::nullopt, 2));
    state.addToHistory(finalText("c", QStringLiteral(""), 3));
    state.addToHistory(finalText("d", QStringLiteral("第四"), 4));
    state.copyAll();
    // An empty history puts the empty text; an empty text is still an entry.
    EXPECT_EQ(clipboard.writes, (std::vector<QString>{QString(), QStringLiteral("第一句\n\n第四")}));
}

TEST_F(DesktopStateTest, EveryPublishedFieldNotifiesAfterItsChange)
{
    DesktopState state(secrets, defaults, &clipboard);
    QStringList seen;
    const auto record = [&](auto signal, const char* name, auto read) {
        QObject::connect(&state, signal, [&seen, name, read] { seen.append(QString::fromLatin1(name) + '=' + read()); });
    };
    record(&DesktopState::statusChanged, "status", [&] { return state.status(); });
    record(&DesktopState::errorChanged, "error", [&] { return state.error(); });
    record(&DesktopState::pausedChanged, "paused", [&] { return QString::number(state.paused()); });
    record(&DesktopState::chineseChanged, "chinese", [&] { return QString::number(state.chinese()); });
    record(&DesktopState::historyChanged, "history", [&] { return QString::number(state.history().size()); });

    state.setStatus(QStringLiteral("正在接收手机文字"));
    state.setError(QStringLiteral("oops"));
    state.setPaused(true);
    state.setChinese(false);
    state.addToHistory(finalText("u", QStringLiteral("t"), 1));
    state.clearHistory();
    state.setStatus(QStringLiteral("正在接收手机文字")); // unchanged: no signal

    EXPECT_EQ(seen, (QStringList{"status=正在接收手机文字", "error=oops", "paused=1", "chinese=0", "history=1",
                                 "history=0"}));
}

TEST_F(DesktopStateTest, ActiveControllerDropsOutWhenDestroyed)
{
    DesktopState state(secrets, defaults, &clipboard);
    auto controller = std::make_unique<VoiceInputController>(state);
    controller->activateServer();
    EXPECT_EQ(state.active(), controller.get());
    controller.reset();
    EXPECT_EQ(state.active(), nullptr);
}

TEST(SharedDesktopStateTest, IsOneInstanceMadeFromProvidedServices)
{
    // The shared instance outlives the test, so its services must too.
    static MemorySecretStore secrets;
    secrets.save(QStringLiteral("desktop-token"), QStringLiteral("shared-token"));
    static MemoryDefaults defaults;
    DesktopState::provide({&secrets, &defaults, nullptr});
    DesktopState& shared = DesktopState::shared();
    EXPECT_EQ(&shared, &DesktopState::shared());
    EXPECT_EQ(shared.token(), QStringLiteral("shared-token"));
    EXPECT_EQ(shared.deviceID(), defaults.string(QStringLiteral("desktop-device-id")));
}

} // namespace
} // namespace tellwire
