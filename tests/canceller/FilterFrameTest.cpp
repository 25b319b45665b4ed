#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "CancellerTestSupport.h"
#include "tests/support/TestCaptures.h"

namespace {

using cancellertest::Frame;
using cancellertest::MakeState;
using cancellertest::Q19;

// Runs FilterFrame on a state of the given tail whose whole window (x[-tail] .. x[79]) holds
// the given reference value unless the test writes other samples.
class FilterFrameTest : public ::testing::Test {
protected:
    void SetUpState(int tail, std::int16_t referenceValue = 0)
    {
        state = MakeState(tail, 0);
        std::fill(state->history, state->history + tail + kFrameLength, referenceValue);
        x = state->history + tail;
    }

    std::int16_t Run()
    {
        return ec.FilterFrame(*state, nearEnd.data(), x, output.data());
    }

    EchoCanceller ec;
    std::unique_ptr<CancellerState> state;
    std::int16_t* x = nullptr;
    Frame nearEnd = cancellertest::Constant(0);
    Frame output = cancellertest::Constant(0);
};

TEST_F(FilterFrameTest, NoTapsPassTheNearEndWithMinus32768Clipped)
{
    SetUpState(0);
    state->adaptFlag = 1;
    state->normaliser = 100;
    for (int i = 0; i < kFrameLength; ++i) {
        nearEnd[static_cast<std::size_t>(i)] = static_cast<std::int16_t>(i % 3 == 0 ? -32768 : 400 * i - 16000);
    }
    // The window sum stays 1, so no step is ever worked out.
    EXPECT_EQ(Run(), 0);
    for (int i = 0; i < kFrameLength; ++i) {
        const auto k = static_cast<std::size_t>(i);
        const int expected = nearEnd[k] == -32768 ? -32767 : nearEnd[k];
        ASSERT_EQ(output[k], expected) << "sample " << i;
    }
}

TEST_F(FilterFrameTest, ErrorSaturatesSymmetrically)
{
    SetUpState(2);
    // Estimate 2 * 32766: d - acc far below -32767.
    state->coefficients[0] = Q19(32767);
    state->coefficients[1] = Q19(32767);
    std::fill(state->history, state->history + 2 + kFrameLength, std::int16_t{32767});
    nearEnd = cancellertest::Constant(-32768);
    Run();
    EXPECT_EQ(output[0], -32767);
    EXPECT_EQ(output[79], -32767);

    // Negative weights: far above +32767.
    SetUpState(2, 32767);
    state->coefficients[0] = Q19(-32768);
    state->coefficients[1] = Q19(-32768);
    nearEnd = cancellertest::Constant(32767);
    Run();
    EXPECT_EQ(output[0], 32767);
    EXPECT_EQ(output[79], 32767);
}

// The step is worked out from the last sample's error. The near end is zero up to the
// last sample, so the weights stay zero and e[79] = d[79].
class StepFormulaTest : public FilterFrameTest {
protected:
    std::int16_t StepFor(int tail, std::int16_t reference, std::int16_t lastError,
                         std::int16_t shift, std::int16_t normaliser)
    {
        SetUpState(tail, reference);
        state->adaptFlag = 1;
        state->adaptState = shift;
        state->normaliser = normaliser;
        nearEnd[79] = lastError;
        return Run();
    }
};

TEST_F(StepFormulaTest, WorkedExampleTruncatesTowardZero)
{
    // E = 1 + 4 * 5000 = 20001, E >> 4 = 1250: q = -100 * 2^15 / 1250 = -2621.44 -> -2621
    // (not -2622), times 4 = -10484.
    EXPECT_EQ(StepFor(4, 5000, -100, AdaptNormal, 4), -10484);
    EXPECT_EQ(output[79], -100);
    EXPECT_EQ(StepFor(4, 5000, 100, AdaptNormal, 4), 10484);
}

TEST_F(StepFormulaTest, WindowSumMustExceedTenThousand)
{
    // E = 1 + 2 * 5000 = 10001 -> E >> 4 = 625: q = 100 * 2^15 / 625 = 5242.88 -> 5242.
    EXPECT_EQ(StepFor(2, 5000, 100, AdaptNormal, 1), 5242);
    // Alternating 5000 and 4999: every window holds one of each, E = 10000 -> no step.
    SetUpState(2);
    for (int k = -2; k < kFrameLength; ++k) {
        x[k] = static_cast<std::int16_t>(k % 2 == 0 ? 5000 : 4999);
    }
    state->adaptFlag = 1;
    nearEnd[79] = 100;
    EXPECT_EQ(Run(), 0);
    // Alternating 5000 and 5001: E = 10002 -> a step.
    for (int k = -2; k < kFrameLength; ++k) {
        x[k] = static_cast<std::int16_t>(k % 2 == 0 ? 5000 : 5001);
    }
    EXPECT_NE(Run(), 0);
}

TEST_F(StepFormulaTest, ShiftSetsTheSpeed)
{
    // E >> 4 = 1250 (tail 4 at 5000); error 1000.
    EXPECT_EQ(StepFor(4, 5000, 1000, AdaptNormal, 1), 26214);  // 32768000 / 1250 = 26214.4
    EXPECT_EQ(StepFor(4, 5000, 1000, AdaptSlow, 1), 6553);     // 8192000 / 1250 = 6553.6
    EXPECT_EQ(StepFor(4, 5000, 500, AdaptFast, 1), 26214);     // 32768000 / 1250
}

TEST_F(StepFormulaTest, StepSaturatesAtPlusMinus32767)
{
    EXPECT_EQ(StepFor(2, 5000, -1000, AdaptNormal, 1), -32767);  // q = -52428
    EXPECT_EQ(StepFor(2, 5000, 1000, AdaptNormal, 1), 32767);
    // Largest error and shift with the smallest admissible window and a large normaliser:
    // the product exceeds 32 bits only in a state the frame step never produces.
    EXPECT_EQ(StepFor(2, 5000, 32767, AdaptFast, 32767), 32767);
    EXPECT_EQ(StepFor(2, 5000, -32767, AdaptFast, 32767), -32767);
}

TEST_F(StepFormulaTest, NoStepWithoutAdaptation)
{
    SetUpState(4, 5000);
    state->adaptFlag = 0;
    nearEnd[79] = 1000;
    EXPECT_EQ(Run(), 0);
}

TEST_F(FilterFrameTest, CarriedStepUsesThePreviousSamplesOfEachTap)
{
    // With adaptation off, the only update is the first sample's, with the step carried
    // in and the samples the taps met one sample earlier: x[-1] for tap 0, x[-2] for tap 1.
    SetUpState(2);
    x[-2] = 1000;
    x[-1] = 3000;
    std::fill(x, x + kFrameLength, std::int16_t{7000});
    state->adaptFlag = 0;
    state->step = 16384;  // one half
    nearEnd = cancellertest::Constant(1234);
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(state->coefficients[0], 1500);  // 3000 / 2, not 7000 / 2
    EXPECT_EQ(state->coefficients[1], 500);
    // The convolution of sample 0 already uses the updated weights: w = c >> 4.
    // 7000 * (1500 >> 4 = 93) -> 19.87 -> 20; 3000 * (500 >> 4 = 31) -> 2.84 -> 3.
    EXPECT_EQ(output[0], 1234 - 20 - 3);
}

TEST_F(FilterFrameTest, ZeroStepAfterInitialisationChangesNoWeight)
{
    SetUpState(2, 3000);
    ASSERT_EQ(state->step, 0);
    state->adaptFlag = 0;
    nearEnd = cancellertest::Constant(500);
    Run();
    EXPECT_EQ(state->coefficients[0], 0);
    EXPECT_EQ(state->coefficients[1], 0);
    EXPECT_EQ(output[5], 500);
}

TEST_F(FilterFrameTest, UpdateAndEstimateRoundHalfUp)
{
    // Tap 0 meets x[-1] at the first sample's update.
    struct Case { std::int16_t sample; std::int16_t step; std::int32_t change; };
    const Case cases[] = {
        {1, 16384, 1},        // +16384 -> +1
        {-1, 16384, 0},       // -16384 -> 0
        {-16385, 1, -1},      // -16385 -> -1
        {1, 16383, 0},        // +16383 -> 0
    };
    for (const Case& c : cases) {
        SetUpState(2);
        x[-1] = c.sample;
        state->step = c.step;
        Run();
        EXPECT_EQ(state->coefficients[0], c.change) << c.sample << " * " << c.step;
    }

    // Estimate terms: w = 16384 (one half) times x = +1 / -1.
    SetUpState(2);
    state->coefficients[0] = Q19(16384);
    x[0] = 1;
    x[1] = -1;
    nearEnd = cancellertest::Constant(10);
    Run();
    EXPECT_EQ(output[0], 10 - 1);
    // Sample 1: tap 0 gives round(-0.5) = 0, tap 1 (w = 0) nothing.
    EXPECT_EQ(output[1], 10);
}

TEST_F(FilterFrameTest, WeightSaturatesInsteadOfWrapping)
{
    // c >> 4 = 32768 would wrap to -32768 and turn the estimate's sign.
    SetUpState(2);
    state->coefficients[0] = 1 << 19;
    x[0] = 1000;
    Run();
    EXPECT_EQ(output[0], -1000);  // 1000 * 32767 -> 999.97 -> 1000

    // c >> 4 = -32769 would wrap to +32767.
    SetUpState(2);
    state->coefficients[1] = -(1 << 19) - 16;
    x[-1] = 1000;
    Run();
    EXPECT_EQ(output[0], 1000);  // 1000 * -32768 -> -1000

    // A weight of 2^20 would wrap to 0.
    SetUpState(2);
    state->coefficients[0] = 1 << 20;
    x[0] = 1000;
    Run();
    EXPECT_EQ(output[0], -1000);
}

TEST_F(FilterFrameTest, CoefficientUpdateSaturatesAtInt32Limits)
{
    constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
    constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
    SetUpState(2);
    state->coefficients[0] = kMax - 10;
    state->coefficients[1] = kMin + 10;
    x[-1] = 3000;
    x[-2] = -3000;
    state->step = 16384;  // +1500 for tap 0, -1500 for tap 1
    Run();
    EXPECT_EQ(state->coefficients[0], kMax);
    EXPECT_EQ(state->coefficients[1], kMin);
}

// A plain model of the filter, sample by sample over one long signal: the window sum is
// summed again at every sample and the lag is expressed on absolute time, so a slip in the
// running sum or at a frame boundary shows up as a difference.
struct ModelFilter {
    std::vector<std::int32_t> c;
    std::int32_t mu = 0;

