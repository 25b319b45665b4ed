// InitCanceller, FrameEnergyLevel and ProcessFrame: levels, adaptation flag, normaliser, NLP
// and bypass at their bounds. Whole runs through the bulk delay are pinned by the golden tests.
#include <algorithm>
#include <cstdint>
#include <memory>

#include <gtest/gtest.h>

#include "CancellerTestSupport.h"

using namespace tarnwell;

namespace {

using cancellertest::Constant;
using cancellertest::Frame;
using cancellertest::MakeState;
using cancellertest::Q19;

TEST(InitCanceller, RoundsTheTailUpToEvenAndDefaultsNegativeNlpSettingsInTheCallersRecord)
{
    EchoCanceller ec;
    auto state = std::make_unique<CancellerState>();
    for (auto [given, used] : {std::pair{63, 64}, {64, 64}, {0, 0}, {1023, 1024}}) {
        CancellerConfig config{given, 400, 1, -5, -1};
        ec.InitCanceller(*state, config);
        EXPECT_EQ(state->tail, used) << "tail " << given;
        EXPECT_EQ(state->bulkDelay, 400);
        EXPECT_TRUE(state->nlpShift == 3 && state->nlpDiff == 10 && config.nlpShift == 3 && config.nlpDiff == 10);
    }
    CancellerConfig zero{128, 0, 0, 0, 0};  // zero is a setting, not a request for the default
    ec.InitCanceller(*state, zero);
    EXPECT_TRUE(state->nlpShift == 0 && state->nlpDiff == 0 && state->nlpEnable == 0);
}

// Expected levels worked out by hand: 10*log10((1 + sum x^2) / n / 32767^2) - 0.5, truncated.
TEST(FrameEnergyLevel, RoundsToTheNearestDecibelWithHalvesGoingDown)
{
    const std::pair<int, int> cases[] = {
        {0, -109},  // -109.84: silence stays finite
        {1, -90}, {32767, 0}, {-32768, 0},
        {309, -41}, {310, -40},  // -40.52 and -40.49 before the half is taken off
        {978, -31}, {979, -30},  // -30.502 goes down, -30.493 stays
    };
    EchoCanceller ec;
    for (auto [value, level] : cases) {
        const auto frame = Constant(value, value != -32768);  // the sign does not matter
        EXPECT_EQ(ec.FrameEnergyLevel(frame.data(), kFrameLength), level) << "value " << value;
    }
    // Divided by the count: half a frame at 3277 reads 3 dB below a full one (-20), and a
    // single zero sample 10*log10(1/32767^2) - 0.5 = -90.8.
    auto half = Constant(0);
    std::fill(half.begin(), half.begin() + kFrameLength / 2, std::int16_t{3277});
    EXPECT_EQ(ec.FrameEnergyLevel(half.data(), kFrameLength), -23);
    EXPECT_EQ(ec.FrameEnergyLevel(half.data() + kFrameLength / 2, 1), -90);
}

class ProcessFrameTest : public ::testing::Test {
protected:
    void Process(const Frame& nearEnd, const Frame& reference)
    {
        report = FrameReport{};
        ec.ProcessFrame(*state, nearEnd.data(), reference.data(), output.data(), kFrameLength, report);
    }
    int Level(const Frame& f) const { return ec.FrameEnergyLevel(f.data(), kFrameLength); }

