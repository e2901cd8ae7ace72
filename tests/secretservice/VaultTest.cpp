// Against the real gnome-keyring that tools/with-test-session starts unlocked on a
// private session bus, checked with secret-tool, the user's own view of the keyring.

#include "secretservice/Vault.h"

#include <gtest/gtest.h>

#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QProcess>
#include <QScopeGuard>

#include <csignal>

namespace tellwire {
namespace {

const QString kAccount = QStringLiteral("desktop-token");

// secret-tool on the token's item; what it printed.
QByteArray secretTool(QStringList arguments, const QByteArray& input = {})
{
    QProcess tool;
    tool.start("secret-tool", arguments << "service" << "Tellwire" << "account" << kAccount);
    tool.write(input);
    tool.closeWriteChannel();
    EXPECT_TRUE(tool.waitForFinished(10000));
    return tool.readAllStandardOutput();
}

TEST(VaultTest, TheTokenIsOneItemThatSecretToolSeesBothWaysAndAHungOrAbsentKeyringFailsInBoundedTime)
{
    ASSERT_FALSE(qEnvironmentVariableIsEmpty("TELLWIRE_TEST_SESSION")) << "it clears the token and stops the keyring";
    Vault vault;
    const auto items = [] { return secretTool({"search", "--all"}).count("\nsecret = "); };
    ASSERT_TRUE(vault.save(kAccount, "first") && vault.save(kAccount, "tok-令牌-1"));
    EXPECT_EQ(items(), 1);
    EXPECT_EQ(secretTool({"lookup"}), "tok-令牌-1");
    secretTool({"store", "--label=by hand"}, "令牌-typed-in");
    EXPECT_EQ(vault.load(kAccount), "令牌-typed-in");
    EXPECT_TRUE(vault.save(kAccount, QString())); // clears the item
    EXPECT_TRUE(vault.save(kAccount, QString())); // also when there is none
    EXPECT_EQ(items(), 0);
    EXPECT_EQ(vault.load(kAccount), QString());
    secretTool({"store", "--label=by hand"}, "\xff\xfe\x80");
    ASSERT_EQ(secretTool({"lookup"}).size(), 3);
    EXPECT_EQ(vault.load(kAccount), QString()) << "not UTF-8";
    // The keyring, stopped, still owns its name but answers nothing: each call gives up after its two seconds.
    const auto withinBound = [](qint64 ms) { return ms >= 1900 && ms < 2600; };
    const uint keyring = QDBusConnection::sessionBus().interface()->servicePid("org.freedesktop.secrets");
    ASSERT_GT(keyring, 1u);
    ASSERT_EQ(::kill(pid_t(keyring), SIGSTOP), 0);
    const auto resume = qScopeGuard([&] { ::kill(pid_t(keyring), SIGCONT); });
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(vault.load(kAccount), QString());
    EXPECT_PRED1(withinBound, clock.restart());
    EXPECT_FALSE(vault.save(kAccount, "lost"));
    EXPECT_PRED1(withinBound, clock.restart());
    qputenv("SECRET_SERVICE_BUS_NAME", "cc.orrisfeld.tellwire.test.NobodyHere");
    const auto unset = qScopeGuard([] { qunsetenv("SECRET_SERVICE_BUS_NAME"); });
    clock.restart();
    EXPECT_EQ(vault.load(kAccount), QString());
    EXPECT_FALSE(vault.save(kAccount, "lost"));
    EXPECT_LT(clock.elapsed(), 2000);
}

} // namespace
} // namespace tellwire
