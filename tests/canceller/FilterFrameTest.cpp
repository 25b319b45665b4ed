#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "CancellerTestSupport.h"
#include "support/SyntheticCaptures.h"

using namespace tarnwell;

namespace {

using cancellertest::Constant;
using cancellertest::Q19;

// FilterFrame on a state of the given tail whose window x[-tail] .. x[79] holds a, b, a, ...
class FilterFrameTest : public ::testing::Test {
protected:
    void SetUpState(int tail, std::int16_t a = 0, std::int16_t b = 0)
    {
        state = cancellertest::MakeState(tail, 0);
        x = state->history + tail;
        for (int k = -tail; k < kFrameLength; ++k) {
            x[k] = k % 2 == 0 ? a : b;
        }
        nearEnd = Constant(0);
    }
    std::int16_t Run() { return ec.FilterFrame(*state, nearEnd.data(), x, output.data()); }

    EchoCanceller ec;
    std::unique_ptr<CancellerState> state;
    std::int16_t* x = nullptr;
    cancellertest::Frame nearEnd{};
    cancellertest::Frame output{};
};

TEST_F(FilterFrameTest, ErrorSaturatesSymmetrically)
{
    // No taps: the near end passes with -32768 clipped, and the window sum 1 never gives a step.
    SetUpState(0);
    state->adaptFlag = 1;
    nearEnd = Constant(32767, true, -1);  // 32766, -32768, ...
    EXPECT_EQ(Run(), 0);
    for (std::size_t k = 0; k < output.size(); ++k) {
        ASSERT_EQ(output[k], k % 2 == 0 ? 32766 : -32767) << "sample " << k;
    }
    // Two full-scale taps: an estimate of +-2 * 32766 drives the error beyond either limit.
    for (int sign : {1, -1}) {
        SetUpState(2, 32767, 32767);
        state->coefficients[0] = state->coefficients[1] = Q19(sign > 0 ? 32767 : -32768);
        nearEnd = Constant(static_cast<std::int16_t>(sign > 0 ? -32768 : 32767));
        Run();
        EXPECT_EQ(output, Constant(static_cast<std::int16_t>(-sign * 32767))) << "sign " << sign;
    }
}

TEST_F(FilterFrameTest, StepFromTheLastSamplesError)
{
    // The near end is zero up to the last sample, so the weights stay zero and e[79] = d[79].
    struct Case { int tail; std::int16_t a, b, error, shift, normaliser, flag, step; };
    const Case cases[] = {
        // E = 1 + 4 * 5000 = 20001, E >> 4 = 1250: -3276800 / 1250 = -2621 (not -2622), x 4.
        {4, 5000, 5000, -100, AdaptNormal, 4, 1, -10484},
        {2, 5000, 5000, 100, AdaptNormal, 1, 1, 5242},  // E = 10001: 3276800 / 625
        {2, 5000, 4999, 100, AdaptNormal, 1, 1, 0},     // E = 10000: no step
        {4, 5000, 5000, 500, AdaptFast, 1, 1, 26214},   // 500 * 2^16 / 1250
        {2, 5000, 5000, 1000, AdaptNormal, 1, 1, 32767},
        {2, 5000, 5000, -32767, AdaptFast, 32767, 1, -32767},  // product beyond 32 bits
    };
    for (const Case& c : cases) {
        SetUpState(c.tail, c.a, c.b);
        state->adaptFlag = c.flag;
        state->adaptState = c.shift;
        state->normaliser = c.normaliser;
        nearEnd[79] = c.error;
        EXPECT_EQ(Run(), c.step) << "tail " << c.tail << " b " << c.b << " error " << c.error;
    }
}

TEST_F(FilterFrameTest, FirstSampleUpdatesWithTheCarriedStepRoundingHalfUp)
{
    // Adaptation off: the only update is sample 0's, with the carried step and the samples
    // the taps met one sample earlier (x[-1] for tap 0, x[-2] for tap 1), not x[0] = 7000.
    // Products x * step of 16384, -16384, -16385 and 16383 change a weight by 1, 0, -1, 0.
    struct Case { std::int16_t older, previous, step; std::int32_t c0, c1; int out0; };
    const Case cases[] = {
        // Sample 0 convolves with the updated weights c >> 4: 7000 * 93 -> 20, 3000 * 31 -> 3.
        {1000, 3000, 16384, 1500, 500, 1234 - 20 - 3},
        {0, 1, 16384, 1, 0, 1234}, {0, -1, 16384, 0, 0, 1234},
        {0, -16385, 1, -1, 0, 1234}, {0, 1, 16383, 0, 0, 1234},
    };
    for (const Case& c : cases) {
        SetUpState(2, 7000, 7000);
        x[-2] = c.older;
        x[-1] = c.previous;
        state->step = c.step;
        nearEnd = Constant(1234);
        EXPECT_EQ(Run(), 0);
        EXPECT_EQ(state->coefficients[0], c.c0) << c.previous << " * " << c.step;
        EXPECT_EQ(state->coefficients[1], c.c1) << c.older << " * " << c.step;
        EXPECT_EQ(output[0], c.out0) << c.previous << " * " << c.step;
    }
}

TEST_F(FilterFrameTest, WeightAndCoefficientSaturateInsteadOfWrapping)
{
    // c >> 4 = 32768 and 65536 would wrap to -32768 and 0, -32769 to +32767: the sign flips.
    struct Case { int tap; std::int32_t coefficient; std::int16_t out0; };
    for (const Case& c : {Case{0, 1 << 19, -1000}, {0, 1 << 20, -1000}, {1, -(1 << 19) - 16, 1000}}) {
        SetUpState(2);
        state->coefficients[c.tap] = c.coefficient;
        x[-c.tap] = 1000;  // what tap c.tap meets at sample 0
        Run();
        EXPECT_EQ(output[0], c.out0) << "coefficient " << c.coefficient;
    }
    // The update stops at the int32 limits: +1500 for tap 0, -1500 for tap 1.
    constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
    SetUpState(2);
    state->coefficients[0] = kMax - 10;
    state->coefficients[1] = -kMax - 1 + 10;
    x[-1] = 3000;
    x[-2] = -3000;
    state->step = 16384;
    Run();
    EXPECT_EQ(state->coefficients[0], kMax);
    EXPECT_EQ(state->coefficients[1], -kMax - 1);
}

// A plain model over one long signal: the window sum is summed afresh at every sample and
// the lag is on absolute time, so a slip in the running sum or at a frame edge shows.
struct ModelFilter {
    std::vector<std::int32_t> c;
    std::int32_t mu = 0;