    EchoCanceller ec;
    std::unique_ptr<CancellerState> state;
    Frame output{};
    FrameReport report;
};

TEST_F(ProcessFrameTest, AdaptsOnlyWhenTheReferenceIsMoreThanFiveDbLouder)
{
    for (auto [nearValue, flag] : {std::pair{2200, 0}, {2000, 1}}) {
        ASSERT_EQ(Level(Constant(4000)) - Level(Constant(nearValue)), 5 + flag);
        state = MakeState(64, 0);
        Process(Constant(nearValue), Constant(4000));
        EXPECT_EQ(state->adaptFlag, flag) << "near " << nearValue;
        EXPECT_EQ(state->adaptState, flag == 1 ? AdaptFast : AdaptSlow) << "near " << nearValue;
        EXPECT_EQ(report.valid, flag) << "near " << nearValue;  // valid only in states 15 and 16
    }
}

TEST_F(ProcessFrameTest, NormaliserFromThePeakOfTheWholeWindow)
{
    struct Case { int delay, frame, last, oldest, timer, normaliser; };
    const Case cases[] = {
        {0, 1000, 1000, 0, 0, 32},       // 32767 / 1000
        {0, 1000, 4000, 0, 0, 8},        // the frame's last sample belongs to the window,
        {0, 1000, 1000, 2000, 0, 16},    // and so does the oldest tap's
        {0, 1000, 1000, -32768, 0, 1},   // 32767 / 32768 = 0, raised to 1
        {0, 310, 310, 0, 0, 105},        // level -40: kept
        {0, 309, 309, 0, 0, 1},          // level -41: dropped
        {0, 1000, 1000, 0, 8000, 1},     // dropped once the timer is full
        {80, 30000, 30000, 1000, 0, 32},  // the new reference lies beyond the delayed window
    };
    for (const Case& c : cases) {
        state = MakeState(64, c.delay);
        std::fill(state->history, state->history + 64 + c.delay, static_cast<std::int16_t>(c.delay ? 1000 : 0));
        state->history[0] = static_cast<std::int16_t>(c.oldest);
        state->convergeTimer = static_cast<std::int16_t>(c.timer);
        Frame reference = Constant(c.frame);
        reference[79] = static_cast<std::int16_t>(c.last);
        Process(Constant(0), reference);
        EXPECT_EQ(state->normaliser, c.normaliser) << c.frame << " last " << c.last << " oldest " << c.oldest;
    }
}

// A two-tap filter with w0 given, against a constant reference R and a near end of R/2 +- 10.
// With w0 = 1/2 the echo goes and +-10 is left; levels for R = 4000, 370, 310: reference
// -18, -39, -40, near end -24, -45, -46, residual -70. The window sum stays below the step
// bound, so the weights never move.
TEST_F(ProcessFrameTest, NlpBypassAndReporting)
{
    struct Case { int ref, weight, nlpDiff, nlpShift, nlpEnable, mode, even, odd; double cancellation; int valid; };
    const Case cases[] = {
        {4000, 16384, 10, 3, 1, ModeIdle, 1, -2, 46.0, 1},     // arithmetic shift: -10 >> 3 = -2
        {4000, 16384, 45, 3, 1, ModeIdle, 1, -2, 46.0, 1},
        {4000, 16384, 46, 3, 1, ModeIdle, 10, -10, 46.0, 1},   // -70 is not below -24 - 46
        {4000, 16384, 10, 0, 1, ModeIdle, 10, -10, 46.0, 1},
        {4000, 16384, 10, 3, 0, ModeIdle, 10, -10, 0.0, 1},    // the control saw the unmultiplied flag
        {4000, 16384, 10, 3, 1, ModeHold, 1, -2, 46.0, 0},     // AdaptSlow: not reported
        {370, 16384, 10, 3, 1, ModeIdle, 1, -2, 25.0, 1},      // reference -39: NLP
        {310, 16384, 10, 3, 1, ModeIdle, 10, -10, 0.0, 1},     // reference -40: none, nothing measured
        {4000, -16384, 10, 3, 1, ModeIdle, 2010, 1990, -6.0, 1},  // error 4010, 3990 (-18): bypass
        {4000, 32767, 10, 3, 1, ModeIdle, -1990, -2010, 0.0, 1},  // error as loud as the near end: kept
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "row " << (&c - cases));
        state = MakeState(2, 0, c.nlpDiff, c.nlpShift, c.nlpEnable);
        state->coefficients[0] = Q19(c.weight);
        state->mode = static_cast<std::int16_t>(c.mode);
        Process(Constant(10, true, c.ref / 2), Constant(c.ref));
        for (std::size_t i = 0; i < output.size(); ++i) {
            ASSERT_EQ(output[i], i % 2 == 0 ? c.even : c.odd) << "sample " << i;
        }
        EXPECT_EQ(report.cancellation, c.cancellation);
        EXPECT_EQ(report.valid, c.valid);
        EXPECT_EQ(report.residualLevel, c.valid ? ec.BlockLevel(output.data(), kFrameLength) : 0.0);
        EXPECT_EQ(state->adaptFlag, c.nlpEnable);
    }
}

}  // namespace
