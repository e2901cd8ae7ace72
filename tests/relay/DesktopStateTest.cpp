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

using testing::RecordingClipboard;

Transcript finalText(const QString& utterance, const std::optional<QString>& text, qint64 seq)
{
    Transcript t;
    t.utterance = utterance;
    t.text = text;
    t.final = true;
    t.seq = seq;
    return t;
}

class DesktopStateTest : public ::testing::Test {
protected:
    MemorySecretStore secrets;
    MemoryDefaults defaults;
    RecordingClipboard clipboard;
};

TEST_F(DesktopStateTest, FreshStateIsIdleWithTheStoredTokenAndAKeptDeviceIdentifier)
{
    DesktopState signedOut(secrets, defaults, &clipboard);
    EXPECT_FALSE(signedOut.hasToken());
    EXPECT_EQ(signedOut.status(), QStringLiteral("未连接手机"));
    EXPECT_EQ(signedOut.error(), QString());
    EXPECT_FALSE(signedOut.paused());
    EXPECT_TRUE(signedOut.chinese());
    EXPECT_TRUE(signedOut.history().isEmpty());
    EXPECT_EQ(signedOut.cursor(), -1);
    EXPECT_EQ(signedOut.active(), nullptr);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^mac-[0-9a-f]{32}$")).match(signedOut.deviceID()).hasMatch())
        << signedOut.deviceID().toStdString();
    EXPECT_EQ(defaults.string(QStringLiteral("desktop-device-id")), signedOut.deviceID());

    secrets.save(QStringLiteral("desktop-token"), QStringLiteral("t0k"));
    DesktopState signedIn(secrets, defaults, &clipboard);
    EXPECT_EQ(signedIn.token(), QStringLiteral("t0k"));
    EXPECT_TRUE(signedIn.hasToken());
    EXPECT_EQ(signedIn.deviceID(), signedOut.deviceID());
}

TEST_F(DesktopStateTest, StoredDeviceIdentifierOfAnyFormIsKeptFromEightCharacters)
{
    defaults.setString(QStringLiteral("desktop-device-id"), QStringLiteral("linux-01"));
    EXPECT_EQ(DesktopState(secrets, defaults, &clipboard).deviceID(), QStringLiteral("linux-01"));

    defaults.setString(QStringLiteral("desktop-device-id"), QStringLiteral("short"));
    const QString replaced = DesktopState(secrets, defaults, &clipboard).deviceID();
    EXPECT_TRUE(replaced.startsWith(QStringLiteral("mac-")));
    EXPECT_EQ(replaced.size(), 36);
    EXPECT_EQ(defaults.string(QStringLiteral("desktop-device-id")), replaced);
}

TEST_F(DesktopStateTest, CopyAllPutsOldestFirstAndSkipsEntriesWithoutText)
{
    DesktopState state(secrets, defaults, &clipboard);
    state.copyAll();
    state.addToHistory(finalText(QStringLiteral("a"), QStringLiteral("第一句"), 1));
    state.addToHistory(finalText(QStringLiteral("x"), std::nullopt, 2));
    state.addToHistory(finalText(QStringLiteral("b"), QStringLiteral("second"), 3));
    state.addToHistory(finalText(QStringLiteral("c"), QStringLiteral(""), 4));
    state.addToHistory(finalText(QStringLiteral("d"), QStringLiteral("第四"), 5));
    state.copyAll();
    // An empty history puts the empty text; an empty text is still an entry.
    EXPECT_EQ(clipboard.writes, (std::vector<QString>{QString(), QStringLiteral("第一句\nsecond\n\n第四")}));
}

TEST_F(DesktopStateTest, EveryPublishedFieldNotifiesAfterItsChange)
{
    DesktopState state(secrets, defaults, &clipboard);
    QStringList seen;
    auto record = [&](const char* name, auto read) {
        return [&seen, name, read] { seen.append(QString::fromLatin1(name) + QLatin1Char('=') + read()); };
    };
    QObject::connect(&state, &DesktopState::statusChanged, record("status", [&] { return state.status(); }));
    QObject::connect(&state, &DesktopState::errorChanged, record("error", [&] { return state.error(); }));
    QObject::connect(&state, &DesktopState::pausedChanged,
            record("paused", [&] { return QString::number(state.paused()); }));
    QObject::connect(&state, &DesktopState::chineseChanged,
            record("chinese", [&] { return QString::number(state.chinese()); }));
    QObject::connect(&state, &DesktopState::historyChanged,
            record("history", [&] { return QString::number(state.history().size()); }));

    state.setStatus(QStringLiteral("正在接收手机文字"));
    state.setError(QStringLiteral("oops"));
    state.setPaused(true);
    state.setChinese(false);
    state.addToHistory(finalText(QStringLiteral("u"), QStringLiteral("t"), 1));
    state.clearHistory();
    state.setStatus(QStringLiteral("正在接收手机文字")); // unchanged: no signal

    EXPECT_EQ(seen, (QStringList{QStringLiteral("status=正在接收手机文字"), QStringLiteral("error=oops"),
                                 QStringLiteral("paused=1"), QStringLiteral("chinese=0"),
                                 QStringLiteral("history=1"), QStringLiteral("history=0")}));
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
