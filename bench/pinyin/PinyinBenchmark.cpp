// Loading the real dictionary, answering queries, and typing a composition
// key by key, as the keyboard does. Run a Release build:
//   build/bin/pinyin_benchmark

#include "input/KeyEvent.h"
#include "pinyin/Pinyin.h"
#include "pinyin/Resources.h"
#include "input/VoiceInputController.h"
#include "model/Defaults.h"
#include "model/DesktopState.h"
#include "model/SecretStore.h"
#include "relayclient/Router.h"
#include "support/Fakes.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using namespace tellwire;

QString dictionaryPath()
{
    return resourcePath(QString::fromLatin1(Pinyin::kResourceName));
}

const Pinyin& realDictionary()
{
    static const Pinyin pinyin(dictionaryPath());
    if (!pinyin.ready()) {
        std::fprintf(stderr, "no usable dictionary at %s\n", qPrintable(dictionaryPath()));
        std::exit(1);
    }
    return pinyin;
}

void BM_LoadDictionary(benchmark::State& state)
{
    const QString path = dictionaryPath();
    std::size_t bytes = 0;
    for (auto _ : state) {
        Pinyin pinyin(path);
        bytes = pinyin.memoryUsage();
        benchmark::DoNotOptimize(pinyin.ready());
    }
    state.counters["table_MB"] = double(bytes) / (1 << 20);
    state.counters["codes"] = double(realDictionary().codeCount());
    state.counters["words"] = double(realDictionary().wordCount());
}
BENCHMARK(BM_LoadDictionary)->Unit(benchmark::kMillisecond);

void BM_ExactQuery(benchmark::State& state, const char16_t* query)
{
    const Pinyin& pinyin = realDictionary();
    const QString text = QString::fromUtf16(query);
    for (auto _ : state)
        benchmark::DoNotOptimize(pinyin.candidates(text));
    state.counters["candidates"] = double(pinyin.candidates(text).size());
}
BENCHMARK_CAPTURE(BM_ExactQuery, shi, u"shi");
BENCHMARK_CAPTURE(BM_ExactQuery, nihao, u"nihao");

void BM_SentenceQuery(benchmark::State& state, const char16_t* query)
{
    const Pinyin& pinyin = realDictionary();
    const QString text = QString::fromUtf16(query);
    for (auto _ : state)
        benchmark::DoNotOptimize(pinyin.candidates(text));
    state.counters["letters"] = double(text.size());
    state.counters["candidates"] = double(pinyin.candidates(text).size());
}
// 64 letters each: a sentence found, and one whose last letter no code covers,
// so every position tries all its pieces.
BENCHMARK_CAPTURE(BM_SentenceQuery, found,
                  u"woxiangchiwanfanwoxiangchiwanfanwoxiangchiwanfanwoxiangchiwanfan")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_SentenceQuery, uncovered,
                  u"zhuangzhuangzhuangzhuangzhuangzhuangzhuangzhuangzhuangzhuangzhuv")
    ->Unit(benchmark::kMicrosecond);

// Sixteen letters typed one by one, then Escape; each key-down is timed too,
// for its median and 99th percentile.
void BM_Composition(benchmark::State& state)
{
    MemorySecretStore secrets;
    MemoryDefaults defaults;
    DesktopState model(secrets, defaults, nullptr);
    Router router(model);
    testing::RecordingClient client;
    VoiceInputController controller(
        model, router, nullptr, [] { return std::make_unique<testing::RecordingCandidateWindow>(); }, nullptr,
        &realDictionary());
    controller.setClient(&client);
    controller.activateServer();

    const QString letters = QStringLiteral("woxiangchiwanfan");
    std::vector<KeyEvent> keys;
    for (QChar c : letters) {
        KeyEvent key;
        key.characters = QString(c);
        keys.push_back(key);
    }
    KeyEvent escape;
    escape.keyCode = KeyEvent::kEscape;

    std::vector<double> keyTimes;
    keyTimes.reserve(1 << 20);
    for (auto _ : state) {
        for (const KeyEvent& key : keys) {
            const auto start = std::chrono::steady_clock::now();
            benchmark::DoNotOptimize(controller.handle(&key));
            const auto end = std::chrono::steady_clock::now();
            if (keyTimes.size() < keyTimes.capacity())
                keyTimes.push_back(std::chrono::duration<double, std::micro>(end - start).count());
        }
        controller.handle(&escape);
        client.calls.clear();
    }
    std::sort(keyTimes.begin(), keyTimes.end());
    if (!keyTimes.empty()) {
        state.counters["key_median_us"] = keyTimes[keyTimes.size() / 2];
        state.counters["key_p99_us"] = keyTimes[keyTimes.size() * 99 / 100];
    }
    state.counters["keys"] = benchmark::Counter(double(state.iterations() * keys.size()));
}
BENCHMARK(BM_Composition)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
