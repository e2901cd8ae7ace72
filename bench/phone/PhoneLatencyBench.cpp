// Measures how long a change in the phone page's text box takes to show as
// preedit at the desktop: headless Chromium on the relay's page (the phone),
// the real relay on loopback, the real Tellwire in a private ibus-daemon, and
// a focused libibus client (the application). Interim changes only: each one
// appends a character, a final ends every utterance as a person would.
// Run inside tools/with-test-session. Exit status: 0 target met, 2 missed,
// 1 the run itself failed. --breakdown also splits each sample into the
// page, the relay and the desktop (Tellwire and IBus), with a second desktop
// long-polling the relay as an observer; that poll perturbs the run a little,
// so the headline figures come from runs without it.
//
// Timing: from the page's input event to the client's preedit update. The page
// stamps the dispatch with performance.timeOrigin + performance.now(); Chromium
// derives that from the monotonic clock plus a constant fixed when the browser
// starts, so one constant maps it onto our steady_clock (the same monotonic
// clock). That constant is measured NTP-style from the tightest of several
// "clock" round trips through the driver (error at most half that round trip)
// and measured again after the run to show it held. Timing each change end to
// end through the driver's stdin instead would add node, the DevTools pipe and
// the driver's pacing to every sample.

// GLib's headers come before Qt's, whose signals/slots keywords they use as names.
#include <ibus.h>

#include "support/LocalRelay.h"
#include "support/PrivateIBusDaemon.h"
#include "support/TestInputContext.h"
#include "support/Wait.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

using namespace tellwire::testing;
using namespace std::chrono_literals;

namespace {

constexpr const char* kEngine = "cc.orrisfeld.tellwire.inputmethod";
constexpr int kChanges = 500;
constexpr int kWarmUpChanges = 20; // the first utterance: Tellwire's first poll, the page's first sends
constexpr int kSpacingMs = 150;
constexpr double kTargetMs = 50;
constexpr int kClockTrips = 50;
// One utterance, one character more per change; 20 characters, then a final.
const QString kUtterance = QStringLiteral("今天天气很好我们去公园散步然后一起吃午饭");

double steadyMs()
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double steadyMs(std::chrono::steady_clock::time_point at)
{
    return std::chrono::duration<double, std::milli>(at.time_since_epoch()).count();
}

struct Figures {
    double p50 = 0;
    double p99 = 0;
    double max = 0;
};

// The same ranks as the IBus benchmark, so the figures compare.
Figures figures(std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    auto at = [&](double q) { return samples[std::min(samples.size() - 1, size_t(q * double(samples.size())))]; };
    return {at(0.50), at(0.99), samples.back()};
}

// The machine is shared: how busy it was belongs next to the figures.
std::string load()
{
    std::ifstream average("/proc/loadavg");
    std::ifstream pressure("/proc/pressure/cpu");
    std::string a, b, c, line;
    average >> a >> b >> c;
    std::getline(pressure, line); // "some avg10=... avg60=... avg300=... total=..."
    line = line.substr(0, line.find(" avg300"));
    return "load " + a + " " + b + " " + c + (line.empty() ? "" : ", cpu pressure " + line);
}

// drive-latency.js under node: one command line in, one answer line out.
class Driver {
public:
    bool start(const QString& link)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("TELLWIRE_PAIRING_LINK"), link);
        environment.insert(QStringLiteral("TELLWIRE_CHROMIUM"), QStringLiteral("/usr/bin/chromium"));
        environment.insert(QStringLiteral("TELLWIRE_BENCH_SPACING_MS"), QString::number(kSpacingMs));
        // The phone test's puppeteer-core; no package of our own.
        environment.insert(QStringLiteral("NODE_PATH"), QStringLiteral(TELLWIRE_PHONE_NODE_MODULES));
        // The browser plays a phone: it stays off the desktop's session bus (portals, keyring).
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent"));
        process_.setProcessEnvironment(environment);
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(QStringLiteral("node"), {QStringLiteral(TELLWIRE_PHONE_LATENCY_DRIVER)});
        return process_.waitForStarted() && answer(60s) == QStringLiteral("ready");
    }

    void send(const QString& command) { process_.write(command.toUtf8() + '\n'); }

    // The next answer line if one has come.
    std::optional<QString> take()
    {
        if (!process_.canReadLine())
            return std::nullopt;
        return QString::fromUtf8(process_.readLine()).trimmed();
    }

    std::optional<QString> answer(std::chrono::milliseconds timeout = 20s)
    {
        std::optional<QString> line;
        waitUntil([&] { return (line = take()) || process_.state() == QProcess::NotRunning; }, timeout);
        return line;
    }

    // The page's clock from an "at T" answer.
    static std::optional<double> stamp(const std::optional<QString>& line)
    {
        bool ok = false;
        const double at = line && line->startsWith(QStringLiteral("at ")) ? line->mid(3).toDouble(&ok) : 0;
        return ok ? std::optional(at) : std::nullopt;
    }

    void stop()
    {
        process_.closeWriteChannel(); // the driver closes the browser and ends
        if (!process_.waitForFinished(20000)) {
            process_.terminate();
            if (!process_.waitForFinished(10000))
                process_.kill();
        }
    }

