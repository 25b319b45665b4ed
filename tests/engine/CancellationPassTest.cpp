// The cancellation pass end to end on 600 frames and 37 samples: a known delay and ERL found
// and cancelled, the output file against the canceller run frame by frame on the same samples
// (zeros past the end of the captures), the progress calls, and a failed write of the output.
#include <gtest/gtest.h>

#include <array>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/resource.h>

#include "EngineTestSupport.h"
#include "engine/EchoTester.h"

using namespace tarnwell;

namespace {

using testcaptures::Samples;

constexpr int kEchoDelay = 160;

class CancellationPassTest : public ::testing::Test {
protected:
    // Speech-like Tx at about -15 dBm0 (50 ms bursts over quiet line noise) and its echo
    // 12 dB down behind 160 samples, with a little line noise.
    void WriteCaptures(int count)
    {
        tx = testcaptures::Bursts(count, 2848.0, 400, 30.0, 17);
        rx = testcaptures::Echo(tx, kEchoDelay, 12.0, 3.0);
        testcaptures::WritePcm(settings.txPath, tx);
        testcaptures::WritePcm(settings.rxPath, rx);
    }

    bool Run() { return enginetest::RunLeavingNothingBehind(settings, results, ui); }

    // What the canceller gives when fed the captures frame by frame, zeros past their end.
    Samples CancelDirectly() const
    {
        const EchoCanceller canceller;
        CancellerConfig config{settings.tail, settings.delay, settings.nlpEnable,
                               settings.nlpDiff, settings.nlpShift};
        CancellerState state;
        canceller.InitCanceller(state, config);
        Samples out;
        const int count = static_cast<int>(tx.size());
        for (int p = 0; p < count; p += kFrameLength) {
            std::array<std::int16_t, kFrameLength> nearFrame{};
            std::array<std::int16_t, kFrameLength> referenceFrame{};
            for (int k = 0; k < kFrameLength && p + k < count; ++k) {
                nearFrame[k] = rx[static_cast<std::size_t>(p + k)];
                referenceFrame[k] = tx[static_cast<std::size_t>(p + k)];
            }
            std::array<std::int16_t, kFrameLength> output{};
            FrameReport report{};
            canceller.ProcessFrame(state, nearFrame.data(), referenceFrame.data(), output.data(),
                                   kFrameLength, report);
            out.insert(out.end(), output.begin(), output.end());
        }
        return out;
    }

    // True when the run failed with "Test failed" and the write message alone.
    bool RunWithFileSizeLimit(rlim_t bytes)
    {
        std::signal(SIGXFSZ, SIG_IGN);  // a write past the limit then fails instead of killing
        const rlimit limit{bytes, bytes};
        setrlimit(RLIMIT_FSIZE, &limit);
        const bool result = Run();
        // The run fails as it writes, says so last, and leaves nothing of what it wrote.
        const std::size_t n = ui.calls.size();
        return !result && n > 4 && ui.calls[n - 1] == "message: Cannot write the output file" &&
               ui.calls[n - 2] == "status: Test failed" && std::filesystem::file_size(settings.outPath) == 0;
    }

    testcaptures::TempDir dir;
    // 0 < 160 < 0 + 256 - 48: the echo lies in the window. Which samples the partial frame
    // takes as its reference is pinned by the golden run of odd length (its Tx level, its bytes).
    TestSettings settings{.txPath = dir.File("tx.pcm"), .rxPath = dir.File("rx.pcm"), .outPath = dir.File("out.pcm"),
                          .tail = 256, .nlpEnable = 1, .nlpDiff = 6, .nlpShift = 3};
    TestResults results;
    enginetest::RecordingUi ui;
    Samples tx;
    Samples rx;
};

TEST_F(CancellationPassTest, AKnownEchoIsFoundCancelledWrittenAndReported)
{
    WriteCaptures(48037);
    ASSERT_TRUE(Run());

    EXPECT_EQ(results.delay, kEchoDelay);
    EXPECT_NEAR(results.erl, 12.0, 0.2);
    EXPECT_EQ(results.delayOk + results.erlOk, 2);

    // The line noise 3 units rms under an echo of about 710 rms bounds the cancellation near
    // 10*log10((710^2 + 3^2) / 3^2) = 47 dB; the NLP then takes the residual far below -50.
    EXPECT_GT(results.cancellation, 20.0);
    EXPECT_LT(results.residualLevel, -50.0);
    EXPECT_EQ(results.residualOk, 1);
    // The Tx bursts were made at -15 dBm0; the quiet gaps (-58 dBm0) do not count.
    EXPECT_NEAR(results.txLevel, -15.0, 0.5);
    // Rx is measured where the canceller reported nothing: there it carries the bare echo,
    // 12 dB under the bursts, so Tx stands more than 6 dB above Rx and the levels read CHECK.
    EXPECT_NEAR(results.rxLevel, -27.0, 0.5);
    EXPECT_EQ(results.levelsOk, 0);

    // Nothing shown but the progress over the samples: 0 before the first frame, then each
    // frame's start once it is written, the partial one's last.
    ASSERT_EQ(ui.calls.size(), 2u + 601u);
    EXPECT_EQ(ui.calls[0], "range: 48037");
    EXPECT_EQ(ui.calls[1], "pos: 0");
    EXPECT_EQ(ui.calls[2], "pos: 0");
    EXPECT_EQ(ui.calls.back(), "pos: 48000");

    // Whole frames only: the partial one is written padded, as the canceller left it.
    EXPECT_EQ(std::filesystem::file_size(settings.outPath), 601u * 160u);
    EXPECT_EQ(testcaptures::ReadPcm(settings.outPath), CancelDirectly());
}

TEST_F(CancellationPassTest, AFailedWriteOfTheOutputFailsTheRun)
{
    WriteCaptures(48000);
    // In a child process: a file size limit of 8000 bytes makes the first block's write fail.
    EXPECT_EXIT(std::exit(RunWithFileSizeLimit(8000) ? 0 : 1),
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
