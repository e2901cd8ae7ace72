// Measures, through a private ibus-daemon, how long a key takes to come back
// as a preedit update (Tellwire against ibus-libpinyin), and how long a phone
// event published to the local relay takes to arrive as preedit.

// GLib's headers come before Qt's, whose signals/slots keywords they use as names.
#include <ibus.h>

#include "support/LocalRelay.h"
#include "support/TestInputContext.h"
#include "support/Wait.h"
#include "support/PrivateIBusDaemon.h"

#include <QCoreApplication>
#include <QProcess>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <vector>

using namespace tellwire::testing;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kKeys = 1000;
constexpr int kPublishes = 200;

struct Figures {
    double p50 = 0;
    double p99 = 0;
    double max = 0;
};

Figures figures(std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    auto at = [&](double q) { return samples[std::min(samples.size() - 1, size_t(q * double(samples.size())))]; };
    return {at(0.50), at(0.99), samples.back()};
}

double ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

// kKeys letters typed as repeated "nihao" compositions, each closed by Escape;
// the time from sending each letter to its preedit update.
std::optional<std::vector<double>> keyLatencies(const QString& address, const char* engine)
{
    auto context = TestInputContext::create(address, "bench");
    if (!context)
        return std::nullopt;
    context->focusIn();
    if (!context->setEngine(engine))
        return std::nullopt;
    const char* letters = "nihao";
    std::vector<double> samples;
    for (int i = -50; i < kKeys; ++i) { // the first 50 warm up
        const int position = ((i % 5) + 5) % 5;
        if (position == 0) {
            context->press(IBUS_KEY_Escape);
        }
        const int before = context->preeditUpdates;
        const auto sent = Clock::now();
        const auto handled = context->sendKey(ibus_keyval_from_name(std::string(1, letters[position]).c_str()), 0);
        if (!handled || !waitUntil([&] { return context->preeditUpdates > before; }, std::chrono::seconds(5)))
            return std::nullopt;
        context->sendKey(ibus_keyval_from_name(std::string(1, letters[position]).c_str()), IBUS_RELEASE_MASK);
        if (i >= 0)
            samples.push_back(ms(context->preeditAt - sent));
    }
    context->press(IBUS_KEY_Escape);
    return samples;
}

void report(const char* what, const std::vector<double>& samples)
{
    const Figures f = figures(samples);
    std::printf("%-44s n=%4zu  p50 %7.3f ms  p99 %7.3f ms  max %7.3f ms\n", what, samples.size(), f.p50, f.p99,
                f.max);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList components{PrivateIBusDaemon::tellwireComponent()};
    const bool haveLibpinyin = std::filesystem::exists(LIBPINYIN_COMPONENT);
    if (haveLibpinyin)
        components << QStringLiteral(LIBPINYIN_COMPONENT) << QStringLiteral(MEMCONF_COMPONENT);
    // libpinyin reads its settings through the daemon's config component.
    QProcessEnvironment settings;
    settings.insert(QStringLiteral("GSETTINGS_BACKEND"), QStringLiteral("memory"));
    PrivateIBusDaemon daemon(components, settings, haveLibpinyin ? QStringLiteral("default") : QStringLiteral("disable"));
    if (!daemon.start()) {
        std::fprintf(stderr, "ibus-daemon: %s\n", qPrintable(daemon.error()));
        return 1;
    }

    LocalRelay relay(QStringLiteral(TELLWIRE_RELAY_EXECUTABLE));
    if (!relay.start()) {
        std::fprintf(stderr, "the local relay did not start\n");
        return 1;
    }
    const QString desktopToken = relay.signIn(QStringLiteral("desktop"));
    relay.phoneToken = relay.signIn(QStringLiteral("phone"));
    if (desktopToken.isEmpty() || relay.phoneToken.isEmpty() || !storeDesktopToken(desktopToken)) {
        std::fprintf(stderr, "could not sign in at the local relay (run inside tools/with-test-session)\n");
        return 1;
    }

    QProcess tellwire;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TELLWIRE_RELAY_ORIGIN"), relay.origin);
    tellwire.setProcessEnvironment(environment);
    tellwire.setProcessChannelMode(QProcess::ForwardedChannels);
    tellwire.start(QStringLiteral(TELLWIRE_EXECUTABLE), {});
    int status = 0;

    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::printf("key -> preedit through ibus-daemon, %d keys each\n", kKeys);
    const auto ours = keyLatencies(daemon.address(), "cc.orrisfeld.tellwire.inputmethod");
    if (ours)
        report("Tellwire", *ours);
    else
        status = 1, std::fprintf(stderr, "Tellwire did not answer every key\n");
    if (haveLibpinyin) {
        const auto reference = keyLatencies(daemon.address(), "libpinyin");
        if (reference)
            report("ibus-libpinyin (reference)", *reference);
        else
            status = 1, std::fprintf(stderr, "ibus-libpinyin did not answer every key\n");
    } else {
        std::printf("ibus-libpinyin is not installed: no reference\n");
    }

    // Relay publish -> preedit at the focused context.
    auto context = TestInputContext::create(daemon.address(), "bench-voice");
    context->focusIn();
    context->setEngine("cc.orrisfeld.tellwire.inputmethod");
    std::vector<double> fromSend;
    std::vector<double> afterAnswer;
    for (int i = -10; i < kPublishes && status == 0; ++i) {
        const QString text = QStringLiteral("测试%1").arg(i + 100);
        const auto sent = Clock::now();
        if (!relay.say(QStringLiteral("bench-%1").arg(i + 100), text, false)) {
            status = 1;
            break;
        }
        const auto answered = Clock::now();
        if (!waitUntil([&] { return context->preedit.text == text; }, std::chrono::seconds(20))) {
            std::fprintf(stderr, "published text never arrived as preedit\n");
            status = 1;
            break;
        }
        if (i >= 0) {
            fromSend.push_back(ms(context->preeditAt - sent));
            afterAnswer.push_back(ms(context->preeditAt - answered));
        }
    }
    if (status == 0) {
        std::printf("relay publish -> preedit, %d events\n", kPublishes);
        report("from sending the publish", fromSend);
        report("beyond the relay's answer (may be < 0)", afterAnswer);
    }

    tellwire.terminate();
    tellwire.waitForFinished(5000);
    return status;
}
