#include <algorithm>
#include <array>
#include <cstdint>

#include <gtest/gtest.h>

#include "CancellerTestSupport.h"

namespace {

using cancellertest::Alternating;
using cancellertest::Constant;
using cancellertest::Frame;
using cancellertest::MakeState;
using cancellertest::Q19;

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
    Frame output = Constant(0);
    FrameReport report;
};

TEST_F(ProcessFrameTest, AdaptsOnlyWhenTheReferenceIsMoreThanFiveDbLouder)
{
    const Frame reference = Constant(4000);
    const Frame nearBy5 = Constant(2200);
    const Frame nearBy6 = Constant(2000);
    ASSERT_EQ(Level(reference) - Level(nearBy5), 5);
    ASSERT_EQ(Level(reference) - Level(nearBy6), 6);

    state = MakeState(64, 0);
    Process(nearBy5, reference);
    EXPECT_EQ(state->adaptFlag, 0);
    EXPECT_EQ(state->adaptState, AdaptSlow);
    EXPECT_EQ(report.valid, 0);

    state = MakeState(64, 0);
    Process(nearBy6, reference);
    EXPECT_EQ(state->adaptFlag, 1);
    EXPECT_EQ(state->adaptState, AdaptFast);
    EXPECT_EQ(report.valid, 1);
}

TEST_F(ProcessFrameTest, SilentReferenceNeitherAdaptsNorNormalises)
{
    state = MakeState(64, 0);
    state->normaliser = 7;
    Process(Constant(0), Constant(0));  // both -109: difference 0
    EXPECT_EQ(state->adaptFlag, 0);
    EXPECT_EQ(state->normaliser, 1);
    EXPECT_EQ(state->mode, ModeIdle);
}

TEST_F(ProcessFrameTest, NormaliserFromThePeakOfTheWholeWindow)
{
    struct Case { std::int16_t frameValue; std::int16_t oldest; std::int16_t expected; };
    const Case cases[] = {
        {1000, 0, 32},        // 32767 / 1000
        {310, 0, 105},        // level -40: not forced to 1
        {309, 0, 1},          // level -41: forced
        {32767, 0, 1},
        {-32768, 0, 1},       // 32767 / 32768 = 0, raised to 1
        {1000, 2000, 16},     // the oldest tap's sample belongs to the window
        {1000, -32768, 1},
    };
    for (const Case& c : cases) {
        state = MakeState(64, 0);
        state->history[0] = c.oldest;
        Process(Constant(0), Constant(c.frameValue));
        EXPECT_EQ(state->normaliser, c.expected) << c.frameValue << ", oldest " << c.oldest;
    }
}

TEST_F(ProcessFrameTest, NormaliserSeesTheLastSampleOfTheFrame)
{
    state = MakeState(64, 0);
    Frame reference = Constant(1000);
    reference[79] = 4000;
    Process(Constant(0), reference);
    EXPECT_EQ(state->normaliser, 8);  // 32767 / 4000
}

TEST_F(ProcessFrameTest, NormaliserIgnoresSamplesBeyondTheWindow)
{
    // With a bulk delay, the reference just written lies beyond the filter's window.
    state = MakeState(64, 80);
    std::fill(state->history, state->history + 64 + 80, std::int16_t{1000});
    Process(Constant(0), Constant(30000));
    EXPECT_EQ(state->normaliser, 32);
}

TEST_F(ProcessFrameTest, NormaliserDroppedOnceTheTimerIsFull)
{
    state = MakeState(64, 0);
    state->convergeTimer = 8000;
    Process(Constant(0), Constant(1000));
    EXPECT_EQ(state->normaliser, 1);
}

// A pre-trained two-tap filter that cancels exactly: w0 = 1/2 against a reference of 4000
// gives an estimate of 2000. The window sum (at most 1 + 2 * 4000) stays below the step
// bound, so the weights never move and the error is known sample for sample.
class TrainedFilterTest : public ProcessFrameTest {
protected:
    void Init(int nlpDiff, int nlpShift, int nlpEnable = 1)
    {
        state = MakeState(2, 0, nlpDiff, nlpShift, nlpEnable);
        state->coefficients[0] = Q19(16384);
    }

