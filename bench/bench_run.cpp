// A whole test run on one minute of captures (speech-like Tx bursts and their echo), at
// tails 64 and 1024: reading, high-pass, screening, delay and ERL search, the cancellation
// pass and the output file, also with the analysis record kept, and with the record and the
// spectral evidence computed from it (the whitened delay search and the delay over time).
// Reports seconds of run time per minute of capture.
#include <benchmark/benchmark.h>

#include <string>

#include "engine/EchoTester.h"
#include "evidence/WhitenedEvidence.h"
#include "support/SyntheticCaptures.h"
#include "support/SilentUi.h"

using namespace tarnwell;

namespace {

constexpr int kMinute = 60 * 8000;

const testcaptures::TempDir& Captures()
{
    static const testcaptures::TempDir dir;
    static const bool written = [] {
        const auto tx = testcaptures::Bursts(kMinute, 2848.0, 2400, 30.0, 3);
        testcaptures::WritePcm(dir.File("tx.pcm"), tx);
        testcaptures::WritePcm(dir.File("rx.pcm"), testcaptures::Echo(tx, 160, 12.0, 3.0));
        return true;
    }();
    (void)written;
    return dir;
}

void WholeRun(benchmark::State& state)
{
    const testcaptures::TempDir& dir = Captures();
    TestSettings settings;
    settings.txPath = dir.File("tx.pcm");
    settings.rxPath = dir.File("rx.pcm");
    settings.outPath = dir.File("out.pcm");
    settings.delay = 100;
    settings.tail = static_cast<int>(state.range(0));
    settings.nlpEnable = 1;
    settings.nlpDiff = 6;
    settings.nlpShift = 3;
    settings.highPass = 1;
    SilentUi ui;
    const bool record = state.range(1) != 0;
    const bool spectral = state.range(1) == 2;
    for (auto _ : state) {
        TestResults results;
        AnalysisRecord analysis;
        if (!EchoTester().RunTest(settings, results, ui, record ? &analysis : nullptr)) {
            state.SkipWithError("the run failed");
            break;
        }
        if (spectral) {
            AddWhitenedEvidence(analysis);
        }
        benchmark::DoNotOptimize(results);
    }
    // With one minute per iteration, the time per iteration is seconds per minute of capture.
    state.counters["s_per_capture_min"] = benchmark::Counter(
        static_cast<double>(state.iterations()), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// Second argument 1: the run also keeps its analysis record, whose cost this pair shows;
// 2: and the spectral evidence is computed from it.
BENCHMARK(WholeRun)
    ->ArgNames({"tail", "record"})
    ->Args({64, 0})
    ->Args({64, 1})
    ->Args({64, 2})
    ->Args({1024, 0})
    ->Args({1024, 1})
    ->Args({1024, 2})
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

// The spectral evidence alone, from a tail-64 run's record (its captures and taps copied back
// in each time): the figure to hold against a whole run's time.
void WhitenedEvidenceAlone(benchmark::State& state)
{
    const testcaptures::TempDir& dir = Captures();
    TestSettings settings;
    settings.txPath = dir.File("tx.pcm");
    settings.rxPath = dir.File("rx.pcm");
    settings.outPath = dir.File("out.pcm");
    settings.delay = 100;
    settings.tail = 64;
    settings.highPass = 1;
    SilentUi ui;
    TestResults results;
    AnalysisRecord ran;
    if (!EchoTester().RunTest(settings, results, ui, &ran)) {
        state.SkipWithError("the run failed");
        return;
    }
    for (auto _ : state) {
        // A run hands its captures over; copying them back is no part of the evidence's cost.
        state.PauseTiming();
        AnalysisRecord analysis;
        analysis.txCapture = ran.txCapture;
        analysis.rxCapture = ran.rxCapture;
        analysis.echoPath = ran.echoPath;  // the non-linear echo measure reads the pass's taps
        state.ResumeTiming();
        AddWhitenedEvidence(analysis);
        benchmark::DoNotOptimize(analysis.whitenedDelay);
    }
}
BENCHMARK(WhitenedEvidenceAlone)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
