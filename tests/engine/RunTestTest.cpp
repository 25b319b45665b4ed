// The test run up to the ERL gate: the settings check, opening (missing, unreadable,
// directory, FIFO, the output naming a capture), the length and activity screens at their
// bounds, the delay and ERL steps, memory and size limits. Every run is checked for files
// left open and sample buffers left allocated, whichever way it ended.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "AllocationProbe.h"
#include "EngineTestSupport.h"
#include "engine/EchoTester.h"
#include "engine/FileHandle.h"
#include "engine/TestMessages.h"
#include "engine/TestThresholds.h"

namespace {

namespace fs = std::filesystem;
using enginetest::Samples;

constexpr int kCount = 48000;
constexpr int kEchoDelay = 160;

// Speech-like Tx at about -15 dBm0 (half a second on, half off) and its echo 12 dB down.
Samples GoodTx() { return testcaptures::Bursts(kCount, 2848.0, 4000, 0.0, 41); }

void WriteBytes(const std::string& path, std::size_t size)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    for (std::size_t i = 0; i < size; ++i) {
        file.put(static_cast<char>(i * 7 + 3));
    }
}

std::uintmax_t SizeOf(const std::string& path) { return fs::file_size(path); }

// Tx of count samples, silent but for noise in the given 80-sample blocks.
Samples ActiveBlocks(int count, const std::vector<int>& blocks)
{
    Samples tx(static_cast<std::size_t>(count), 0);
    const Samples noise = testcaptures::Noise(80, 2848.0, 5);
    for (int b : blocks) {
        enginetest::Place(tx, noise, b * 80);
    }
    return tx;
}

std::vector<int> Range(int from, int to)
{
    std::vector<int> out;
    for (int i = from; i < to; ++i) {
        out.push_back(i);
    }
    return out;
}

class RunTestTest : public ::testing::Test {
protected:
    RunTestTest()
    {
        settings.txPath = dir.File("tx.pcm");
        settings.rxPath = dir.File("rx.pcm");
        settings.outPath = dir.File("out.pcm");
        settings.delay = 0;
        settings.tail = 512;
        settings.nlpEnable = 1;
        settings.nlpDiff = 10;
        settings.nlpShift = 3;
        settings.highPass = 0;
        // A previous run's output: every run that gets past the settings check empties it.
        std::ofstream(settings.outPath) << "previous output";
    }

    void WriteCaptures(const Samples& tx, const Samples& rx)
    {
        testcaptures::WritePcm(settings.txPath, tx);
        testcaptures::WritePcm(settings.rxPath, rx);
    }

    // One run on a fresh engine and UI, checked for anything left behind.
    bool Run()
    {
        ui = enginetest::RecordingUi();
        results = TestResults{};
        const int descriptors = enginetest::OpenDescriptorCount();
        const int blocks = allocationprobe::LiveLargeBlocks();
        const bool result = EchoTester().RunTest(settings, results, ui);
        EXPECT_EQ(enginetest::OpenDescriptorCount(), descriptors) << "a file was left open";
        EXPECT_EQ(allocationprobe::LiveLargeBlocks(), blocks) << "a sample buffer was left allocated";
        return result;
    }

    // "Test failed", then the one message, and nothing else shown.
    void ExpectFailureShown(const char* message) const
    {
        EXPECT_EQ(ui.calls, (std::vector<std::string>{std::string("status: ") + TestMessages::kTestFailed,
                                                      std::string("message: ") + message}));
    }

    void ExpectResultsUntouched() const
    {
        EXPECT_EQ(results.delay, 0);
        EXPECT_EQ(results.erl, 0.0);
        EXPECT_EQ(results.delayOk, 0);
        EXPECT_EQ(results.erlOk, 0);
    }

    void ExpectFails(const char* message)
    {
        EXPECT_FALSE(Run());
        ExpectFailureShown(message);
        ExpectResultsUntouched();
        EXPECT_EQ(SizeOf(settings.outPath), 0u) << "the output file is emptied";
    }

    testcaptures::TempDir dir;
    TestSettings settings;
    TestResults results;
    enginetest::RecordingUi ui;
};

