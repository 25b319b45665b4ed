// The adaptive filter at its bounds: error saturation, the step from the last sample's error,
// and saturation of weights and coefficients. Its output over whole runs, the carried step and
// the one-sample lag of the update included, is pinned bit for bit by the golden tests.
#include <cstdint>
#include <limits>

#include <gtest/gtest.h>

#include "CancellerTestSupport.h"

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

}  // namespace
