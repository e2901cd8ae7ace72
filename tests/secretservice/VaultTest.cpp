// Against the session's real Secret Service (tools/with-test-session starts an
// unlocked gnome-keyring on a private session bus), checked with secret-tool,
// the user's own view of the keyring.

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

TEST(VaultTest, TheTokenIsOneItemThatSecretToolSeesBothWays)
{
    ASSERT_FALSE(qEnvironmentVariableIsEmpty("TELLWIRE_TEST_SESSION")) << "it clears the session's token";
    Vault vault;
    secretTool({"clear"});
    const auto items = [] { return secretTool({"search", "--all"}).count("\nsecret = "); };
    ASSERT_TRUE(vault.save(kAccount, "first") && vault.save(kAccount, "tok-令牌-1"));
    EXPECT_EQ(items(), 1);
    EXPECT_EQ(secretTool({"lookup"}), "tok-令牌-1");
    EXPECT_EQ(vault.load(kAccount), "tok-令牌-1");
    EXPECT_TRUE(vault.save(kAccount, QString())); // clears the item
    EXPECT_EQ(items(), 0);
    EXPECT_EQ(vault.load(kAccount), QString());
    EXPECT_TRUE(vault.save(kAccount, QString())); // also when there is none

    secretTool({"store", "--label=by hand"}, "typed-in");
    EXPECT_EQ(vault.load(kAccount), "typed-in");
    secretTool({"store", "--label=by hand"}, "\xff\xfe\x80");
    ASSERT_EQ(secretTool({"lookup"}).size(), 3);
    EXPECT_EQ(vault.load(kAccount), QString()) << "not UTF-8";
}

// The keyring, stopped, still owns its name but answers nothing.
TEST(VaultTest, HungServiceFailsWithinTheBoundAndAnAbsentOneAtOnce)
{
    ASSERT_FALSE(qEnvironmentVariableIsEmpty("TELLWIRE_TEST_SESSION")) << "it stops the session's keyring";
    Vault vault;
    const uint keyring = QDBusConnection::sessionBus().interface()->servicePid("org.freedesktop.secrets");
    ASSERT_GT(keyring, 1u);
    QElapsedTimer clock;
    {
        ASSERT_EQ(::kill(pid_t(keyring), SIGSTOP), 0);
        const auto resume = qScopeGuard([&] { ::kill(pid_t(keyring), SIGCONT); });
        clock.start();
        EXPECT_EQ(vault.load(kAccount), QString());
        const qint64 loadTime = clock.restart();
        EXPECT_FALSE(vault.save(kAccount, "lost"));
        for (const qint64 elapsed : {loadTime, clock.restart()}) {
            EXPECT_GE(elapsed, 1900);
            EXPECT_LT(elapsed, 2600);
        }
    }
    qputenv("SECRET_SERVICE_BUS_NAME", "cc.orrisfeld.tellwire.test.NobodyHere");
    const auto unset = qScopeGuard([] { qunsetenv("SECRET_SERVICE_BUS_NAME"); });
    Vault absent;
    clock.restart();
    EXPECT_EQ(absent.load(kAccount), QString());
    EXPECT_FALSE(absent.save(kAccount, "lost"));
    EXPECT_LT(clock.elapsed(), 2000);
}

} // namespace
} // namespace tellwire
