// The vector tap loops against the plain one, bit for bit (outputs, step, every coefficient),
// on the integer corners and on random states and frames; and how a loop is chosen.
#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "CancellerTestSupport.h"
#include "canceller/FixedPoint.h"
#include "canceller/TapLoop.h"

using namespace tarnwell;

namespace {

using cancellertest::Frame;
using taploop::Loop;

constexpr std::int32_t kMax32 = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMin32 = std::numeric_limits<std::int32_t>::min();

// Everything one frame reads, drawn from a generator; the corner cases pin some of it.
struct FrameInputs {
    std::unique_ptr<CancellerState> state = std::make_unique<CancellerState>();
    Frame nearEnd{};
};

std::int16_t Draw16(std::mt19937& g, int lo = -32768, int hi = 32767)
{
    return static_cast<std::int16_t>(std::uniform_int_distribution<int>(lo, hi)(g));
}

// A window of noise at a random level with the odd full-scale sample, near end likewise.
void DrawSignals(std::mt19937& g, FrameInputs& in)
{
    const int level = std::uniform_int_distribution<int>(0, 15)(g);
    auto sample = [&] {
        const int pick = std::uniform_int_distribution<int>(0, 99)(g);
        return pick == 0 ? std::int16_t{-32768} : pick == 1 ? std::int16_t{32767} : Draw16(g, -(1 << level), 1 << level);
    };
    std::generate_n(in.state->history, kMaxTail + kFrameLength, sample);
    std::generate(in.nearEnd.begin(), in.nearEnd.end(), sample);
}

FrameInputs DrawFrame(std::mt19937& g, int tail)
{
    FrameInputs in;
    CancellerState& s = *in.state;
    s.tail = static_cast<std::int16_t>(tail);
    const int spread = std::uniform_int_distribution<int>(4, 24)(g);  // up to weights beyond int16
    for (std::int32_t& c : s.coefficients) {
        c = std::uniform_int_distribution<std::int32_t>(-(1 << spread), 1 << spread)(g);
    }
    s.step = Draw16(g, -32767, 32767);
    s.adaptState = static_cast<std::int16_t>(std::uniform_int_distribution<int>(AdaptSlow, AdaptFast)(g));
    s.adaptFlag = static_cast<std::int16_t>(std::uniform_int_distribution<int>(0, 3)(g) != 0);
    s.normaliser = Draw16(g, 1, 40);
    DrawSignals(g, in);
    return in;
}

class TapLoopTest : public ::testing::TestWithParam<Loop> {
protected:
    void SetUp() override
    {
        if (!taploop::Supported(GetParam())) {
            GTEST_SKIP() << "this CPU has no " << taploop::Name(GetParam());
        }
    }

    // The loop under test itself where its range check lets it run, otherwise the dispatch,
    // which must hand the frame to the plain loop.
    std::int16_t RunTested(CancellerState& state, const Frame& nearEnd, Frame& output) const
    {
        const std::int16_t* window = state.history + state.tail;
        if (!taploop::ClearOfLimits(state.coefficients, state.tail)) {
            return taploop::FilterFrame(GetParam(), ec, state, nearEnd.data(), window, output.data());
        }
        const auto loop = GetParam() == Loop::Avx512 ? taploop::FilterFrameAvx512 : taploop::FilterFrameAvx2;
        return loop(state, nearEnd.data(), window, output.data());
    }

    // Runs `frames` frames from the same start with the plain loop and with the loop under
    // test, drawing a fresh window and near end between frames; false after the first
    // difference.
    bool SameFrames(FrameInputs& in, int frames, std::mt19937& g, const std::string& what)
    {
        auto plain = std::make_unique<CancellerState>(*in.state);
        CancellerState& tested = *in.state;
        for (int f = 0; f < frames; ++f) {
            std::copy_n(tested.history, kHistoryLength, plain->history);
            Frame expected{};
            Frame actual{};
            const std::int16_t plainStep = ec.FilterFrame(*plain, in.nearEnd.data(), plain->history + plain->tail, expected.data());
            const std::int16_t testedStep = RunTested(tested, in.nearEnd, actual);
            const auto* differs = std::mismatch(plain->coefficients, plain->coefficients + kMaxTail, tested.coefficients).first;
            EXPECT_EQ(actual, expected) << what << ", frame " << f;
            EXPECT_EQ(testedStep, plainStep) << what << ", frame " << f;
            EXPECT_EQ(differs - plain->coefficients, kMaxTail) << what << ", frame " << f << ": first differing tap";
            if (::testing::Test::HasFailure()) {
                return false;
            }
            plain->step = tested.step = plainStep;
            DrawSignals(g, in);
        }
        return true;
    }

