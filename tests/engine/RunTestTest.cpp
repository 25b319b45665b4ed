// The whole run's contracts: the settings check, opening, the length and activity screens at
// their bounds, the delay window and ERL gate, memory and size limits and a failed write. Every
// run is checked for files left open.
#include <csignal>
#include <memory>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "EngineTestSupport.h"

using namespace tarnwell;
using namespace tarnwell::enginetest;

namespace {

namespace fs = std::filesystem;

// Speech-like Tx at about -15 dBm0: half a second of noise, half a second of silence.
Samples GoodTx() { return testcaptures::Bursts(48000, 2848.0, 4000, 0.0, 41); }
Samples EchoOf(const Samples& tx, double loss = 12.0) { return testcaptures::Echo(tx, 160, loss); }

// Silent but for noise in the first `active` 80-sample blocks and in block `extra` (if any).
Samples ActiveBlocks(int count, int active, int extra)
{
    Samples tx(static_cast<std::size_t>(count), 0);
    for (int b = 0; b < count / 80; ++b) {
        if (b < active || b == extra) {
            Place(tx, testcaptures::Noise(80, 2848.0, 5), b * 80);
        }
    }
    return tx;
}

bool Limit(int resource, rlim_t cap)
{
    const rlimit limit{cap, cap};
    return ::setrlimit(resource, &limit) == 0;
}

void WriteZeros(const std::string& path, std::uintmax_t bytes)
{
    std::ofstream(path).close();
    fs::resize_file(path, bytes);
}

using RunTestTest = RunFixture;

TEST_F(RunTestTest, SettingsOutOfRangeEndTheRunSilentlyAndTheirBoundsPass)
{
    // No captures: a run that got past the check fails on opening them.
    const TestSettings good = settings;
    const std::tuple<std::int32_t TestSettings::*, int, int> ranges[] = {{&TestSettings::tail, 0, 1024},
                                                                         {&TestSettings::delay, 0, 8000},
                                                                         {&TestSettings::nlpDiff, 0, 100},
                                                                         {&TestSettings::nlpShift, 0, 10}};
    for (auto [member, low, high] : ranges) {
        for (int value : {low - 1, low, high, high + 1}) {
            SCOPED_TRACE(value);
            settings = good;
            settings.*member = value;
            if (value >= low && value <= high) {
                ExpectFails(msg::kCheckFiles);
                continue;
            }
            std::ofstream(settings.outPath) << kPrevious;
            EXPECT_FALSE(Run());
            EXPECT_TRUE(ui.calls.empty());
            EXPECT_EQ(fs::file_size(settings.outPath), kPrevious.size());
        }
    }
}

TEST_F(RunTestTest, FilesThatCannotBeOpenedOrOutputsNamingACaptureFail)
{
    const Samples tx = GoodTx(), rx = EchoOf(tx);
    WriteCaptures(tx, rx);
    ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0600), 0);  // opening it must not wait for a writer
    fs::create_hard_link(settings.txPath, dir.File("hardlink.pcm"));
    fs::create_symlink(settings.rxPath, dir.File("symlink.pcm"));
    const std::string t = settings.txPath, r = settings.rxPath, o = settings.outPath;
    const std::string folder = dir.path().string(), missing = dir.File("missing");
    // An output that is a capture, whatever the spelling, is refused before it is truncated.
    using Paths = std::tuple<std::string, std::string, std::string>;  // Tx, Rx, output
    const Paths cases[] = {{t, missing, o},
                           {missing, r, o},
                           {t, folder, o},
                           {dir.File("fifo"), r, o},
                           {"/dev/null", r, o},
                           {t, r, folder},
                           {t, r, dir.File("none/out")},
                           {t, r, folder + "/./rx.pcm"},
                           {t, r, t},
                           {t, r, dir.File("hardlink.pcm")},
                           {t, r, dir.File("symlink.pcm")}};
    for (const Paths& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c));
        std::tie(settings.txPath, settings.rxPath, settings.outPath) = c;
        ExpectFails(msg::kCheckFiles, settings.outPath == o);
        EXPECT_EQ(testcaptures::ReadPcm(t), tx);
        EXPECT_EQ(testcaptures::ReadPcm(r), rx);
    }
}