// --- settings -------------------------------------------------------------------------

TEST_F(RunTestTest, OutOfRangeSettingsEndTheRunSilentlyAndTouchNothing)
{
    WriteCaptures(GoodTx(), testcaptures::Echo(GoodTx(), kEchoDelay, 12.0));
    const TestSettings good = settings;
    const std::vector<void (*)(TestSettings&)> breakers = {
        [](TestSettings& s) { s.tail = 1025; },    [](TestSettings& s) { s.tail = -1; },
        [](TestSettings& s) { s.delay = -1; },     [](TestSettings& s) { s.delay = 8001; },
        [](TestSettings& s) { s.nlpDiff = 101; },  [](TestSettings& s) { s.nlpDiff = -1; },
        [](TestSettings& s) { s.nlpShift = 11; },  [](TestSettings& s) { s.nlpShift = -1; },
    };
    for (std::size_t i = 0; i < breakers.size(); ++i) {
        settings = good;
        breakers[i](settings);
        EXPECT_FALSE(Run()) << i;
        EXPECT_TRUE(ui.calls.empty()) << i;
        ExpectResultsUntouched();
        EXPECT_EQ(SizeOf(settings.outPath), std::string("previous output").size()) << i;
    }
}

TEST_F(RunTestTest, SettingsAtTheirBoundsPassTheCheck)
{
    // No captures: a run that got past the check fails on opening them.
    for (int bound : {0, 1}) {
        settings.tail = bound ? 1024 : 0;
        settings.delay = bound ? 8000 : 0;
        settings.nlpDiff = bound ? 100 : 0;
        settings.nlpShift = bound ? 10 : 0;
        ExpectFails(TestMessages::kCheckFiles);
    }
}

// --- opening --------------------------------------------------------------------------

TEST_F(RunTestTest, AMissingCaptureFailsAndStillEmptiesTheOutput)
{
    WriteCaptures(GoodTx(), GoodTx());
    const std::string tx = settings.txPath;
    settings.rxPath = dir.File("missing.pcm");
    ExpectFails(TestMessages::kCheckFiles);

    std::ofstream(settings.outPath) << "previous output";
    settings.rxPath = tx;
    settings.txPath = dir.File("missing.pcm");
    ExpectFails(TestMessages::kCheckFiles);
}