    static std::int32_t Round(std::int64_t p) { return static_cast<std::int32_t>((p + 16384) >> 15); }
    static std::int64_t Clamp(std::int64_t v, std::int64_t lo, std::int64_t hi) { return std::min(hi, std::max(lo, v)); }

    // r: reference with r[n - tail] valid; returns e[n].
    std::int16_t Sample(const std::int16_t* r, std::int16_t d, int tail, int shift,
                        int normaliser, bool adapt)
    {
        std::int64_t window = 1;
        for (int k = 0; k < tail; ++k) {
            window += std::abs(static_cast<int>(r[-k]));
        }
        std::int64_t acc = 0;
        for (int j = 0; j < tail; ++j) {
            c[j] = static_cast<std::int32_t>(Clamp(std::int64_t{c[j]} + Round(std::int64_t{r[-1 - j]} * mu),
                                                   INT32_MIN, INT32_MAX));
            const std::int64_t w = Clamp(c[j] / 16 - (c[j] % 16 < 0 ? 1 : 0), -32768, 32767);
            acc += Round(r[-j] * w);
        }
        const auto e = static_cast<std::int16_t>(Clamp(d - acc, -32767, 32767));
        mu = 0;
        if (window > 10000 && adapt) {
            const std::int64_t q = (std::int64_t{e} << shift) / (window / 16);
            mu = static_cast<std::int32_t>(Clamp(q * normaliser, -32767, 32767));
        }
        return e;
    }
};

TEST_F(FilterFrameTest, MatchesAPlainModelOverManyFrames)
{
    constexpr int kTail = 64;
    constexpr int kFrames = 40;
    const auto reference = testcaptures::Noise(kTail + kFrames * kFrameLength, 3000.0, 11);
    // An echo: reference through three taps, plus some near-end noise.
    const auto noise = testcaptures::Noise(kFrames * kFrameLength, 30.0, 12);
    std::vector<std::int16_t> near(noise.size());
    for (std::size_t n = 0; n < near.size(); ++n) {
        const std::int16_t* r = reference.data() + kTail + n;
        near[n] = testcaptures::ClampSample(0.4 * r[-3] - 0.25 * r[-9] + 0.1 * r[-30] + noise[n]);
    }

    SetUpState(kTail);
    ModelFilter model;
    model.c.assign(kTail, 0);
    for (int f = 0; f < kFrames; ++f) {
        // Vary the control between frames as the frame step would.
        state->adaptFlag = (f % 7 == 3) ? 0 : 1;
        state->adaptState = f < 10 ? AdaptFast : (f % 3 == 0 ? AdaptSlow : AdaptNormal);
        state->normaliser = static_cast<std::int16_t>(f < 20 ? 3 : 1);
        const std::int16_t* xf = reference.data() + kTail + f * kFrameLength;
        std::copy(near.begin() + f * kFrameLength, near.begin() + (f + 1) * kFrameLength, nearEnd.begin());
        state->step = ec.FilterFrame(*state, nearEnd.data(), xf, output.data());
        for (int i = 0; i < kFrameLength; ++i) {
            const std::int16_t expected = model.Sample(xf + i, nearEnd[static_cast<std::size_t>(i)], kTail,
                                                       state->adaptState, state->normaliser,
                                                       state->adaptFlag == 1);
            ASSERT_EQ(output[static_cast<std::size_t>(i)], expected) << "frame " << f << " sample " << i;
        }
        ASSERT_EQ(state->step, model.mu) << "frame " << f;
        for (int j = 0; j < kTail; ++j) {
            ASSERT_EQ(state->coefficients[j], model.c[static_cast<std::size_t>(j)]) << "frame " << f << " tap " << j;
        }
    }
    // The model run must actually have adapted: the main echo tap is near 0.4 in Q19.
    EXPECT_GT(state->coefficients[3], 0);
}

}  // namespace