    const Frame reference = Constant(4000);  // level -18
    Frame residual = Alternating(300);       // level -41
    Frame NearEnd() const
    {
        Frame d;
        for (std::size_t i = 0; i < d.size(); ++i) {
            d[i] = static_cast<std::int16_t>(2000 + residual[i]);  // 2300, 1700: level -24
        }
        return d;
    }
};

TEST_F(TrainedFilterTest, NlpShiftsTheResidualArithmetically)
{
    Init(10, 3);
    Process(NearEnd(), reference);
    EXPECT_EQ(report.cancellation, Level(NearEnd()) - Level(residual));
    EXPECT_EQ(report.cancellation, 17.0);
    EXPECT_EQ(output[0], 37);   // 300 >> 3
    EXPECT_EQ(output[1], -38);  // -300 >> 3 rounds toward minus infinity
    EXPECT_EQ(report.valid, 1);
    EXPECT_EQ(report.residualLevel, ec.BlockLevel(output.data(), kFrameLength));
}

TEST_F(TrainedFilterTest, NlpThresholdIsStrict)
{
    Init(17, 3);  // error -41 is not below -24 - 17
    Process(NearEnd(), reference);
    EXPECT_EQ(report.cancellation, 17.0);
    EXPECT_EQ(output, residual);
    Init(16, 3);
    Process(NearEnd(), reference);
    EXPECT_EQ(output[0], 37);
}

TEST_F(TrainedFilterTest, NlpShiftZeroReportsButKeepsTheSamples)
{
    Init(10, 0);
    Process(NearEnd(), reference);
    EXPECT_EQ(report.cancellation, 17.0);
    EXPECT_EQ(output, residual);
}

TEST_F(TrainedFilterTest, NlpDisabledStillFiltersButReportsNoCancellation)
{
    Init(10, 3, 0);
    Process(NearEnd(), reference);
    EXPECT_EQ(report.cancellation, 0.0);
    EXPECT_EQ(output, residual);
    EXPECT_EQ(state->adaptFlag, 0);
    // The control still saw the unmultiplied flag: the frame ends fast, and counts.
    EXPECT_EQ(state->adaptState, AdaptFast);
    EXPECT_EQ(report.valid, 1);
}

TEST_F(TrainedFilterTest, NlpNeedsAReferenceAboveMinus40)
{
    // Weight 1/8: the echo is 18 dB below the reference, the residual +-10.
    for (std::int16_t refValue : {std::int16_t{370}, std::int16_t{310}}) {
        state = MakeState(2, 0, 0, 1);
        state->coefficients[0] = Q19(4096);
        const Frame ref = Constant(refValue);
        Frame near;
        const std::int16_t echo = refValue == 370 ? 46 : 39;  // 46.25 and 38.75 rounded
        for (std::size_t i = 0; i < near.size(); ++i) {
            near[i] = static_cast<std::int16_t>(echo + (i % 2 == 0 ? 10 : -10));
        }
        Process(near, ref);
        ASSERT_EQ(state->adaptFlag, 1);
        if (refValue == 370) {  // level -39
            EXPECT_GT(report.cancellation, 10.0);
            EXPECT_EQ(output[0], 5);
        } else {                // level -40
            EXPECT_EQ(report.cancellation, 0.0);
            EXPECT_EQ(output[0], 10);
        }
    }
}

TEST_F(TrainedFilterTest, LouderErrorBypassesToTheNearEnd)
{
    Init(10, 3);
    state->coefficients[0] = Q19(-16384);  // adds the echo instead of removing it
    const Frame nearEnd = NearEnd();
    Frame error;
    for (std::size_t i = 0; i < error.size(); ++i) {
        error[i] = static_cast<std::int16_t>(nearEnd[i] + 2000);
    }
    Process(nearEnd, reference);
    EXPECT_EQ(output, nearEnd);
    // The cancellation is still written, from the error before the bypass.
    EXPECT_EQ(report.cancellation, Level(nearEnd) - Level(error));
    EXPECT_LT(report.cancellation, 0.0);
}