private:
    QProcess process_;
};

// Page clock minus steady clock, in ms.
struct ClockFit {
    double offset = 0;
    double bound = 0; // half the tightest round trip
    double medianTrip = 0;
};

std::optional<ClockFit> fitClock(Driver& driver)
{
    ClockFit fit;
    std::vector<double> trips;
    double tightest = 1e9;
    for (int i = 0; i < kClockTrips; ++i) {
        const double before = steadyMs();
        driver.send(QStringLiteral("clock"));
        const auto at = Driver::stamp(driver.answer());
        const double after = steadyMs();
        if (!at)
            return std::nullopt;
        trips.push_back(after - before);
        if (after - before < tightest) {
            tightest = after - before;
            fit.offset = *at - (before + after) / 2;
            fit.bound = tightest / 2;
        }
    }
    std::sort(trips.begin(), trips.end());
    fit.medianTrip = trips[trips.size() / 2];
    return fit;
}

// What a person gets from "add a phone" on the desktop.
QString pairingLink(const QString& origin, const QString& desktopToken)
{
    httplib::Client client(origin.toStdString());
    const auto reply = client.Post("/v1/pairings", {{"Authorization", "Bearer " + desktopToken.toStdString()}}, "{}",
                                   "application/json");
    if (!reply || reply->status != 200)
        return {};
    const QString secret = QJsonDocument::fromJson(QByteArray::fromStdString(reply->body))
                               .object().value(QStringLiteral("secret")).toString();
    return secret.isEmpty() ? QString() : origin + QStringLiteral("/#pair=") + secret;
}

// A desktop of its own (LocalRelay's number and fixed code, another device,
// so Tellwire's token stays valid).
QString observerToken(const QString& origin)
{
    httplib::Client client(origin.toStdString());
    const std::string number = R"("phone": "13800138000")";
    client.Post("/v1/auth/phone/request", "{" + number + "}", "application/json");
    const auto reply = client.Post("/v1/auth/phone/verify",
                                   "{" + number + R"(, "code": "123456", "role": "desktop", "device_id": "bench-observer"})",
                                   "application/json");
    if (!reply || reply->status != 200)
        return {};
    return QJsonDocument::fromJson(QByteArray::fromStdString(reply->body)).object().value(QStringLiteral("token")).toString();
}

// Long-polls the relay on a thread of its own, as Tellwire does, and notes when
// each event comes: the relay's share ends there, the desktop's begins.
class Observer {
public:
    struct Seen {
        QString text;
        bool final = false;
        double at = 0;
    };

    Observer(const QString& origin, const QString& token)
        : origin_(origin.toStdString()), token_(token.toStdString()), thread_([this] { poll(); })
    {
    }
    ~Observer()
    {
        stop_ = true;
        thread_.join(); // within the relay's hold
    }

    size_t count()
    {
        std::lock_guard lock(mutex_);
        return seen_.size();
    }
    // When the first interim with text came, from index from on.
    std::optional<double> interim(size_t from, const QString& text)
    {
        std::lock_guard lock(mutex_);
        for (size_t i = from; i < seen_.size(); ++i)
            if (!seen_[i].final && seen_[i].text == text)
                return seen_[i].at;
        return std::nullopt;
    }

private:
    void poll()
    {
        httplib::Client client(origin_);
        client.set_read_timeout(std::chrono::seconds(30));
        const httplib::Headers headers{{"Authorization", "Bearer " + token_}};
        long long cursor = -1;
        while (!stop_) {
            const auto reply = client.Get("/v1/events?after=" + std::to_string(cursor), headers);
            const double at = steadyMs();
            if (!reply || reply->status != 200)
                return;
            const QJsonObject batch = QJsonDocument::fromJson(QByteArray::fromStdString(reply->body)).object();
            cursor = batch.value(QStringLiteral("cursor")).toInteger(cursor);
            std::lock_guard lock(mutex_);
            for (const auto& event : batch.value(QStringLiteral("events")).toArray())
                seen_.push_back({event[QStringLiteral("text")].toString(), event[QStringLiteral("final")].toBool(), at});
        }
    }

    std::string origin_;
    std::string token_;
    std::atomic<bool> stop_ = false;
    std::mutex mutex_;
    std::vector<Seen> seen_;
    std::thread thread_;
};

// One timed change, on the steady clock.
struct Change {
    QString text;
    double typed = 0; // the page's input event
    double shown = 0; // the preedit update at the client
    size_t observed = 0; // the observer's count before the change
};

