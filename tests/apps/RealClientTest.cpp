// Real applications (GTK 3, GTK 4, Qt 6, Chromium) on Xvfb, talking to a
// private ibus-daemon that runs the real Tellwire; keys go through the X
// server, dictation through the local relay.
#include "apps/RealClient.h"
#include "support/PrivateIBusDaemon.h"
#include "support/PrivateSessionBus.h"
#include "support/ToolRun.h"
#include "support/Wait.h"

#include <QDBusConnectionInterface>

#include <optional>

namespace tellwire {
namespace {

using namespace tellwire::testing;
using namespace std::chrono_literals;

class RealClientTest : public RealClient {
protected:
    std::optional<PrivateIBusDaemon> daemon;

    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(startDisplayAndRelay());
        QProcessEnvironment environment;
        environment.insert(QStringLiteral("TELLWIRE_RELAY_ORIGIN"), relay.origin);
        // The daemon writes its address where clients on this display look.
        environment.insert(QStringLiteral("DISPLAY"), display);
        daemon.emplace(QStringList{PrivateIBusDaemon::tellwireComponent()}, environment);
        qputenv("DISPLAY", display.toUtf8()); // and where this process looks, once the daemon has its folders
        ASSERT_TRUE(daemon->start()) << daemon->error().toStdString();

        QProcessEnvironment ibusClient;
        for (const auto& [name, value] : {std::pair{"GTK_IM_MODULE", QStringLiteral("ibus")},
                                          {"QT_IM_MODULE", QStringLiteral("ibus")}, {"IBUS_ADDRESS", daemon->address()}})
            ibusClient.insert(QString::fromLatin1(name), value);
        ASSERT_NO_FATAL_FAILURE(startApp(ibusClient));
        // Picked as a user picks the input source; the daemon starts Tellwire
        // for it (and answers with an error before its engine is up).
        QProcessEnvironment ibus = QProcessEnvironment::systemEnvironment();
        ibus.insert(QStringLiteral("IBUS_ADDRESS"), daemon->address());
        runTool(QStringLiteral("ibus"), {"engine", kTellwire}, ibus);
        ASSERT_TRUE(waitUntil(
            [] { return QDBusConnection::sessionBus().interface()->isServiceRegistered(kTellwire).value(); }, 30s));
    }

    void TearDown() override
    {
        stopOwnerOf(QDBusConnection::sessionBus(), kTellwire);
        daemon.reset();
        xvfb.terminate();
        xvfb.waitForFinished();
    }
};

TEST_P(RealClientTest, TypesWhereTheUserMeantAndNowhereElse)
{
    typesWhereTheUserMeantAndNowhereElse();
}

INSTANTIATE_TEST_SUITE_P(Toolkits, RealClientTest,
                         ::testing::Values(gtk3Client(), gtk4Client(), qt6Client(QStringLiteral("一")),
                                           chromiumClient(QStringLiteral("一"))),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace tellwire
