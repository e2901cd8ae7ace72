// Pairing a phone with the relay on this machine, as a person does it: the
// settings window's QR code, read by a real decoder, signs a phone in; the
// list of phones signs it out again.
#include "model/Defaults.h"
#include "model/DesktopState.h"
#include "model/SecretStore.h"
#include "relayclient/RelayClient.h"
#include "support/LocalRelay.h"
#include "support/ToolRun.h"
#include "support/Wait.h"
#include "ui/DesktopSettings.h"
#include "ui/PhonePairingView.h"

#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

namespace tellwire {
namespace {

using namespace tellwire::testing;

TEST(PhonePairingTest, TheSettingsQrCodeSignsAPhoneInToThisDesktopAndItsRowSignsItOut)
{
    LocalRelay relay{QStringLiteral(TELLWIRE_RELAY_EXECUTABLE)};
    ASSERT_TRUE(relay.start());
    qputenv("XDG_STATE_HOME", relay.stateHome().toUtf8());
    MemorySecretStore secrets;
    MemoryDefaults defaults;
    DesktopState state(secrets, defaults, nullptr);
    state.setBase(relay.origin);
    RelayClient client(state);
    client.signIn().prepare(); // no number, no code: the local secret
    ASSERT_TRUE(waitUntil([&] { return client.isPolling(); })) << state.status().toStdString();

    DesktopSettings settings(state, client.signIn(), client.pairing());
    settings.show();
    PhonePairingView* view = settings.pairingView();
    ASSERT_TRUE(view);
    ASSERT_TRUE(waitUntil([&] { return !view->qrLabel()->pixmap().isNull(); }));
    QTemporaryDir dir;
    ASSERT_TRUE(view->qrLabel()->pixmap().save(dir.filePath(QStringLiteral("qr.png"))));
    const ToolRun scan = runTool(QStringLiteral("zbarimg"), {"--raw", "-q", dir.filePath(QStringLiteral("qr.png"))});
    const QString link = scan.out.trimmed();
    EXPECT_EQ(link, view->linkLabel()->text());
    ASSERT_TRUE(link.startsWith(relay.origin + QStringLiteral("/#pair="))) << link.toStdString();

    const nlohmann::json claim = {{"secret", link.section(u'=', 1).toStdString()}, {"device_id", "p1"},
                                  {"name", "测试手机"}};
    const auto claimed = httplib::Client(relay.origin.toStdString())
                             .Post("/v1/pairings/claim", claim.dump(), "application/json");
    ASSERT_TRUE(claimed && claimed->status == 200);
    relay.phoneToken = QString::fromStdString(nlohmann::json::parse(claimed->body).value("token", ""));
    EXPECT_TRUE(relay.say(QStringLiteral("u1"), QStringLiteral("扫码连接"), true));
    ASSERT_TRUE(waitUntil([&] { return state.historyText() == QStringLiteral("扫码连接"); }));

    client.pairing().refreshPhones();
    QPushButton* remove = nullptr;
    ASSERT_TRUE(waitUntil([&] { return (remove = view->phonesList()->findChild<QPushButton*>()) != nullptr; }));
    EXPECT_TRUE(view->phonesList()->findChild<QLabel*>()->text().startsWith(QStringLiteral("测试手机 · 最近在线 ")));
    QTest::mouseClick(remove, Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return !view->phonesList()->findChild<QPushButton*>(); }));
    EXPECT_FALSE(relay.say(QStringLiteral("u2"), QStringLiteral("已移除"), true));
}

} // namespace
} // namespace tellwire