    static std::int64_t Round(std::int64_t p) { return (p + 16384) >> 15; }
    static std::int64_t Clamp(std::int64_t v, std::int64_t lo, std::int64_t hi) { return std::clamp(v, lo, hi); }

    // r[-tail] .. r[0] valid; returns the error of the sample at r[0].
    std::int16_t Sample(const std::int16_t* r, std::int16_t d, int tail, int shift, int normaliser, bool adapt)
    {
        std::int64_t window = 1;
        std::int64_t acc = 0;
        for (int j = 0; j < tail; ++j) {
            window += std::abs(static_cast<int>(r[-j]));
            c[j] = static_cast<std::int32_t>(Clamp(c[j] + Round(r[-1 - j] * std::int64_t{mu}), INT32_MIN, INT32_MAX));
            acc += Round(r[-j] * Clamp(c[j] / 16 - (c[j] % 16 < 0 ? 1 : 0), -32768, 32767));
        }
        const auto e = static_cast<std::int16_t>(Clamp(d - acc, -32767, 32767));
        const bool step = window > 10000 && adapt;
        mu = step ? static_cast<std::int32_t>(Clamp((std::int64_t{e} << shift) / (window / 16) * normaliser,
                                                    -32767, 32767))
                  : 0;
        return e;
    }
};

TEST_F(FilterFrameTest, MatchesAPlainModelOverManyFrames)
{
    constexpr int kTail = 64;
    constexpr int kFrames = 40;
    const auto reference = testcaptures::Noise(kTail + kFrames * kFrameLength, 3000.0, 11);
    const auto noise = testcaptures::Noise(kFrames * kFrameLength, 30.0, 12);
    std::vector<std::int16_t> near(noise.size());  // a three-tap echo plus near-end noise
    for (std::size_t n = 0; n < near.size(); ++n) {
        const std::int16_t* r = reference.data() + kTail + n;
        near[n] = testcaptures::ClampSample(0.4 * r[-3] - 0.25 * r[-9] + 0.1 * r[-30] + noise[n]);
    }
    SetUpState(kTail);
    ModelFilter model{std::vector<std::int32_t>(kTail, 0)};
    for (int f = 0; f < kFrames; ++f) {
        // Vary the control between frames as the frame step would.
        state->adaptFlag = (f % 7 == 3) ? 0 : 1;
        state->adaptState = f < 10 ? AdaptFast : (f % 3 == 0 ? AdaptSlow : AdaptNormal);
        state->normaliser = static_cast<std::int16_t>(f < 20 ? 3 : 1);
        const std::int16_t* xf = reference.data() + kTail + f * kFrameLength;
        std::copy_n(near.begin() + f * kFrameLength, kFrameLength, nearEnd.begin());
        state->step = ec.FilterFrame(*state, nearEnd.data(), xf, output.data());
        for (std::size_t i = 0; i < output.size(); ++i) {
            ASSERT_EQ(output[i], model.Sample(xf + i, nearEnd[i], kTail, state->adaptState, state->normaliser,
                                              state->adaptFlag == 1))
                << "frame " << f << " sample " << i;
        }
        ASSERT_EQ(state->step, model.mu) << "frame " << f;
        ASSERT_TRUE(std::equal(model.c.begin(), model.c.end(), state->coefficients)) << "frame " << f;
    }
    EXPECT_GT(state->coefficients[3], Q19(8192));  // it did adapt: the main tap nears 0.4
}

}  // namespace