    const EchoCanceller ec;
};

TEST_P(TapLoopTest, MatchesThePlainLoopOnTheIntegerCorners)
{
    enum Fill { Random, AllMinus, FullScaleSquare };
    struct Case {
        const char* what;
        int tail;
        std::int32_t coefficient;  // every tap; 0 keeps the random ones
        Fill window;
        std::int16_t step;
    };
    const Case cases[] = {
        {"tail 0", 0, 0, Random, 1000},
        {"tail 2", 2, 0, Random, -32767},
        {"tail of 3 x 6", 18, 0, Random, 32767},
        {"tail one short of a vector", 30, 0, Random, 777},
        {"tail one over two vectors", 34, 0, Random, -5},
        {"tail 1022", 1022, 0, Random, 123},
        {"tail 1024", 1024, 0, Random, 32767},
        // -32768 meets weights saturated at -32768: the one product beyond int16.
        {"-32768 x -32768", 64, -(1 << 20), AllMinus, 0},
        {"-32768 x -32768 while adapting", 46, -(1 << 19) - 100, AllMinus, -32767},
        {"weights saturating upwards", 96, 1 << 20, FullScaleSquare, 32767},
        {"weights saturating downwards", 94, -(1 << 20), FullScaleSquare, -32767},
        // Coefficients near the int32 limits: the update saturates there.
        {"near the top limit", 66, kMax32 - 1000, FullScaleSquare, 32767},
        {"near the bottom limit", 66, kMin32 + 1000, FullScaleSquare, 32767},
        {"at the top of the vector loops' range", 32, kMax32 - 32767 * kFrameLength, FullScaleSquare, -32767},
    };
    std::mt19937 g(20);
    for (const Case& c : cases) {
        FrameInputs in = DrawFrame(g, c.tail);
        CancellerState& s = *in.state;
        s.step = c.step;
        if (c.coefficient != 0) {
            std::fill_n(s.coefficients, c.tail, c.coefficient);
        }
        for (int n = 0; n < kHistoryLength; ++n) {
            if (c.window == AllMinus) {
                s.history[n] = -32768;
            } else if (c.window == FullScaleSquare) {
                s.history[n] = (n / 4) % 2 == 0 ? 32767 : -32768;
            }
        }
        if (!SameFrames(in, 3, g, c.what)) {
            return;
        }
    }
}

TEST_P(TapLoopTest, MatchesThePlainLoopOnRandomStatesAndFrames)
{
    std::mt19937 g(7);
    for (int trial = 0; trial < 300; ++trial) {
        const int tail = 2 * std::uniform_int_distribution<int>(0, kMaxTail / 2)(g);
        FrameInputs in = DrawFrame(g, tail);
        ASSERT_TRUE(taploop::ClearOfLimits(in.state->coefficients, tail)) << "precondition: the vector loop runs";
        if (!SameFrames(in, 4, g, "trial " + std::to_string(trial) + ", tail " + std::to_string(tail))) {
            return;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(VectorLoops, TapLoopTest, ::testing::Values(Loop::Avx2, Loop::Avx512),
                         [](const auto& info) { return std::string(taploop::Name(info.param)); });

TEST(TapLoopRange, EndsWhereEightyLargestUpdatesCouldReachAnInt32Limit)
{
    // The largest update: the sample -32768 times the step -32767 (the step never reaches
    // -32768), rounded.
    const std::int32_t largest = fixedpoint::MultiplyRoundQ15(-32768, -32767);
    ASSERT_EQ(largest, -fixedpoint::MultiplyRoundQ15(-32768, 32767));
    const std::int32_t drift = largest * kFrameLength;
    const struct { std::int32_t coefficient; bool clear; } cases[] = {
        {kMax32 - drift, true}, {kMax32 - drift + 1, false}, {kMin32 + drift, true},
        {kMin32 + drift - 1, false}, {0, true}};
    for (const auto& c : cases) {
        std::int32_t taps[6] = {0, -7, 7, 0, 0, 0};
        taps[4] = c.coefficient;
        EXPECT_EQ(taploop::ClearOfLimits(taps, 6), c.clear) << c.coefficient;
        EXPECT_TRUE(taploop::ClearOfLimits(taps, 4)) << "only the first `tail` taps count";
    }
}

TEST(TapLoopChoice, NamesALoopTheCpuRunsAndOtherwiseTakesTheWidest)
{
    const Loop widest = taploop::Choose(nullptr);
    EXPECT_TRUE(taploop::Supported(widest));
    EXPECT_EQ(taploop::Choose("plain"), Loop::Plain);
    EXPECT_EQ(taploop::Choose("AVX2 please"), widest);
    for (Loop loop : {Loop::Avx2, Loop::Avx512}) {
        EXPECT_EQ(taploop::Choose(taploop::Name(loop)), taploop::Supported(loop) ? loop : widest);
        if (taploop::Supported(loop)) {
            EXPECT_NE(widest, Loop::Plain) << "a vector loop the CPU runs is preferred";
        }
    }
}

}  // namespace