TEST_F(RunTestTest, TheLengthAndActivityScreensHoldAtTheirBounds)
{
    // More than 40000 samples in the shorter file; silent captures past it stop at the activity screen.
    const std::tuple<std::uintmax_t, std::uintmax_t, const char*> lengths[] = {
        {0, 0, msg::kCheckSize},          {1, 1, msg::kCheckSize},
        {80001, 80001, msg::kCheckSize},  {200000, 80000, msg::kCheckSize},
        {80001, 200000, msg::kCheckSize}, {80002, 80002, msg::kLowActivity}};
    for (auto [txBytes, rxBytes, message] : lengths) {
        SCOPED_TRACE(::testing::Message() << txBytes << " " << rxBytes);
        WriteZeros(settings.txPath, txBytes);
        WriteZeros(settings.rxPath, rxBytes);
        ExpectFails(message);
    }
    // 11 percent of the whole blocks of the first N samples; Rx silent, so a Tx past the screen
    // fails the delay step. N = 48000: 599 blocks of 600 examined (the final one ends on the
    // last sample); N = 40001: all 500; N = 40080: 501 (55 are 10 percent). Tx 50000 and Rx
    // 45000 samples: N = 45000, and 68 of 562 blocks are 12 percent.
    const std::tuple<int, int, int, int, const char*> activity[] = {
        {48000, 48000, 66, -1, msg::kDelayFailed},  {48000, 48000, 65, -1, msg::kLowActivity},
        {48000, 48000, 65, 599, msg::kLowActivity}, {40001, 40001, 54, -1, msg::kLowActivity},
        {40001, 40001, 54, 499, msg::kDelayFailed}, {50000, 45000, 68, -1, msg::kDelayFailed},
        {50000, 50000, 68, -1, msg::kLowActivity},  {40080, 40080, 55, -1, msg::kLowActivity}};
    for (auto [txCount, rxCount, active, extra, message] : activity) {
        SCOPED_TRACE(::testing::Message() << txCount << " " << rxCount << " " << active << " " << extra);
        WriteCaptures(ActiveBlocks(txCount, active, extra), Samples(static_cast<std::size_t>(rxCount), 0));
        ExpectFails(message);
    }
    // A 25 Hz hum at -10 dBm0: every block is active as it is, none once high-passed.
    WriteCaptures(Tone(48000, 25.0, 7163.0), Samples(48000, 0));
    ExpectFails(msg::kDelayFailed);
    settings.highPass = 7;  // any non-zero value
    ExpectFails(msg::kLowActivity);
}

TEST_F(RunTestTest, TheDelayIsJudgedWithStrictBoundsAndAnErlOfSixDbOrLessStopsTheRun)
{
    // Window: settings.delay < delay < settings.delay + tail - 48, with the echo at 160. The
    // echo path is linear, so the high-pass filter leaves delay and ERL as they are.
    const std::tuple<double, int, int, int, int> cases[] = {{12, 159, 512, 0, 1}, {12, 160, 512, 0, 0},
                                                            {12, 0, 209, 0, 1},   {12, 0, 208, 0, 0},
                                                            {12, 0, 512, 1, 1},   {3, 0, 512, 0, 1}};
    for (auto [loss, delay, tail, highPass, delayOk] : cases) {  // delayOk: the verdict expected
        SCOPED_TRACE(::testing::Message() << loss << " " << delay << " " << tail << " " << highPass);
        WriteCaptures(GoodTx(), EchoOf(GoodTx(), loss));
        std::tie(settings.delay, settings.tail, settings.highPass) = std::tie(delay, tail, highPass);
        EXPECT_TRUE(Run());
        EXPECT_EQ(std::tie(results.delay, results.delayOk, results.erlOk),
                  std::make_tuple(160, delayOk, loss > 6 ? 1 : 0));
        EXPECT_NEAR(results.erl, loss, 0.1);
        if (loss < 6) {  // stopped at the gate, before any progress or output
            EXPECT_EQ(ui.calls, FailureShown(msg::kErlGate));
            EXPECT_EQ(fs::file_size(settings.outPath), 0u);
        }
    }
}

// In a child with a file size limit of 8000 bytes, so the first block's write fails: the run
// fails as it writes, says so last, and leaves nothing of what it wrote.
TEST_F(RunTestTest, AFailedWriteOfTheOutputFailsTheRun)
{
    WriteCaptures(GoodTx(), EchoOf(GoodTx()));
    EXPECT_EXIT(
        {
            std::signal(SIGXFSZ, SIG_IGN);  // a write past the limit then fails instead of killing
            const bool ok = Limit(RLIMIT_FSIZE, 8000) && Run();
            const bool failedLast = ui.calls.size() > 4 &&
                                    std::equal(ui.calls.end() - 2, ui.calls.end(),
                                               FailureShown(msg::kCannotWrite).begin());
            std::_Exit(!ok && failedLast && fs::file_size(settings.outPath) == 0 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

// In a child whose address space has room for one and a half of the run's two 48 MiB capture
// buffers: a capture beyond the limit is refused before anything is allocated, the longest
// accepted one and the two-buffer one fail for want of memory, and the buffer the last run did
// get is given back. The sanitizer's allocator ends the program instead of throwing.
TEST_F(RunTestTest, CapturesBeyondTheMemoryFailAndGiveBackWhatTheyTook)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's allocator does not throw std::bad_alloc";
#endif
    constexpr int kSamples = 24 << 20;
    constexpr std::uintmax_t kBytes = 2u * kSamples;
    const auto longest = static_cast<std::uintmax_t>(testthresholds::kMaxSamples);
    WriteZeros(settings.txPath, 2 * (longest + 1));
    WriteZeros(settings.rxPath, 2 * (longest + 1));
    EXPECT_EXIT(
        {
            long pages = 0;  // the address space in use now
            std::ifstream("/proc/self/statm") >> pages;
            if (!Limit(RLIMIT_AS, static_cast<rlim_t>(pages) * ::sysconf(_SC_PAGESIZE) + kBytes * 3 / 2)) {
                std::_Exit(2);
            }
            ExpectFails(msg::kTooLarge);
            WriteZeros(settings.rxPath, 2 * longest + 1);
            ExpectFails(msg::kNoMemory);
            WriteZeros(settings.txPath, kBytes);
            WriteZeros(settings.rxPath, kBytes);
            ExpectFails(msg::kNoMemory);
            std::vector<std::unique_ptr<std::int16_t[]>> held;  // fits only if the run gave its buffers back
            EXPECT_NO_THROW(held.push_back(std::make_unique<std::int16_t[]>(kSamples)));
            std::_Exit(HasFailure() ? 1 : 0);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
