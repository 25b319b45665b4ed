// Tarnwell's whole run next to SpeexDSP's echo canceller loop alone, on the same minute of
// capture at the same tail and 80-sample frames. Tarnwell's figure includes reading, input
// filters, screening, delay and ERL search, the pass and writing the output; SpeexDSP's only
// the frame loop (state creation and destruction are left out). Both are timed in CPU time
// of this thread, best of several alternating repetitions, so the load of other programs
// on the machine counts as little as possible. Prints samples per second and their ratio.
#include <speex/speex_echo.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "engine/EchoTester.h"
#include "support/SyntheticCaptures.h"
#include "support/SilentUi.h"

using namespace tarnwell;

namespace {

constexpr int kMinute = 60 * 8000;
constexpr int kRepetitions = 5;

double ThreadSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// One pass of SpeexDSP's canceller over the captures; returns the seconds of the frame loop.
double SpeexLoop(const testcaptures::Samples& tx, const testcaptures::Samples& rx, int tail)
{
    SpeexEchoState* echo = speex_echo_state_init(kFrameLength, tail);
    std::vector<spx_int16_t> out(kFrameLength);
    const int frames = kMinute / kFrameLength;
    const double start = ThreadSeconds();
    for (int f = 0; f < frames; ++f) {
        const std::size_t offset = static_cast<std::size_t>(f) * kFrameLength;
        speex_echo_cancellation(echo, rx.data() + offset, tx.data() + offset, out.data());
        benchmark::DoNotOptimize(out.data());
    }
    const double seconds = ThreadSeconds() - start;
    speex_echo_state_destroy(echo);
    return seconds;
}

// One whole Tarnwell run; returns its seconds, or a negative value when the run failed.
double TarnwellRun(const TestSettings& settings)
{
    SilentUi ui;
    TestResults results;
    const double start = ThreadSeconds();
    const bool reported = EchoTester().RunTest(settings, results, ui);
    const double seconds = ThreadSeconds() - start;
    benchmark::DoNotOptimize(results);
    return reported && results.erlOk == 1 ? seconds : -1.0;
}

}  // namespace

int main()
{
    const testcaptures::TempDir dir;
    const auto tx = testcaptures::Bursts(kMinute, 2848.0, 2400, 30.0, 3);
    const auto rx = testcaptures::Echo(tx, 160, 12.0, 3.0);
    testcaptures::WritePcm(dir.File("tx.pcm"), tx);
    testcaptures::WritePcm(dir.File("rx.pcm"), rx);

    std::printf("one minute of capture (%d samples), 80-sample frames, best of %d, thread CPU time\n",
                kMinute, kRepetitions);
    std::printf("%6s %22s %22s %8s\n", "tail", "Tarnwell run (smp/s)", "SpeexDSP loop (smp/s)",
                "ratio");
    for (const int tail : {64, 1024}) {
        TestSettings settings;
        settings.txPath = dir.File("tx.pcm");
        settings.rxPath = dir.File("rx.pcm");
        settings.outPath = dir.File("out.pcm");
        settings.delay = 100;
        settings.tail = tail;
        settings.nlpEnable = 1;
        settings.nlpDiff = 6;
        settings.nlpShift = 3;
        settings.highPass = 1;

        double tarnwell = 1e300;
        double speex = 1e300;
        for (int r = 0; r < kRepetitions; ++r) {
            const double run = TarnwellRun(settings);
            if (run < 0.0) {
                std::fprintf(stderr, "the Tarnwell run failed at tail %d\n", tail);
                return 1;
            }
            tarnwell = std::min(tarnwell, run);
            speex = std::min(speex, SpeexLoop(tx, rx, tail));
        }
        const double tarnwellRate = kMinute / tarnwell;
        const double speexRate = kMinute / speex;
        std::printf("%6d %22.3e %22.3e %8.2f\n", tail, tarnwellRate, speexRate,
                    tarnwellRate / speexRate);
    }
    return 0;
}
