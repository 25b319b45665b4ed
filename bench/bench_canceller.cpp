// ProcessFrame throughput at three tails on a converging synthetic echo (seeded noise
// through a short path), in samples per second of input.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "canceller/CancellerState.h"
#include "canceller/EchoCanceller.h"

using namespace tarnwell;

namespace {

constexpr int kSeconds = 4;
constexpr int kSamples = kSeconds * 8000;

struct Signals {
    std::vector<std::int16_t> reference;
    std::vector<std::int16_t> nearEnd;
};

Signals MakeSignals()
{
    std::mt19937 generator(7);
    std::normal_distribution<double> noise(0.0, 3000.0);
    Signals s;
    s.reference.resize(kSamples);
    s.nearEnd.resize(kSamples);
    for (auto& x : s.reference) {
        const double v = noise(generator);
        x = static_cast<std::int16_t>(v > 32767.0 ? 32767.0 : (v < -32768.0 ? -32768.0 : v));
    }
    // Echo 40 samples behind the reference, about 12 dB down.
    for (int n = 0; n < kSamples; ++n) {
        const int t = n - 40;
        s.nearEnd[static_cast<std::size_t>(n)] = t >= 0 ? static_cast<std::int16_t>(
                                                              s.reference[static_cast<std::size_t>(t)] / 4)
                                                        : 0;
    }
    return s;
}

void BM_ProcessFrame(benchmark::State& bench)
{
    static const Signals signals = MakeSignals();
    const EchoCanceller canceller;
    auto state = std::make_unique<CancellerState>();
    std::vector<std::int16_t> output(kFrameLength);
    int frame = 0;
    auto restart = [&] {
        CancellerConfig config{static_cast<std::int32_t>(bench.range(0)), 0, 1, 10, 3};
        canceller.InitCanceller(*state, config);
        frame = 0;
    };
    restart();
    for (auto _ : bench) {
        if (frame == kSamples / kFrameLength) {
            bench.PauseTiming();
            restart();
            bench.ResumeTiming();
        }
        const auto offset = static_cast<std::size_t>(frame * kFrameLength);
        FrameReport report{};
        canceller.ProcessFrame(*state, signals.nearEnd.data() + offset, signals.reference.data() + offset,
                               output.data(), kFrameLength, report);
        benchmark::DoNotOptimize(output.data());
        benchmark::DoNotOptimize(report);
        ++frame;
    }
    bench.SetItemsProcessed(bench.iterations() * kFrameLength);
}

BENCHMARK(BM_ProcessFrame)->Arg(64)->Arg(512)->Arg(1024);

}  // namespace

BENCHMARK_MAIN();
