// A site in batch: 200 ports of 20 s captures at tail 128, run on one thread and on two.
// Reports ports per second; on an otherwise idle two-core machine the two-thread figure
// should be at least 1.8 times the one-thread figure, since the runs share nothing.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "cli/Batch.h"
#include "support/SyntheticCaptures.h"

using namespace tarnwell;

namespace {

constexpr int kPorts = 200;
constexpr int kCaptureSamples = 20 * 8000;
constexpr int kDistinctPairs = 8;  // ports cycle through these; every run is whole regardless

const testcaptures::TempDir& Site()
{
    static const testcaptures::TempDir dir;
    static const bool written = [] {
        for (int p = 0; p < kDistinctPairs; ++p) {
            const auto seed = static_cast<std::uint32_t>(10 + p);
            const auto tx = testcaptures::Bursts(kCaptureSamples, 2848.0, 2400, 30.0, seed);
            testcaptures::WritePcm(dir.File("pair" + std::to_string(p) + "_tx.pcm"), tx);
            testcaptures::WritePcm(dir.File("pair" + std::to_string(p) + "_rx.pcm"),
                                   testcaptures::Echo(tx, 150 + 10 * p, 12.0, 3.0));
        }
        return true;
    }();
    (void)written;
    return dir;
}

std::vector<BatchPort> Ports(const testcaptures::TempDir& dir)
{
    std::vector<BatchPort> ports;
    for (int i = 0; i < kPorts; ++i) {
        BatchPort port;
        port.name = "port" + std::to_string(i);
        static_cast<RunRequest&>(port.options) = DefaultRunRequest();
        TestSettings& s = port.options.settings;
        const std::string pair = "pair" + std::to_string(i % kDistinctPairs);
        s.txPath = dir.File(pair + "_tx.pcm");
        s.rxPath = dir.File(pair + "_rx.pcm");
        s.outPath = dir.File(port.name + ".pcm");
        s.tail = 128;
        ports.push_back(std::move(port));
    }
    return ports;
}

void Batch(benchmark::State& state)
{
    const std::vector<BatchPort> ports = Ports(Site());
    const int jobs = static_cast<int>(state.range(0));
    for (auto _ : state) {
        const std::vector<BatchRow> rows = RunBatch(ports, jobs);
        if (rows.front().verdict == PortVerdict::kFailed) {
            state.SkipWithError("the first port failed");
            break;
        }
        benchmark::DoNotOptimize(rows.data());
    }
    state.counters["ports_per_s"] = benchmark::Counter(static_cast<double>(state.iterations()) * kPorts,
                                                       benchmark::Counter::kIsRate);
}

// CPU time over all threads: against the real time it shows how busy the machine was elsewhere.
BENCHMARK(Batch)
    ->ArgName("jobs")
    ->Arg(1)
    ->Arg(2)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
