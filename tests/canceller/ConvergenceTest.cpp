#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "CancellerTestSupport.h"
#include "tests/support/TestCaptures.h"

namespace {

// A seeded noise reference through a short FIR echo path: 12 dB ERL, the echo's first tap
// 140 samples after the reference. Bulk delay 100 and a 64-tap tail cover taps 140..147.
constexpr int kEchoDelay = 140;
constexpr int kBulkDelay = 100;
constexpr int kTail = 64;
constexpr double kErlDb = 12.0;
constexpr int kSeconds = 3;
constexpr int kFrames = kSeconds * 100;

struct CancelRun {
    std::vector<FrameReport> reports;
    std::vector<std::int16_t> mode;
};

CancelRun Cancel(double lineNoiseRms, int bulkDelay)
{
    const int count = kFrames * kFrameLength;
    const auto tx = testcaptures::Noise(count, 3000.0, 2024);
    // Path shape, then scaled so that its power gain is exactly -12 dB.
    const double shape[] = {0.10, 0.45, -0.30, 0.20, 0.08, -0.12, 0.05, 0.02};
    double energy = 0.0;
    for (double h : shape) {
        energy += h * h;
    }
    const double scale = std::pow(10.0, -kErlDb / 20.0) / std::sqrt(energy);
    const auto noise = testcaptures::Noise(count, lineNoiseRms > 0.0 ? lineNoiseRms : 1.0, 77);
    std::vector<std::int16_t> rx(static_cast<std::size_t>(count));
    for (int n = 0; n < count; ++n) {
        double echo = 0.0;
        for (int k = 0; k < 8; ++k) {
            const int t = n - kEchoDelay - k;
            echo += t >= 0 ? shape[k] * scale * tx[static_cast<std::size_t>(t)] : 0.0;
        }
        rx[static_cast<std::size_t>(n)] =
            testcaptures::ClampSample(echo + (lineNoiseRms > 0.0 ? noise[static_cast<std::size_t>(n)] : 0.0));
    }

    EchoCanceller ec;
    auto state = cancellertest::MakeState(kTail, bulkDelay);
    CancelRun run;
    std::vector<std::int16_t> out(kFrameLength);
    for (int f = 0; f < kFrames; ++f) {
        FrameReport report{};
        const auto offset = static_cast<std::size_t>(f * kFrameLength);
        ec.ProcessFrame(*state, rx.data() + offset, tx.data() + offset, out.data(), kFrameLength, report);
        run.reports.push_back(report);
        run.mode.push_back(state->mode);
    }
    return run;
}

// Mean and minimum of the reported cancellation over the third second, and whether every
// frame there was valid and the control had converged.
struct ThirdSecond {
    double mean = 0.0;
    double minimum = 1e9;
    bool allValid = true;
    bool allConverged = true;
};

ThirdSecond Summarise(const CancelRun& run)
{
    ThirdSecond s;
    for (int f = 200; f < kFrames; ++f) {
        const auto k = static_cast<std::size_t>(f);
        s.mean += run.reports[k].cancellation / 100.0;
        s.minimum = std::min(s.minimum, run.reports[k].cancellation);
        s.allValid = s.allValid && run.reports[k].valid == 1;
        s.allConverged = s.allConverged && run.mode[k] == ModeConverged;
    }
    return s;
}

TEST(Convergence, CancelsDownToTheLineNoiseWithinTwoSeconds)
{
    // Echo rms 3000 * 10^(-12/20) = 754 over line noise of rms 30: no filter can do better
    // than 10*log10((754^2 + 30^2) / 30^2) = 28.0 dB. Measured over the third second:
    // mean 27.8 dB, worst frame 24 dB.
    const ThirdSecond s = Summarise(Cancel(30.0, kBulkDelay));
    EXPECT_GT(s.mean, 27.0);
    EXPECT_LT(s.mean, 28.5);
    EXPECT_GE(s.minimum, 23.0);
    EXPECT_TRUE(s.allValid);
    EXPECT_TRUE(s.allConverged);
}

TEST(Convergence, CleanEchoIsCancelledToTheRoundingFloor)
{
    // Without line noise only the rounding of the estimate remains. Measured over the
    // third second: mean 58.4 dB, worst frame 56 dB.
    const ThirdSecond s = Summarise(Cancel(0.0, kBulkDelay));
    EXPECT_GT(s.mean, 57.0);
    EXPECT_GE(s.minimum, 54.0);
    EXPECT_TRUE(s.allValid);
}

TEST(Convergence, EchoBeyondTheTailIsNotCancelled)
{
    // Without the bulk delay the echo (taps 140..147) lies outside the 64-tap window.
    const ThirdSecond s = Summarise(Cancel(30.0, 0));
    EXPECT_LT(s.mean, 1.0);  // measured -1.5 dB
    EXPECT_FALSE(s.allConverged);
}

}  // namespace
