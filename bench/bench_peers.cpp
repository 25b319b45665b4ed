// Tarnwell's whole run next to SpeexDSP's echo canceller loop alone, on the same minute of
// capture at the same tail and 80-sample frames. Tarnwell's figure includes reading, input
// filters, screening, delay and ERL search, the pass and writing the output; SpeexDSP's only
// the frame loop (state creation and destruction are left out). Best of several alternating
// repetitions, so the load of other programs on the machine counts as little as possible.
//
// Two tables:
//   in-process  EchoTester::RunTest in this thread, CPU time of the thread
//   process     the built tarnwell-cli as a child, fork to exit: its user + system CPU time
//               from wait4, so start-up, loading the libraries and exit count too
// The cost ratio is Tarnwell's CPU time over SpeexDSP's loop (below 1: Tarnwell is cheaper).
//
//   bench_peers [--cli PATH] [--repetitions N]
// --cli measures another build of tarnwell-cli (an older one, to compare).
#include <speex/speex_echo.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
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
constexpr int kDefaultRepetitions = 5;

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

double Seconds(const timeval& t)
{
    return static_cast<double>(t.tv_sec) + 1e-6 * static_cast<double>(t.tv_usec);
}

// One whole tarnwell-cli process on the same captures and settings as TarnwellRun; returns
// its user + system seconds, or a negative value when it could not run or did not exit
// with 0. Its report goes to /dev/null.
double CliProcess(const std::string& cli, const testcaptures::TempDir& dir, int tail)
{
    const std::string tx = dir.File("tx.pcm");
    const std::string rx = dir.File("rx.pcm");
    const std::string out = dir.File("out-cli.pcm");
    const std::string tailText = std::to_string(tail);
    const char* argv[] = {cli.c_str(),   "--tx",      tx.c_str(),       "--rx",       rx.c_str(),
                          "--out",       out.c_str(), "--format",       "pcm",        "--delay",
                          "100",         "--tail",    tailText.c_str(), "--nlp-diff", "6",
                          "--nlp-shift", "3",         "--high-pass",    "on",         nullptr};
    const pid_t child = fork();
    if (child < 0) {
        std::perror("fork");
        return -1.0;
    }
    if (child == 0) {
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0) {
            dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
        }
        execv(cli.c_str(), const_cast<char* const*>(argv));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child) {
        std::perror("wait4");
        return -1.0;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s exited with %d at tail %d\n", cli.c_str(),
                     WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), tail);
        return -1.0;
    }
    return Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
}

struct Best {
    double tarnwell = 1e300;
    double speex = 1e300;
};

void PrintRow(int tail, const Best& best)
{
    std::printf("%6d %14.2f %14.2f %12.3f\n", tail, 1e3 * best.tarnwell, 1e3 * best.speex,
                best.tarnwell / best.speex);
}

}  // namespace

int main(int argc, char** argv)
{
    std::string cli = TARNWELL_CLI_PATH;
    int repetitions = kDefaultRepetitions;
    for (int a = 1; a < argc; ++a) {
        const std::string arg = argv[a];
        if (arg == "--cli" && a + 1 < argc) {
            cli = argv[++a];
        } else if (arg == "--repetitions" && a + 1 < argc && std::atoi(argv[a + 1]) > 0) {
            repetitions = std::atoi(argv[++a]);
        } else {
            std::fprintf(stderr, "usage: %s [--cli PATH] [--repetitions N]\n", argv[0]);
            return 2;
        }
    }

    const testcaptures::TempDir dir;
    const auto tx = testcaptures::Bursts(kMinute, 2848.0, 2400, 30.0, 3);
    const auto rx = testcaptures::Echo(tx, 160, 12.0, 3.0);
    testcaptures::WritePcm(dir.File("tx.pcm"), tx);
    testcaptures::WritePcm(dir.File("rx.pcm"), rx);

    std::printf("one minute of capture (%d samples), 80-sample frames, best of %d\n", kMinute, repetitions);
    std::printf("in-process: EchoTester::RunTest, thread CPU time\n");
    std::printf("%6s %14s %14s %12s\n", "tail", "Tarnwell (ms)", "SpeexDSP (ms)", "cost ratio");
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

        Best best;
        for (int r = 0; r < repetitions; ++r) {
            const double run = TarnwellRun(settings);
            if (run < 0.0) {
                std::fprintf(stderr, "the Tarnwell run failed at tail %d\n", tail);
                return 1;
            }
            best.tarnwell = std::min(best.tarnwell, run);
            best.speex = std::min(best.speex, SpeexLoop(tx, rx, tail));
        }
        PrintRow(tail, best);
    }

    std::printf("process: %s, fork to exit, user + system CPU time (wait4)\n", cli.c_str());
    std::printf("%6s %14s %14s %12s\n", "tail", "Tarnwell (ms)", "SpeexDSP (ms)", "cost ratio");
    for (const int tail : {64, 1024}) {
        Best best;
        for (int r = 0; r < repetitions; ++r) {
            const double run = CliProcess(cli, dir, tail);
            if (run < 0.0) {
                return 1;
            }
            best.tarnwell = std::min(best.tarnwell, run);
            best.speex = std::min(best.speex, SpeexLoop(tx, rx, tail));
        }
        PrintRow(tail, best);
    }
    return 0;
}
