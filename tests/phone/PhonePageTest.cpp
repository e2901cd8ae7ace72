// GLib's headers come before Qt's, whose signals/slots keywords they use as names.
#include <ibus.h>

#include "support/LocalRelay.h"
#include "support/PrivateIBusDaemon.h"
#include "support/PrivateSessionBus.h"
#include "support/TestInputContext.h"
#include "support/Wait.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>

#include <httplib.h>

#include <gtest/gtest.h>

#include <csignal>
#include <optional>

namespace tellwire {
namespace {

using namespace tellwire::testing;
using namespace std::chrono_literals;

constexpr const char* kEngine = "cc.orrisfeld.tellwire.inputmethod";
const QString kChromium = QStringLiteral("/usr/bin/chromium");
const QString kDriverFolder = QStringLiteral(TELLWIRE_PHONE_DRIVER_FOLDER);

// The relay's phone page in headless Chromium is the phone; a private
// ibus-daemon runs the real Tellwire; a test client is the focused application.
class PhonePageTest : public ::testing::Test {
protected:
    LocalRelay relay{QStringLiteral(TELLWIRE_RELAY_EXECUTABLE)};
    std::optional<PrivateIBusDaemon> daemon;
    QString desktopToken;
    QProcess driver;

    void SetUp() override
    {
        // Missing tools are a broken setup, not a reason to skip.
        ASSERT_TRUE(QFileInfo(kChromium).isExecutable()) << "Chromium is missing: apt-get install chromium";
        ASSERT_FALSE(QStandardPaths::findExecutable(QStringLiteral("node")).isEmpty()) << "node is missing";
        ASSERT_TRUE(QFileInfo::exists(kDriverFolder + QStringLiteral("/node_modules/puppeteer-core/package.json")))
            << "puppeteer-core is missing: run tools/setup-deps (npm ci in tests/phone)";

        ASSERT_TRUE(relay.start());
        desktopToken = relay.signIn(QStringLiteral("desktop"));
        ASSERT_TRUE(storeDesktopToken(desktopToken));
        QProcessEnvironment environment;
        environment.insert(QStringLiteral("TELLWIRE_RELAY_ORIGIN"), relay.origin);
        daemon.emplace(QStringList{PrivateIBusDaemon::tellwireComponent()}, environment);
        ASSERT_TRUE(daemon->start()) << daemon->error().toStdString();
    }

    void TearDown() override
    {
        // SIGTERM lets puppeteer close the browser.
        driver.terminate();
        if (!driver.waitForFinished(10000))
            driver.kill();
        driver.waitForFinished(5000);
        stopOwnerOf(QDBusConnection::sessionBus(), QString::fromLatin1(kEngine));
    }

    std::unique_ptr<TestInputContext> focusedContext()
    {
        auto context = TestInputContext::create(daemon->address());
        if (context)
            context->focusIn();
        if (!context || !context->setEngine(kEngine) || !context->sendKey(IBUS_KEY_Shift_L, IBUS_RELEASE_MASK))
            return nullptr;
        return context;
    }

    // What a person gets from "add a phone" on the desktop.
    QString pairingLink()
    {
        httplib::Client client(relay.origin.toStdString());
        const auto reply = client.Post("/v1/pairings", {{"Authorization", "Bearer " + desktopToken.toStdString()}},
                                       "{}", "application/json");
        if (!reply || reply->status != 200)
            return {};
        const QString secret = QJsonDocument::fromJson(QByteArray::fromStdString(reply->body))
                                   .object().value(QStringLiteral("secret")).toString();
        return secret.isEmpty() ? QString() : relay.origin + QStringLiteral("/#pair=") + secret;
    }

    void startDriver(const QString& link)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("TELLWIRE_PAIRING_LINK"), link);
        environment.insert(QStringLiteral("TELLWIRE_CHROMIUM"), kChromium);
        // The browser plays a phone: it stays off the desktop's session bus (portals, keyring).
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent"));
        driver.setProcessEnvironment(environment);
        driver.setWorkingDirectory(kDriverFolder);
        driver.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        driver.start(QStringLiteral("node"), {QStringLiteral("drive-phone-page.js")});
    }

    // Waits for the driver to finish a step in the browser, then for the focused context to show `preedit`
    // (when given) and to hold `committed` in all; then lets the driver go on. False if either never came.
    bool step(const char* name, const TestInputContext& context, const QString& committed, const QString& preedit = {})
    {
        bool found = false;
        waitUntil([&] {
            while (!found && driver.canReadLine())
                found = QString::fromUtf8(driver.readLine()).trimmed() == QStringLiteral("step ") + name;
            return found || driver.state() == QProcess::NotRunning;
        }, 60s);
        const bool shown = found && waitUntil([&] {
            return context.committed == committed && (preedit.isEmpty() || context.preedit.text == preedit);
        }, 20s);
        EXPECT_TRUE(shown) << name << ": committed " << context.committed.toStdString() << ", preedit "
                           << context.preedit.text.toStdString();
        driver.write("next\n");
        return shown;
    }
};

// Then the relay restarts under the desktop: it keeps the sign-ins, and Tellwire listens again and types only
// what is new.
TEST_F(PhonePageTest, DictationOnThePhonePageIsTypedOnceAcrossANetworkDropAndARelayRestart)
{
    auto context = focusedContext();
    ASSERT_TRUE(context);
    const QString link = pairingLink();
    ASSERT_FALSE(link.isEmpty()) << "the relay made no pairing";
    startDriver(link);
    ASSERT_TRUE(step("paired", *context, {}));
    // Typed in pieces into the box: the newest text shows as preedit, Enter commits it.
    ASSERT_TRUE(step("typing", *context, {}, QStringLiteral("今天天气")));
    QString expected = QStringLiteral("今天天气不错");
    ASSERT_TRUE(step("typed", *context, expected));
    EXPECT_FALSE(context->preedit.visible);
    // The browser's recogniser: its interim result is preedit, its final one is committed.
    ASSERT_TRUE(step("speech-interim", *context, expected, QStringLiteral("语音输入")));
    ASSERT_TRUE(step("speech-final", *context, expected += QStringLiteral("语音输入很方便")));
    // Offline, two finals wait on the phone; back online both arrive, in order, once.
    ASSERT_TRUE(step("offline", *context, expected, QStringLiteral("断网时候")));
    ASSERT_TRUE(step("online", *context, expected += QStringLiteral("断网时候第二句")));
    // A phone signed in by number and code; a pause ends its utterance.
    ASSERT_TRUE(step("code-signin", *context, expected += QStringLiteral("验证码登录")));
    ASSERT_TRUE(driver.waitForFinished(30000));
    EXPECT_EQ(driver.exitCode(), 0);
    EXPECT_FALSE(context->preedit.visible);

    relay.phoneToken = relay.signIn(QStringLiteral("phone"));
    ASSERT_TRUE(relay.restart());
    ASSERT_TRUE(relay.waitForLine(QStringLiteral("is listening")));
    ASSERT_TRUE(relay.say(QStringLiteral("u-restart"), QStringLiteral("重启之后"), true));
    EXPECT_TRUE(waitUntil([&] { return context->committed == expected + QStringLiteral("重启之后"); }, 20s))
        << "committed: " << context->committed.toStdString();
}

} // namespace
} // namespace tellwire