// Splits each sample where the page's fetch starts (its Resource Timing) and
// where a held poll gets the event (the observer), and shows the slowest whole.
bool printBreakdown(Driver& driver, const ClockFit& fit, Observer& observer, const std::vector<Change>& changes)
{
    driver.send(QStringLiteral("timings"));
    const auto line = driver.answer();
    if (!line || !line->startsWith(QStringLiteral("timings ")))
        return false;
    struct Send {
        double start, requestStart, responseStart;
    };
    std::vector<Send> sends;
    for (const auto& entry : QJsonDocument::fromJson(line->mid(8).toUtf8()).array()) {
        const QJsonArray t = entry.toArray();
        sends.push_back({t[0].toDouble() - fit.offset, t[1].toDouble() - fit.offset, t[2].toDouble() - fit.offset});
    }
    std::sort(sends.begin(), sends.end(), [](const Send& a, const Send& b) { return a.start < b.start; });

    struct Row {
        double total, page, queued, answer, relay, desktop, typed;
    };
    std::vector<Row> rows;
    for (const Change& change : changes) {
        // The page's clock is coarse (0.1 ms): its fetch may stamp a hair before the event.
        const auto send = std::lower_bound(sends.begin(), sends.end(), change.typed - 0.2,
                                           [](const Send& s, double at) { return s.start < at; });
        const auto seen = observer.interim(change.observed, change.text);
        if (send == sends.end() || send->start > change.shown || !seen)
            return false;
        rows.push_back({change.shown - change.typed, send->start - change.typed, send->requestStart - send->start,
                        send->responseStart - send->requestStart, *seen - send->start, change.shown - *seen,
                        change.typed});
    }
    const auto column = [&](double Row::*part) {
        std::vector<double> values;
        for (const Row& row : rows)
            values.push_back(row.*part);
        const Figures f = figures(values);
        std::printf("  p50 %7.3f  p99 %7.3f  max %7.3f ms", f.p50, f.p99, f.max);
    };
    std::printf("breakdown (with an observer long-polling the relay as a second desktop):\n");
    std::printf("%-58s", "page:    input event -> the page's fetch starts");
    column(&Row::page);
    std::printf("\n%-58s", "relay:   fetch starts -> a held poll has the event");
    column(&Row::relay);
    std::printf("\n%-58s", "desktop: held poll has it -> preedit (Tellwire, IBus)");
    column(&Row::desktop);
    std::printf("\n%-58s", "  of the relay's share: fetch starts -> request goes out");
    column(&Row::queued);
    std::printf("\n%-58s", "  request goes out -> the relay's answer to the page");
    column(&Row::answer);
    // The input event's time on CLOCK_MONOTONIC finds a sample in a scheduler trace (perf sched record -k mono).
    std::printf("\nslowest samples: total = page + relay + desktop (ms), input event at (s, monotonic)\n");
    std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a.total > b.total; });
    for (size_t i = 0; i < std::min<size_t>(8, rows.size()); ++i)
        std::printf("  %7.3f = %7.3f + %7.3f + %7.3f   at %.6f\n", rows[i].total, rows[i].page, rows[i].relay,
                    rows[i].desktop, rows[i].typed / 1000);
    return true;
}

// The daemon started Tellwire; it owns the input method's name on this session's bus.
void endTellwireOfSession()
{
    const auto pid = QDBusConnection::sessionBus().interface()->servicePid(QString::fromLatin1(kEngine));
    if (pid.isValid() && pid.value() > 0)
        kill(pid_t(pid.value()), SIGTERM);
}

int fail(const char* why)
{
    std::fprintf(stderr, "phone_latency_bench: %s\n", why);
    return 1;
}

