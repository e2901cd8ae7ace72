// Consuming a large batch of events, and what an idle long poll costs.

#include "input/TextClient.h"
#include "input/VoiceInputController.h"
#include "model/Defaults.h"
#include "model/DesktopState.h"
#include "model/SecretStore.h"
#include "relayclient/RelayClient.h"
#include "relayclient/Router.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <ctime>
#include <memory>
#include <vector>

namespace tellwire {
namespace {

class CountingClient final : public TextClient {
public:
    long marks = 0;
    long inserts = 0;
    void setMarkedText(const QString&, TextRange, TextRange) override { ++marks; }
    void insertText(const QString&, TextRange) override { ++inserts; }
};

// 10,000 fresh events: 2,500 utterances of three growing interims and a final.
QList<Transcript> makeBatch(double now)
{
    QList<Transcript> batch;
    qint64 seq = 0;
    for (int u = 0; u < 2500; ++u) {
        const QString id = QStringLiteral("utt-%1").arg(u);
        QString text;
        for (int step = 0; step < 4; ++step) {
            text += QStringLiteral("说的话");
            Transcript t;
            t.utterance = id;
            t.text = text;
            if (step == 3)
                t.final = true;
            t.seq = ++seq;
            t.at = now;
            t.session = QStringLiteral("s");
            batch.append(t);
        }
    }
    return batch;
}

void BM_ConsumeTenThousandEvents(benchmark::State& run)
{
    const double now = double(QDateTime::currentMSecsSinceEpoch());
    const QList<Transcript> batch = makeBatch(now);
    for (auto _ : run) {
        run.PauseTiming();
        MemorySecretStore secrets;
        MemoryDefaults defaults;
        auto state = std::make_unique<DesktopState>(secrets, defaults, nullptr);
        auto router = std::make_unique<Router>(*state);
        router->setClock([now] { return now; });
        CountingClient client;
        auto controller = std::make_unique<VoiceInputController>(*state, *router);
        controller->setClient(&client);
        controller->activateServer();
        run.ResumeTiming();

        router->consume(batch);

        run.PauseTiming();
        if (client.inserts != 2500 || state->history().size() != DesktopState::kHistoryLimit)
            run.SkipWithError("batch was not delivered");
        controller.reset();
        router.reset();
        state.reset();
        run.ResumeTiming();
    }
    run.counters["events"] = double(batch.size());
}
BENCHMARK(BM_ConsumeTenThousandEvents)->Unit(benchmark::kMillisecond);

double processCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1000.0 + double(t.tv_nsec) / 1e6;
}

// One long poll held open by a relay that has nothing to say; the process
// should sleep until the reply or the 25-second deadline.
void BM_IdleLongPoll(benchmark::State& run)
{
    QTcpServer relay;
    relay.listen(QHostAddress::LocalHost);
    std::vector<std::unique_ptr<QTcpSocket>> held;
    QObject::connect(&relay, &QTcpServer::newConnection, [&] {
        while (QTcpSocket* socket = relay.nextPendingConnection())
            held.emplace_back(socket);
    });
    MemorySecretStore secrets;
    secrets.save(QStringLiteral("desktop-token"), QStringLiteral("bench"));
    MemoryDefaults defaults;
    DesktopState state(secrets, defaults, nullptr);
    state.setBase(QStringLiteral("http://127.0.0.1:%1").arg(relay.serverPort()));
    RelayClient client(state);
    client.connect();

    // Let the request go out, then watch a quiet stretch.
    QEventLoop loop;
    QTimer::singleShot(200, &loop, &QEventLoop::quit);
    loop.exec();
    constexpr int kQuietMs = 3000;
    double cpu = 0;
    for (auto _ : run) {
        const double before = processCpuMs();
        QTimer::singleShot(kQuietMs, &loop, &QEventLoop::quit);
        loop.exec();
        cpu = processCpuMs() - before;
        run.SetIterationTime(kQuietMs / 1000.0);
    }
    if (held.empty() || state.status() != QStringLiteral("未连接手机"))
        run.SkipWithError("the poll was not held open");
    run.counters["cpu_ms_per_s"] = cpu / (kQuietMs / 1000.0);
}
BENCHMARK(BM_IdleLongPoll)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace tellwire

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
