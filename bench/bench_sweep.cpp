// Runs of many passes on the shared runner: a sweep of 64 tails (16..1024) over one minute of
// captures at 1 and 2 threads, against the same 64 settings as whole single runs (each one
// reading, filtering and searching the delay again); and every G.168-style test on the eight
// echo path models at tail 128. Each iteration is one whole job; wall time is what it costs.
#include <benchmark/benchmark.h>

#include "engine/EchoTester.h"
#include "evidence/G168Tests.h"
#include "evidence/Sweep.h"
#include "support/SilentUi.h"
#include "support/SyntheticCaptures.h"

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

TestSettings Base()
{
    const testcaptures::TempDir& dir = Captures();
    TestSettings s;
    s.txPath = dir.File("tx.pcm");
    s.rxPath = dir.File("rx.pcm");
    s.outPath = dir.File("out.pcm");
    s.delay = 100;
    s.tail = 128;
    s.nlpEnable = 1;
    s.nlpDiff = 6;
    s.nlpShift = 3;
    s.highPass = 1;
    return s;
}

SweepGrid SixtyFourTails()
{
    SweepGrid grid{{}, {100}, {6}, {3}};
    for (int tail = 16; tail <= 1024; tail += 16) {
        grid.tails.push_back(tail);
    }
    return grid;
}

void SweepOfTails(benchmark::State& state)
{
    const TestSettings base = Base();
    const SweepGrid grid = SixtyFourTails();
    SilentUi ui;
    RunnerControl control;
    control.threads = static_cast<int>(state.range(0));
    for (auto _ : state) {
        const SweepOutcome outcome = RunSweep(EchoTester{}, base, 2, grid, ui, control);
        if (!outcome.ready || outcome.points.size() != 64) {
            state.SkipWithError("the sweep failed");
            break;
        }
        benchmark::DoNotOptimize(outcome);
    }
}
BENCHMARK(SweepOfTails)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kSecond)
    ->Iterations(1)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

// The same 64 settings as 64 whole runs on one thread: what a user pays without the sweep.
void SingleRunsOfTails(benchmark::State& state)
{
    const TestSettings base = Base();
    SilentUi ui;
    for (auto _ : state) {
        for (const TestSettings& s : SweepSettings(base, SixtyFourTails())) {
            TestResults results;
            if (!EchoTester().RunTest(s, results, ui)) {
                state.SkipWithError("a run failed");
                break;
            }
            benchmark::DoNotOptimize(results);
        }
    }
}
BENCHMARK(SingleRunsOfTails)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime()->MeasureProcessCPUTime();

void G168AllTestsAllModels(benchmark::State& state)
{
    std::vector<const g168::TestCase*> tests;
    for (const g168::TestCase& t : g168::Tests()) {
        tests.push_back(&t);
    }
    RunnerControl control;
    control.threads = static_cast<int>(state.range(0));
    for (auto _ : state) {
        const auto cells = g168::RunTable(tests, g168::CancellerSetup{}, {6.0}, control);
        benchmark::DoNotOptimize(cells);
    }
}
BENCHMARK(G168AllTestsAllModels)
    ->Arg(1)
    ->Unit(benchmark::kSecond)
    ->Iterations(1)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

}  // namespace

BENCHMARK_MAIN();