TEST_F(RunTestTest, ADirectoryOrAFifoIsNotACapture)
{
    WriteCaptures(GoodTx(), GoodTx());
    settings.rxPath = dir.path().string();
    ExpectFails(TestMessages::kCheckFiles);

    // Opening a FIFO for reading would wait for a writer; it must fail at once instead.
    const std::string fifo = dir.File("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    settings.rxPath = dir.File("rx.pcm");
    settings.txPath = fifo;
    ExpectFails(TestMessages::kCheckFiles);
}

TEST_F(RunTestTest, AnOutputThatCannotBeOpenedFails)
{
    WriteCaptures(GoodTx(), GoodTx());
    settings.outPath = dir.File("no-such-folder/out.pcm");
    EXPECT_FALSE(Run());
    ExpectFailureShown(TestMessages::kCheckFiles);
    settings.outPath = dir.path().string();
    EXPECT_FALSE(Run());
    ExpectFailureShown(TestMessages::kCheckFiles);
}

TEST_F(RunTestTest, AnUnreadableCaptureFails)
{
    WriteCaptures(GoodTx(), GoodTx());
    fs::permissions(settings.txPath, fs::perms::none);
    if (::geteuid() != 0) {
        ExpectFails(TestMessages::kCheckFiles);
        return;
    }
    // Root reads anything: run in a child that has become an ordinary user.
    fs::permissions(dir.path(), fs::perms::all);
    fs::permissions(settings.outPath, fs::perms::all);
    EXPECT_EXIT(
        {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0) {
                std::_Exit(2);
            }
            const bool result = EchoTester().RunTest(settings, results, ui);
            const bool shown = ui.messages == std::vector<std::string>{TestMessages::kCheckFiles};
            std::_Exit(!result && shown && fs::file_size(settings.outPath) == 0 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(RunTestTest, AnOutputNamingACaptureIsRefusedAndTheCaptureKept)
{
    const Samples tx = GoodTx();
    const Samples rx = testcaptures::Echo(tx, kEchoDelay, 12.0);
    WriteCaptures(tx, rx);
    fs::create_hard_link(settings.txPath, dir.File("hardlink.pcm"));
    fs::create_symlink(settings.rxPath, dir.File("symlink.pcm"));
    for (const std::string& out : {dir.path().string() + "/./rx.pcm", dir.File("hardlink.pcm"),
                                   dir.File("symlink.pcm"), settings.txPath}) {
        settings.outPath = out;
        EXPECT_FALSE(Run()) << out;
        ExpectFailureShown(TestMessages::kCheckFiles);
        EXPECT_EQ(testcaptures::ReadPcm(settings.txPath), tx) << out;
        EXPECT_EQ(testcaptures::ReadPcm(settings.rxPath), rx) << out;
    }
}

// --- length ---------------------------------------------------------------------------

TEST_F(RunTestTest, CapturesOfFiveSecondsOrLessAreRefused)
{
    for (std::size_t bytes : {0u, 1u, 80000u, 80001u}) {
        WriteBytes(settings.txPath, bytes);
        WriteBytes(settings.rxPath, bytes);
        ExpectFails(TestMessages::kCheckSize);
    }
    // The shorter capture decides.
    WriteBytes(settings.txPath, 200000);
    WriteBytes(settings.rxPath, 80000);
    ExpectFails(TestMessages::kCheckSize);
}

TEST_F(RunTestTest, MoreThan40000SamplesPassTheLengthCheck)
{
    // Silent Tx: a run that got past the length check stops at the activity screen.
    for (std::size_t bytes : {80002u, 80003u}) {
        testcaptures::WritePcm(settings.txPath, Samples(bytes / 2, 0));
        if (bytes % 2 == 1) {
            std::ofstream(settings.txPath, std::ios::app | std::ios::binary).put('\x7f');
        }
        WriteBytes(settings.rxPath, bytes);
        ExpectFails(TestMessages::kLowActivity);
    }
}

TEST_F(RunTestTest, OnlyTheFirstNSamplesOfTheLongerCaptureAreUsed)
{
    // Tx 100000 bytes, Rx 90000: N = 45000 and the denominator is 562 blocks, so 68 active
    // blocks are 12 percent. Counted over the Tx's 625 blocks they would be 10.
    testcaptures::WritePcm(settings.txPath, ActiveBlocks(50000, Range(0, 68)));
    testcaptures::WritePcm(settings.rxPath, Samples(45000, 0));
    ExpectFails(TestMessages::kDelayFailed);  // past the screen; a silent Rx has no echo

    testcaptures::WritePcm(settings.rxPath, Samples(50000, 0));
    ExpectFails(TestMessages::kLowActivity);
}

TEST_F(RunTestTest, TooLargeCapturesAreRefusedBeforeAnyAllocation)
{
    // Sparse files: cheap to make, never read.
    const auto samples = static_cast<std::uintmax_t>(TestThresholds::kMaxSamples);
    for (const std::string& path : {settings.txPath, settings.rxPath}) {
        std::ofstream(path).close();
        fs::resize_file(path, 2 * (samples + 1));
    }
    {
        allocationprobe::ScopedFailure counting(1000000);
        ExpectFails(TestMessages::kTooLarge);
        EXPECT_EQ(allocationprobe::LargeAllocationsAttempted(), 0);
    }
    // The longest accepted capture gets as far as allocating its first buffer.
    fs::resize_file(settings.rxPath, 2 * samples + 1);
    allocationprobe::ScopedFailure noMemory(1);
    ExpectFails(TestMessages::kNoMemory);
    EXPECT_EQ(allocationprobe::LargeAllocationsAttempted(), 1);
}

// --- voice activity -------------------------------------------------------------------

TEST_F(RunTestTest, ActivityMustReachElevenPercentOfAllWholeBlocks)
{
    // N = 48000: blocks at offsets below 47920 are examined (599), the denominator is 600.
    testcaptures::WritePcm(settings.rxPath, Samples(kCount, 0));
    testcaptures::WritePcm(settings.txPath, ActiveBlocks(kCount, Range(0, 66)));
    ExpectFails(TestMessages::kDelayFailed);  // 11 percent: past the screen
    testcaptures::WritePcm(settings.txPath, ActiveBlocks(kCount, Range(0, 65)));
    ExpectFails(TestMessages::kLowActivity);  // 10 percent
    std::vector<int> withLast = Range(0, 65);
    withLast.push_back(599);  // the final block ends on the last sample: not examined
    testcaptures::WritePcm(settings.txPath, ActiveBlocks(kCount, withLast));
    ExpectFails(TestMessages::kLowActivity);
}

TEST_F(RunTestTest, WithAnOddSampleAfterTheLastBlockEveryWholeBlockIsExamined)
{
    // N = 40001: all 500 whole blocks are examined and the denominator is 500.
    testcaptures::WritePcm(settings.rxPath, Samples(40001, 0));
    testcaptures::WritePcm(settings.txPath, ActiveBlocks(40001, Range(0, 54)));
    ExpectFails(TestMessages::kLowActivity);  // 10 percent
    std::vector<int> withLast = Range(0, 54);
    withLast.push_back(499);
    testcaptures::WritePcm(settings.txPath, ActiveBlocks(40001, withLast));
    ExpectFails(TestMessages::kDelayFailed);  // 11 percent
}

TEST_F(RunTestTest, TheHighPassFilterRunsBeforeTheScreen)
{
    // A 25 Hz hum at -10 dBm0: every block is active as it is, none once high-passed.
    testcaptures::WritePcm(settings.txPath, enginetest::Tone(kCount, 25.0, 7163.0));
    testcaptures::WritePcm(settings.rxPath, Samples(kCount, 0));
    ExpectFails(TestMessages::kDelayFailed);
    settings.highPass = 7;  // any non-zero value
    ExpectFails(TestMessages::kLowActivity);
}

// --- delay and ERL --------------------------------------------------------------------

TEST_F(RunTestTest, NoEchoFailsTheDelayStep)
{
    WriteCaptures(GoodTx(), Samples(kCount, 0));
    ExpectFails(TestMessages::kDelayFailed);
    // An echo at lag 0 reads the same as none.
    WriteCaptures(GoodTx(), GoodTx());
    ExpectFails(TestMessages::kDelayFailed);
}

TEST_F(RunTestTest, AnErlOfSixDbOrLessStopsTheRunButReportsTheDelayAndErl)
{
    WriteCaptures(GoodTx(), testcaptures::Echo(GoodTx(), kEchoDelay, 3.0));
    EXPECT_TRUE(Run());
    ExpectFailureShown(TestMessages::kErlGate);  // and no progress: the pass never started
    EXPECT_EQ(results.delay, kEchoDelay);
    EXPECT_EQ(results.delayOk, 1);
    EXPECT_NEAR(results.erl, 3.0, 0.1);
    EXPECT_EQ(results.erlOk, 0);
    EXPECT_EQ(SizeOf(settings.outPath), 0u);
}

TEST_F(RunTestTest, AGoodCaptureReportsItsDelayAndErl)
{
    WriteCaptures(GoodTx(), testcaptures::Echo(GoodTx(), kEchoDelay, 12.0));
    EXPECT_TRUE(Run());
    EXPECT_TRUE(ui.statuses.empty());
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(results.delay, kEchoDelay);
    EXPECT_EQ(results.delayOk, 1);
    EXPECT_NEAR(results.erl, 12.0, 0.1);
    EXPECT_EQ(results.erlOk, 1);

    // The same with the high-pass filter: the echo path is linear, so it survives.
    settings.highPass = 1;
    EXPECT_TRUE(Run());
    EXPECT_EQ(results.delay, kEchoDelay);
    EXPECT_EQ(results.erlOk, 1);
}

TEST_F(RunTestTest, TheDelayVerdictUsesStrictBoundsOnTheCancellerWindow)
{
    // Window: settings.delay < delay < settings.delay + tail - 48, with the echo at 160.
    WriteCaptures(GoodTx(), testcaptures::Echo(GoodTx(), kEchoDelay, 12.0));
    const struct { int delay, tail, ok; } cases[] = {
        {159, 512, 1}, {160, 512, 0}, {0, 209, 1}, {0, 208, 0}};
    for (const auto& c : cases) {
        settings.delay = c.delay;
        settings.tail = c.tail;
        EXPECT_TRUE(Run());
        EXPECT_EQ(results.delay, kEchoDelay);
        EXPECT_EQ(results.delayOk, c.ok) << c.delay << " " << c.tail;
    }
}

// --- memory ---------------------------------------------------------------------------

TEST_F(RunTestTest, EveryFailedAllocationFailsTheRunAndReleasesEverything)
{
    WriteCaptures(GoodTx(), testcaptures::Echo(GoodTx(), kEchoDelay, 12.0));
    allocationprobe::FailLargeAllocationsFrom(0);  // count only
    ASSERT_TRUE(Run());
    const int allocations = allocationprobe::LargeAllocationsAttempted();
    // Raw Rx, raw Tx, both working buffers and the delay search's scratch buffer at least.
    ASSERT_GE(allocations, 5);
    for (int which = 1; which <= allocations; ++which) {
        std::ofstream(settings.outPath) << "previous output";
        allocationprobe::ScopedFailure failure(which);
        EXPECT_FALSE(Run()) << which;
        ExpectFailureShown(TestMessages::kNoMemory);
        EXPECT_EQ(SizeOf(settings.outPath), 0u) << which;
        if (which <= 5) {
            ExpectResultsUntouched();
        }
    }
}

TEST(FindLoudestSegmentMemory, AScratchBufferThatCannotBeHadPropagatesAndLeaksNothing)
{
    const Samples tx = testcaptures::Noise(kCount, 2848.0, 9);
    DelayTemplate segment{};
    const int before = allocationprobe::LiveLargeBlocks();
    allocationprobe::ScopedFailure failure(1);
    EXPECT_THROW(EchoTester().FindLoudestSegment(tx.data(), kCount, segment), std::bad_alloc);
    EXPECT_EQ(allocationprobe::LiveLargeBlocks(), before);
}

// --- file handle ----------------------------------------------------------------------

TEST(FileHandle, ReadExactlyFailsOnAShortRead)
{
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    FileHandle reader(ends[0]);
    {
        FileHandle writer(ends[1]);
        ASSERT_TRUE(writer.WriteAll("0123456789", 10));
    }
    char buffer[20];
    EXPECT_TRUE(reader.ReadExactly(buffer, 4));
    EXPECT_FALSE(reader.ReadExactly(buffer, 7));  // 6 left, then the end
}

TEST(FileHandle, OpensOnlyRegularFilesAndClosesOnEveryWayOut)
{
    testcaptures::TempDir dir;
    const int before = enginetest::OpenDescriptorCount();
    ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0600), 0);
    EXPECT_FALSE(FileHandle::OpenRegular(dir.File("fifo"), O_RDONLY).IsOpen());
    EXPECT_FALSE(FileHandle::OpenRegular(dir.path().string(), O_RDONLY).IsOpen());
    EXPECT_FALSE(FileHandle::OpenRegular("/dev/null", O_RDONLY).IsOpen());
    EXPECT_FALSE(FileHandle::OpenRegular(dir.File("missing"), O_RDONLY).IsOpen());
    {
        FileHandle made = FileHandle::OpenRegular(dir.File("new"), O_RDWR | O_CREAT, 0600);
        ASSERT_TRUE(made.IsOpen());
        EXPECT_NE(::fcntl(made.Descriptor(), F_GETFD) & FD_CLOEXEC, 0);
        EXPECT_EQ(::fcntl(made.Descriptor(), F_GETFL) & O_NONBLOCK, 0);
        FileHandle moved = std::move(made);
        EXPECT_FALSE(made.IsOpen());
        EXPECT_EQ(enginetest::OpenDescriptorCount(), before + 1);
    }
    EXPECT_EQ(enginetest::OpenDescriptorCount(), before);
}

}  // namespace
