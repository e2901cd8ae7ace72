// Runs against the session's real Secret Service (tools/with-test-session
// starts an unlocked gnome-keyring on a private session bus).

#include <gio/gio.h>

#include "relay/Vault.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProcess>

#include <atomic>

namespace tellwire {
namespace {

using namespace std::chrono_literals;

const QString kAccount = QStringLiteral("desktop-token");

// secret-tool, the user's own view of the keyring.
QByteArray secretTool(const QStringList& arguments, const QByteArray& input = {}, int* exitCode = nullptr)
{
    QProcess tool;
    tool.start(QStringLiteral("secret-tool"), arguments);
    tool.write(input);
    tool.closeWriteChannel();
    EXPECT_TRUE(tool.waitForFinished(10000));
    if (exitCode)
        *exitCode = tool.exitCode();
    return tool.readAllStandardOutput();
}

QByteArray lookup()
{
    return secretTool({"lookup", "service", "Tellwire", "account", "desktop-token"});
}

int itemCount()
{
    const QByteArray listing = secretTool({"search", "--all", "service", "Tellwire", "account", "desktop-token"});
    return int(listing.count("\nlabel = ") + (listing.startsWith("label = ") ? 1 : 0));
}

class VaultTest : public ::testing::Test {
protected:
    Vault vault;

    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
            GTEST_SKIP() << "needs the session bus of tools/with-test-session";
        secretTool({"clear", "service", "Tellwire", "account", "desktop-token"});
    }
    void TearDown() override { qunsetenv("SECRET_SERVICE_BUS_NAME"); }
};

TEST_F(VaultTest, SavedTokenIsTheOneItemSecretToolSees)
{
    EXPECT_EQ(vault.load(kAccount), QString());
    ASSERT_TRUE(vault.save(kAccount, QStringLiteral("first")));
    ASSERT_TRUE(vault.save(kAccount, QStringLiteral("tok-令牌-1")));
    EXPECT_EQ(itemCount(), 1);
    EXPECT_EQ(lookup(), QStringLiteral("tok-令牌-1").toUtf8());
    EXPECT_EQ(vault.load(kAccount), QStringLiteral("tok-令牌-1"));

    EXPECT_TRUE(vault.save(kAccount, QString()));
    EXPECT_EQ(itemCount(), 0);
    EXPECT_EQ(vault.load(kAccount), QString());
    EXPECT_TRUE(vault.save(kAccount, QString())); // also when there is nothing
}

TEST_F(VaultTest, ItemStoredBySecretToolIsLoadedUnlessItIsNotUtf8)
{
    const QStringList store{"store", "--label=by hand", "service", "Tellwire", "account", "desktop-token"};
    int exitCode = -1;
    secretTool(store, "typed-in", &exitCode);
    ASSERT_EQ(exitCode, 0);
    EXPECT_EQ(vault.load(kAccount), QStringLiteral("typed-in"));
    EXPECT_EQ(vault.load(QStringLiteral("other")), QString()) << "other accounts are other items";

    secretTool(store, QByteArray("\xff\xfe\x80", 3), &exitCode);
    ASSERT_EQ(exitCode, 0);
    ASSERT_EQ(lookup().size(), 3);
    EXPECT_EQ(vault.load(kAccount), QString());
}

// A peer that owns a bus name and never answers a call, like a hung service.
class SilentService {
public:
    explicit SilentService(const char* name)
    {
        g_autofree gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
        connection_ = g_dbus_connection_new_for_address_sync(
            address,
            GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT
                                 | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, nullptr);
        EXPECT_TRUE(connection_);
        if (!connection_)
            return;
        filter_ = g_dbus_connection_add_filter(connection_, drop, &calls_, nullptr);
        g_autoptr(GVariant) reply = g_dbus_connection_call_sync(
            connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
            g_variant_new("(su)", name, 4u /* do not queue */), G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 5000,
            nullptr, nullptr);
        guint32 result = 0;
        if (reply)
            g_variant_get(reply, "(u)", &result);
        EXPECT_EQ(result, 1u); // primary owner
    }
    ~SilentService()
    {
        if (!connection_)
            return;
        g_dbus_connection_remove_filter(connection_, filter_);
        g_dbus_connection_close_sync(connection_, nullptr, nullptr);
        g_object_unref(connection_);
    }
    int calls() const { return calls_; }

private:
    // Swallows every incoming call: nothing is ever answered.
    static GDBusMessage* drop(GDBusConnection*, GDBusMessage* message, gboolean incoming, gpointer data)
    {
        if (incoming && g_dbus_message_get_message_type(message) == G_DBUS_MESSAGE_TYPE_METHOD_CALL) {
            ++*static_cast<std::atomic<int>*>(data);
            g_object_unref(message);
            return nullptr;
        }
        return message;
    }

    GDBusConnection* connection_ = nullptr;
    guint filter_ = 0;
    std::atomic<int> calls_{0};
};

TEST_F(VaultTest, HungServiceFailsWithinTheBoundAndAnAbsentOneAtOnce)
{
    SilentService silent("cc.orrisfeld.tellwire.test.SilentSecrets");
    qputenv("SECRET_SERVICE_BUS_NAME", "cc.orrisfeld.tellwire.test.SilentSecrets");
    Vault hung;
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(hung.load(kAccount), QString());
    const qint64 loadTime = clock.restart();
    EXPECT_FALSE(hung.save(kAccount, QStringLiteral("lost")));
    const qint64 saveTime = clock.restart();
    EXPECT_GT(silent.calls(), 0); // it was asked, and kept silent
    for (qint64 elapsed : {loadTime, saveTime}) {
        EXPECT_GE(elapsed, 1900);
        EXPECT_LT(elapsed, 2600);
    }

    qputenv("SECRET_SERVICE_BUS_NAME", "cc.orrisfeld.tellwire.test.NobodyHere");
    Vault absent;
    clock.restart();
    EXPECT_EQ(absent.load(kAccount), QString());
    EXPECT_FALSE(absent.save(kAccount, QStringLiteral("lost")));
    EXPECT_LT(clock.elapsed(), 2000);
}

} // namespace
} // namespace tellwire
