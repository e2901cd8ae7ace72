// Measures, through a headless fcitx5 and its D-Bus frontend (the one the GTK
// and Qt modules use), how long a key takes to come back as a preedit update:
// Tellwire (addon and process) against fcitx5's own pinyin, in the same run.
#include "fcitx/PrivateFcitx5.h"
#include "support/PrivateSessionBus.h"
#include "support/Wait.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusMetaType>
#include <QDBusPendingCall>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

using namespace tellwire::testing;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kKeys = 1000;
const QString kFcitx5 = QStringLiteral("org.fcitx.Fcitx5");

struct Pair {
    QString key;
    QString value;
};

QDBusArgument& operator<<(QDBusArgument& argument, const Pair& pair)
{
    argument.beginStructure();
    argument << pair.key << pair.value;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, Pair& pair)
{
    argument.beginStructure();
    argument >> pair.key >> pair.value;
    argument.endStructure();
    return argument;
}

} // namespace

Q_DECLARE_METATYPE(Pair)

namespace {

// One input context of fcitx5's D-Bus frontend, as a toolkit module makes it.
class Context : public QObject {
    Q_OBJECT
public:
    int preeditUpdates = 0;
    Clock::time_point preeditAt;

    bool create()
    {
        qDBusRegisterMetaType<Pair>();
        qDBusRegisterMetaType<QList<Pair>>();
        QDBusInterface im(kFcitx5, QStringLiteral("/org/freedesktop/portal/inputmethod"), QStringLiteral("org.fcitx.Fcitx.InputMethod1"));
        const QDBusMessage made = im.call(QStringLiteral("CreateInputContext"),
                                          QVariant::fromValue(QList<Pair>{{"program", "bench"}}));
        if (made.type() != QDBusMessage::ReplyMessage)
            return false;
        path_ = made.arguments().value(0).value<QDBusObjectPath>().path();
        QDBusConnection::sessionBus().connect(kFcitx5, path_, QStringLiteral("org.fcitx.Fcitx.InputContext1"),
                                              QStringLiteral("UpdateFormattedPreedit"), this,
                                              SLOT(preeditUpdated()));
        constexpr qulonglong kPreedit = 1 << 1, kFormattedPreedit = 1 << 4;
        call(QStringLiteral("SetCapability"), {kPreedit | kFormattedPreedit});
        call(QStringLiteral("FocusIn"), {});
        return true;
    }

    QDBusMessage call(const QString& method, const QVariantList& arguments)
    {
        QDBusMessage message = QDBusMessage::createMethodCall(kFcitx5, path_, QStringLiteral("org.fcitx.Fcitx.InputContext1"), method);
        message.setArguments(arguments);
        return QDBusConnection::sessionBus().call(message);
    }

    // Sends a key press without waiting: the preedit update is timed as it arrives.
    void press(uint keysym)
    {
        QDBusMessage message = QDBusMessage::createMethodCall(kFcitx5, path_, QStringLiteral("org.fcitx.Fcitx.InputContext1"),
                                                              QStringLiteral("ProcessKeyEvent"));
        message.setArguments({keysym, 0u, 0u, false, 0u});
        QDBusConnection::sessionBus().asyncCall(message);
    }

private slots:
    void preeditUpdated()
    {
        ++preeditUpdates;
        preeditAt = Clock::now();
    }

private:
    QString path_;
};

double ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

// Whether letters come back as preedit now (Tellwire may still be starting).
bool answers(Context& context)
{
    for (int attempt = 0; attempt < 60; ++attempt) {
        const int before = context.preeditUpdates;
        context.press('a');
        if (waitUntil([&] { return context.preeditUpdates > before; }, std::chrono::milliseconds(500))) {
            context.press(0xff1b); // Escape
            return waitUntil([&] { return context.preeditUpdates > before + 1; }, std::chrono::seconds(5));
        }
    }
    return false;
}

// kKeys letters typed as repeated "nihao" compositions, each closed by Escape;
// the time from sending each letter to its preedit update.
std::optional<std::vector<double>> keyLatencies(Context& context)
{
    if (!answers(context))
        return std::nullopt;
    const char* letters = "nihao";
    std::vector<double> samples;
    for (int i = -50; i < kKeys; ++i) { // the first 50 warm up
        const int position = ((i % 5) + 5) % 5;
        if (position == 0) {
            const int before = context.preeditUpdates;
            context.press(0xff1b);
            if (i > -50 && !waitUntil([&] { return context.preeditUpdates > before; }, std::chrono::seconds(5)))
                return std::nullopt;
        }
        const int before = context.preeditUpdates;
        const auto sent = Clock::now();
        context.press(uint(letters[position]));
        if (!waitUntil([&] { return context.preeditUpdates > before; }, std::chrono::seconds(5)))
            return std::nullopt;
        if (i >= 0)
            samples.push_back(ms(context.preeditAt - sent));
    }
    return samples;
}

void report(const char* what, std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    auto at = [&](double q) { return samples[std::min(samples.size() - 1, size_t(q * double(samples.size())))]; };
    std::printf("%-36s n=%4zu  p50 %7.3f ms  p99 %7.3f ms  max %7.3f ms\n", what, samples.size(), at(0.50),
                at(0.99), samples.back());
}

std::optional<std::vector<double>> measure(const char* inputMethod)
{
    Context context;
    if (!context.create())
        return std::nullopt;
    QDBusInterface controller(kFcitx5, QStringLiteral("/controller"), QStringLiteral("org.fcitx.Fcitx.Controller1"));
    controller.call(QStringLiteral("SetCurrentIM"), QString::fromLatin1(inputMethod));
    return keyLatencies(context);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // Both input methods in one group, as a user who has both would have them.
    if (!PrivateFcitx5::writeProfile("[Groups/0]\nName=Default\nDefault Layout=us\nDefaultIM=tellwire\n"
                                     "[Groups/0/Items/0]\nName=keyboard-us\n[Groups/0/Items/1]\nName=tellwire\n"
                                     "[Groups/0/Items/2]\nName=pinyin\n[GroupOrder]\n0=Default\n")) {
        std::fprintf(stderr, "could not write fcitx5's profile\n");
        return 1;
    }
    // Tellwire, started by the addon, reaches no relay: only keys are timed.
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("TELLWIRE_RELAY_ORIGIN"), QStringLiteral("http://127.0.0.1:9"));
    PrivateFcitx5 fcitx;
    if (!fcitx.start(environment)) {
        std::fprintf(stderr, "fcitx5 did not start (run inside tools/with-test-session)\n");
        return 1;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::printf("key -> preedit through fcitx5, %d keys each\n", kKeys);
    int status = 0;
    if (const auto ours = measure("tellwire"))
        report("Tellwire (addon + process)", *ours);
    else
        status = 1, std::fprintf(stderr, "Tellwire did not answer every key\n");
    if (const auto reference = measure("pinyin"))
        report("fcitx5 pinyin (reference)", *reference);
    else
        status = 1, std::fprintf(stderr, "fcitx5's pinyin did not answer every key\n");
    stopOwnerOf(QDBusConnection::sessionBus(), QStringLiteral("cc.orrisfeld.tellwire.inputmethod"));
    return status;
}

#include "FcitxLatencyBench.moc"