int run(bool breakdown)
{
    if (!QFileInfo(QStringLiteral("/usr/bin/chromium")).isExecutable())
        return fail("Chromium is missing: apt-get install chromium");
    if (QStandardPaths::findExecutable(QStringLiteral("node")).isEmpty())
        return fail("node is missing");
    if (!QFileInfo::exists(QStringLiteral(TELLWIRE_PHONE_NODE_MODULES "/puppeteer-core/package.json")))
        return fail("puppeteer-core is missing: run tools/setup-deps");

    LocalRelay relay(QStringLiteral(TELLWIRE_RELAY_EXECUTABLE));
    if (!relay.start())
        return fail("the local relay did not start");
    const QString desktopToken = relay.signIn(QStringLiteral("desktop"));
    if (!storeDesktopToken(desktopToken))
        return fail("could not sign in at the local relay (run inside tools/with-test-session)");
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("TELLWIRE_RELAY_ORIGIN"), relay.origin);
    PrivateIBusDaemon daemon({PrivateIBusDaemon::tellwireComponent()}, environment);
    if (!daemon.start()) {
        std::fprintf(stderr, "ibus-daemon: %s\n", qPrintable(daemon.error()));
        return 1;
    }
    auto context = TestInputContext::create(daemon.address(), "bench-phone");
    if (!context)
        return fail("no input context");
    context->focusIn();
    if (!context->setEngine(kEngine))
        return fail("the daemon did not switch to Tellwire");
    const QString link = pairingLink(relay.origin, desktopToken);
    if (link.isEmpty())
        return fail("the relay made no pairing");

    Driver driver;
    struct Stop {
        Driver& driver;
        ~Stop()
        {
            driver.stop();
            endTellwireOfSession();
        }
    } stop{driver};
    std::optional<Observer> observer;
    if (breakdown) {
        const QString token = observerToken(relay.origin);
        if (token.isEmpty())
            return fail("the observer could not sign in");
        observer.emplace(relay.origin, token);
    }
    if (!driver.start(link))
        return fail("the phone page did not pair");
    const auto before = fitClock(driver);
    if (!before)
        return fail("the driver did not answer");
    const std::string loadBefore = load();

    std::vector<Change> changes;
    std::vector<double> samples;
    QString committed;
    for (int change = -kWarmUpChanges; change < kChanges;) {
        int length = 0;
        for (; length < kUtterance.size() && change < kChanges; ++length, ++change) {
            const QString expected = kUtterance.left(length + 1);
            const size_t observed = observer ? observer->count() : 0;
            driver.send(QStringLiteral("type ") + kUtterance[length]);
            std::optional<QString> answer;
            std::optional<double> shown;
            const bool arrived = waitUntil([&] {
                if (!answer)
                    answer = driver.take();
                // The first update that shows this text; a repeat must not move the mark.
                if (!shown && context->preedit.text == expected && context->preedit.visible)
                    shown = steadyMs(context->preeditAt);
                return answer && shown;
            }, 20s);
            const auto typed = Driver::stamp(answer);
            if (!arrived || !typed) {
                std::fprintf(stderr, "change %d: preedit \"%s\", wanted \"%s\"\n", change,
                             qPrintable(context->preedit.text), qPrintable(expected));
                return fail("a change never showed as preedit");
            }
            const double latency = *shown - (*typed - before->offset);
            if (latency < -before->bound)
                return fail("a preedit came before its input event: the clock fit is wrong");
            if (change >= 0) {
                samples.push_back(latency);
                changes.push_back({expected, *typed - before->offset, *shown, observed});
            }
        }
        // The person finishes: the text is committed and the preedit goes.
        committed += kUtterance.left(length);
        driver.send(QStringLiteral("final"));
        std::optional<QString> done;
        if (!waitUntil([&] {
                if (!done)
                    done = driver.take();
                return done && context->committed == committed && !context->preedit.visible;
            }, 20s)) {
            std::fprintf(stderr, "committed \"%s\"\n", qPrintable(context->committed));
            return fail("a final never committed");
        }
    }
    const auto after = fitClock(driver);
    if (!after)
        return fail("the driver did not answer");
    const std::string loadAfter = load();

    const Figures f = figures(samples);
    std::printf("phone page input event -> preedit, through the relay on loopback and a private ibus-daemon\n");
    std::printf("changes %d ms apart (the page sends one interim per 100 ms: each change goes out at once),\n"
                "one character appended per change, a final every %lld changes (not timed)\n",
                kSpacingMs, static_cast<long long>(kUtterance.size()));
    // The page's clock against the wall clock, as a sanity check of the fit.
    const double wallMinusSteady =
        std::chrono::duration<double, std::milli>(std::chrono::system_clock::now().time_since_epoch()).count()
        - steadyMs();
    std::printf("clock fit: page = steady + C, C known to +-%.3f ms, moved %+.3f ms over the run; "
                "page - wall clock %+.3f ms; driver round trip median %.3f ms\n",
                before->bound, after->offset - before->offset, before->offset - wallMinusSteady, before->medianTrip);
    std::printf("before: %s\nafter:  %s\n", loadBefore.c_str(), loadAfter.c_str());
    std::printf("n=%zu  p50 %.3f ms  p99 %.3f ms  max %.3f ms\n", samples.size(), f.p50, f.p99, f.max);
    const bool met = f.p99 <= kTargetMs;
    std::printf("p99 <= %.0f ms: %s\n", kTargetMs, met ? "yes" : "NO");
    if (observer && !printBreakdown(driver, *before, *observer, changes))
        return fail("no breakdown");
    return met ? 0 : 2;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const bool breakdown = argc == 2 && std::strcmp(argv[1], "--breakdown") == 0;
    if (argc > 2 || (argc == 2 && !breakdown)) {
        std::fprintf(stderr, "usage: phone_latency_bench [--breakdown]\n");
        return 1;
    }
    return run(breakdown);
}