TEST_F(TrainedFilterTest, ErrorAsLoudAsTheNearEndIsNotBypassed)
{
    // A weight of (almost) 1 against a reference of twice the near end: the error is the
    // near end negated, at exactly the same level, and it stays.
    state = MakeState(2, 0);
    state->coefficients[0] = Q19(32767);
    const Frame nearEnd = Alternating(1000);
    const Frame twice = Alternating(2000);
    Process(nearEnd, twice);
    for (std::size_t i = 0; i < output.size(); ++i) {
        ASSERT_EQ(output[i], -nearEnd[i]) << "sample " << i;
    }
}

TEST_F(TrainedFilterTest, SlowFrameIsNotReportedThoughCancellationIsWritten)
{
    Init(10, 3);
    state->mode = ModeHold;
    Process(NearEnd(), reference);
    EXPECT_EQ(state->adaptState, AdaptSlow);
    EXPECT_EQ(report.cancellation, 17.0);
    EXPECT_EQ(report.valid, 0);
    EXPECT_EQ(report.residualLevel, 0.0);
}

TEST_F(ProcessFrameTest, BulkDelayZeroUsesTheCurrentReference)
{
    state = MakeState(2, 0);
    Process(Constant(0), Constant(4000));
    EXPECT_EQ(state->adaptFlag, 1);
    Process(Constant(0), Constant(0));
    EXPECT_EQ(state->adaptFlag, 0);
}

TEST_F(ProcessFrameTest, BulkDelayOfOneFrameUsesThePreviousReference)
{
    state = MakeState(2, 80);
    Frame loud;
    for (std::size_t i = 0; i < loud.size(); ++i) {
        loud[i] = static_cast<std::int16_t>(1000 + i);
    }
    Process(Constant(0), loud);
    EXPECT_EQ(state->adaptFlag, 0);  // the delayed frame is still silence
    Process(Constant(0), Constant(0));
    EXPECT_EQ(state->adaptFlag, 1);
    // Between frames the history holds the last tail + delay = 82 samples, oldest first.
    EXPECT_EQ(state->history[0], 1078);
    EXPECT_EQ(state->history[1], 1079);
    EXPECT_EQ(state->history[2], 0);
    EXPECT_EQ(state->history[81], 0);
}

TEST_F(ProcessFrameTest, ShortBulkDelaySeesZerosBeforeTheFirstSample)
{
    // Probe the delayed frame x through a one-tap filter of weight (almost) 1 and a near end
    // of 2x: the output is x itself when the alignment is right (the window sum stays
    // below the step bound, so the weight never moves).
    constexpr int kDelay = 30;
    state = MakeState(4, kDelay);
    state->coefficients[0] = Q19(32767);
    std::array<std::int16_t, 2 * kFrameLength> reference{};
    for (int k = 0; k < kFrameLength; ++k) {
        reference[static_cast<std::size_t>(k)] = static_cast<std::int16_t>(10 * (k + 1));
    }
    for (int f = 0; f < 2; ++f) {
        Frame ref;
        Frame expected;
        Frame near;
        for (int i = 0; i < kFrameLength; ++i) {
            const int t = f * kFrameLength + i;
            ref[static_cast<std::size_t>(i)] = reference[static_cast<std::size_t>(t)];
            expected[static_cast<std::size_t>(i)] =
                t < kDelay ? 0 : reference[static_cast<std::size_t>(t - kDelay)];
            near[static_cast<std::size_t>(i)] = static_cast<std::int16_t>(2 * expected[static_cast<std::size_t>(i)]);
        }
        Process(near, ref);
        ASSERT_EQ(output, expected) << "frame " << f;
    }
}

}  // namespace
