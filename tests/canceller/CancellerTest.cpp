// The canceller's frame functions at their bounds: UpdateControl's transitions, FilterFrame's
// rounding and saturation, ProcessFrame's NLP and bypass, and the vector tap loops against the
// plain one bit for bit. Whole runs are pinned by the golden tests.
#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <tuple>

#include <gtest/gtest.h>

#include "canceller/CancellerState.h"
#include "canceller/EchoCanceller.h"
#include "canceller/FixedPoint.h"
#include "canceller/TapLoop.h"

using namespace tarnwell;

namespace {

using Frame = std::array<std::int16_t, kFrameLength>;
using taploop::Loop;

// A fresh state on the heap (the record is some 22 kB).
std::unique_ptr<CancellerState> MakeState(int tail, int bulkDelay, int nlpDiff = 10, int nlpShift = 3,
                                          int nlpEnable = 1, int frozen = 0)
{
    auto state = std::make_unique<CancellerState>();
    CancellerConfig config{tail, bulkDelay, nlpEnable, nlpDiff, nlpShift, frozen};
    EchoCanceller().InitCanceller(*state, config);
    return state;
}

// value + offset everywhere, or +value, -value, ... (plus offset) when alternating.
Frame Constant(int value, bool alternating = false, int offset = 0)
{
    Frame f;
    for (std::size_t i = 0; i < f.size(); ++i) {
        f[i] = static_cast<std::int16_t>((alternating && i % 2 == 1 ? -value : value) + offset);
    }
    return f;
}

constexpr std::int32_t Q19(std::int32_t q15Weight) { return q15Weight * 16; }  // Q15 weight as coefficient

// An active, loud reference with a good or a poor residual, and a quiet near end.
constexpr std::int16_t kLoudRef = -10;
constexpr std::int16_t kQuietNear = -60;
constexpr std::int16_t kGoodError = -50;
constexpr std::int16_t kPoorError = -20;

using Fields = std::tuple<int, int, int, int>;  // mode, counter, timer, adapt state

class UpdateControlTest : public ::testing::Test {
protected:
    void Frame(std::int16_t ref, std::int16_t near, std::int16_t error, std::int16_t flag = 1)
    {
        ec.UpdateControl(*state, ref, near, error, flag);
    }
    // G, P: a loud reference with a good or a poor residual; u: a poor one at -15 dB (not
    // judged); q: a good one at -37 dB (not active); i: reference and near end quiet (idle).
    void Frames(const std::string& script)
    {
        for (char q : script) {
            const auto k = std::string("GPuqi").find(q);
            Frame(std::array<std::int16_t, 5>{kLoudRef, kLoudRef, -15, -37, -38}[k],
                  k == 4 ? -41 : kQuietNear, k == 1 || k == 2 ? kPoorError : kGoodError);
        }
    }
    void Start(std::int16_t mode, std::int16_t timer = 8000, std::int16_t counter = 0)
    {
        state = std::make_unique<CancellerState>(
            CancellerState{.convergeTimer = timer, .mode = mode, .modeCounter = counter});
    }

    Fields After() const
    {
        return {state->mode, state->modeCounter, state->convergeTimer, state->adaptState};
    }

    EchoCanceller ec;
    std::unique_ptr<CancellerState> state;
};

TEST_F(UpdateControlTest, ActivityAndQualityBoundaries)
{
    struct Case {
        std::int16_t mode, timer, counter, ref, near, error, flag;
        Fields after;
    };
    constexpr std::int16_t kGood = kGoodError, kNear = kQuietNear, kTrain = ModeTraining;
    const Case cases[] = {
        // Activity: -37 does not wake it, nor send it to hold or to idle; -40 changes nothing.
        {ModeIdle, 0, 3, -37, kNear, kGood, 1, {ModeIdle, 3, 0, AdaptNormal}},
        {kTrain, 0, 3, -37, -20, kGood, 1, {kTrain, 3, 0, AdaptNormal}},
        {ModeConverged, 0, 3, -37, -80, kGood, 1, {ModeConverged, 3, 0, AdaptNormal}},
        {ModeHold, 0, 3, -37, -80, kGood, 1, {ModeHold, 3, 0, AdaptSlow}},
        {ModeIdle, 0, 3, -36, kNear, kGood, 1, {kTrain, 3, 80, AdaptFast}},
        {ModeIdle, 0, 3, -36, kNear, kGood, 0, {kTrain, 3, 80, AdaptSlow}},  // flag 0: slow after it
        {ModeConverged, 0, 3, -38, -40, kGood, 1, {ModeConverged, 3, 0, AdaptNormal}},
        {kTrain, 0, 3, -38, -39, kGood, 1, {ModeHold, 3, 0, AdaptSlow}},
        {ModeConverged, 0, 3, -38, -41, kGood, 1, {ModeIdle, 0, 0, AdaptNormal}},
        // Quality, the timer full: a fixed bound when loud, 20 dB below a quieter reference.
        {kTrain, 8000, 0, -14, kNear, -35, 1, {kTrain, -1, 8000, AdaptNormal}},
        {kTrain, 8000, 0, -14, kNear, -34, 1, {kTrain, 1, 8000, AdaptSlow}},
        {kTrain, 8000, 0, -16, kNear, -36, 1, {kTrain, -1, 8000, AdaptNormal}},
        {kTrain, 8000, 0, -16, kNear, -35, 1, {kTrain, 1, 8000, AdaptSlow}},
        {kTrain, 8000, 0, -36, kNear, -56, 1, {kTrain, -1, 8000, AdaptNormal}},
        {kTrain, 8000, 0, -36, kNear, -55, 1, {kTrain, 1, 8000, AdaptSlow}},
        {kTrain, 8000, 0, -15, kNear, 0, 1, {kTrain, 0, 8000, AdaptNormal}},  // -15: not judged
        {kTrain, 8000, 0, -15, kNear, -100, 1, {kTrain, 0, 8000, AdaptNormal}},
        {kTrain, 8000, 0, -14, kNear, -35, 0, {kTrain, -1, 8000, AdaptSlow}},  // flag 0: counted, then slow
    };
    for (const Case& c : cases) {
        Start(c.mode, c.timer, c.counter);
        Frame(c.ref, c.near, c.error, c.flag);
        EXPECT_EQ(After(), c.after) << "row " << (&c - cases);
    }
}

std::string Repeat(const std::string& part, int times)
{
    std::string whole;
    for (int i = 0; i < times; ++i) {
        whole += part;
    }
    return whole;
}

TEST_F(UpdateControlTest, ScriptsOfFramesFillTheTimerConvergeRestartTrainingAndHold)
{
    constexpr std::int16_t kTrain = ModeTraining, kConverged = ModeConverged;
    const std::tuple<std::int16_t, std::int16_t, std::int16_t, std::string, Fields> cases[] = {
        // Before the timer is full, poor and unjudged frames alike only advance it, fast for its first half.
        {ModeIdle, 0, 0, Repeat("Pu", 25), {kTrain, 0, 4000, AdaptFast}},
        {ModeIdle, 0, 0, Repeat("Pu", 25) + "P", {kTrain, 0, 4080, AdaptNormal}},
        {ModeIdle, 0, 0, Repeat("Pu", 50), {kTrain, 0, 8000, AdaptNormal}},
        {ModeIdle, 0, 0, Repeat("Pu", 50) + "P", {kTrain, 1, 8000, AdaptSlow}},
        {kTrain, 8000, 0, "GGPGGG", {kTrain, -4, 8000, AdaptNormal}},
        {kTrain, 8000, 0, "GGPGGGG", {kConverged, 0, 8000, AdaptNormal}},
        {kTrain, 8000, 0, "PPGPPP", {kTrain, 4, 8000, AdaptSlow}},
        {kTrain, 8000, 0, "PPGPPPP", {kTrain, 0, 80, AdaptFast}},  // training again from an empty timer
        {kConverged,
         8000,
         0,
         "PPPPGPPPP",
         {kConverged, 4, 8000, AdaptSlow}},  // the good frame restarts the count
        {kConverged, 8000, 0, "PPPPGPPPPP", {ModeHold, 5, 8000, AdaptSlow}},
        // Hold, however good the cancellation, while the reference is active; a poor frame in hold
        // clears the counter; training again from idle is judged at once: the timer is kept.
        {ModeHold, 8000, 5, Repeat("Gq", 10), {ModeHold, 5, 8000, AdaptSlow}},
        {ModeHold, 8000, 5, "P", {ModeHold, 0, 8000, AdaptSlow}},
        {ModeHold, 8000, 5, "PiP", {kTrain, 1, 8000, AdaptSlow}},
    };
    for (const auto& [mode, timer, counter, script, after] : cases) {
        Start(mode, timer, counter);
        Frames(script);
        EXPECT_EQ(After(), after) << script;
    }
}

// FilterFrame on a state of the given tail whose window x[-tail] .. x[79] holds a, b, a, ...
class FilterFrameTest : public ::testing::Test {
protected:
    void SetUpState(int tail, std::int16_t a = 0, std::int16_t b = 0)
    {
        state = MakeState(tail, 0);
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
    Frame nearEnd{};
    Frame output{};
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
    struct Case {
        int tail;
        std::int16_t a, b, error, shift, normaliser, flag, step;
    };
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
    for (auto [tap, coefficient, out0] :
         {std::tuple{0, 1 << 19, -1000}, {0, 1 << 20, -1000}, {1, -(1 << 19) - 16, 1000}}) {
        SetUpState(2);
        state->coefficients[tap] = coefficient;
        x[-tap] = 1000;  // what the tap meets at sample 0
        Run();
        EXPECT_EQ(output[0], out0) << "coefficient " << coefficient;
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

// A two-tap filter with w0 given, against a constant reference R and a near end of R/2 +- 10.
// With w0 = 1/2 the echo goes and +-10 is left; levels for R = 4000, 370, 310: reference
// -18, -39, -40, near end -24, -45, -46, residual -70. The window sum stays below the step
// bound, so the weights never move.
TEST_F(ProcessFrameTest, NlpBypassAndReporting)
{
    struct Case {
        int ref, weight, nlpDiff, nlpShift, nlpEnable, mode, even, odd;
        double cancellation;
        int valid;
    };
    const Case cases[] = {
        {4000, 16384, 45, 3, 1, ModeIdle, 1, -2, 46.0, 1},    // arithmetic shift: -10 >> 3 = -2
        {4000, 16384, 46, 3, 1, ModeIdle, 10, -10, 46.0, 1},  // -70 is not below -24 - 46
        {4000, 16384, 10, 0, 1, ModeIdle, 10, -10, 46.0, 1},
        {4000, 16384, 10, 3, 0, ModeIdle, 10, -10, 0.0, 1},       // the control saw the unmultiplied flag
        {4000, 16384, 10, 3, 1, ModeHold, 1, -2, 46.0, 0},        // AdaptSlow: not reported
        {370, 16384, 10, 3, 1, ModeIdle, 1, -2, 25.0, 1},         // reference -39: NLP
        {310, 16384, 10, 3, 1, ModeIdle, 10, -10, 0.0, 1},        // reference -40: none, nothing measured
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

TEST_F(ProcessFrameTest, FrozenWeightsStayWhileTheNlpGoesOn)
{
    // Echo alone at half the reference, a weight that takes off 6 dB of it and an NLP that acts
    // from 3 dB: an unfrozen canceller moves its weights at once, also
    // through the step carried in from the frame before; a frozen one keeps every weight, and
    // its NLP still acts on the frame.
    for (auto [frozenByConfig, frozenLater, weightsMove] :
         {std::tuple{false, false, true}, {true, false, false}, {false, true, false}}) {
        SCOPED_TRACE(::testing::Message() << frozenByConfig << frozenLater);
        state = MakeState(64, 0, 3, 3, 1, frozenByConfig ? 1 : 0);
        state->coefficients[0] = Q19(8192);  // a quarter: cancels half the echo
        Process(Constant(2000, true), Constant(4000, true));
        if (frozenLater) {
            ec.FreezeAdaptation(*state, true);
        }
        std::array<std::int32_t, 64> before{};
        std::copy_n(state->coefficients, before.size(), before.begin());
        Process(Constant(2000, true), Constant(4000, true));
        EXPECT_EQ(!std::equal(before.begin(), before.end(), state->coefficients), weightsMove);
        EXPECT_EQ(state->adaptFlag, 1);  // the NLP's flag, frozen or not
        EXPECT_EQ(report.nlpActed, 1);
    }
}

constexpr std::int32_t kMax32 = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMin32 = std::numeric_limits<std::int32_t>::min();

struct FrameInputs {
    std::unique_ptr<CancellerState> state = std::make_unique<CancellerState>();
    Frame nearEnd{};
};

std::int16_t Draw16(std::mt19937& g, int lo, int hi)
{
    return static_cast<std::int16_t>(std::uniform_int_distribution<int>(lo, hi)(g));
}

// A window of noise at a random level with the odd full-scale sample, near end likewise.
void DrawSignals(std::mt19937& g, FrameInputs& in)
{
    const int level = std::uniform_int_distribution<int>(0, 15)(g);
    auto sample = [&] {
        const int pick = std::uniform_int_distribution<int>(0, 99)(g);
        return pick == 0   ? std::int16_t{-32768}
               : pick == 1 ? std::int16_t{32767}
                           : Draw16(g, -(1 << level), 1 << level);
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
            Frame expected{}, actual{};
            const std::int16_t plainStep = ec.FilterFrame(*plain, in.nearEnd.data(),
                                                          plain->history + plain->tail, expected.data());
            const std::int16_t testedStep = RunTested(tested, in.nearEnd, actual);
            const auto* differs =
                std::mismatch(plain->coefficients, plain->coefficients + kMaxTail, tested.coefficients).first;
            EXPECT_EQ(actual, expected) << what << ", frame " << f;
            EXPECT_EQ(testedStep, plainStep) << what << ", frame " << f;
            EXPECT_EQ(differs - plain->coefficients, kMaxTail)
                << what << ", frame " << f << ": first differing tap";
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
    enum Fill { Random, AllMinus, FullScaleSquare, OldestMinus };
    struct Case {
        const char* what;
        int tail;
        std::int32_t coefficient;
        Fill window;
        std::int16_t step;
    };
    const Case cases[] = {
        {"tail 0", 0, 0, Random, 1000},
        {"tail 2", 2, 0, Random, -32767},
        {"tail of 3 x 6", 18, 0, Random, 32767},
        {"tail one short of a vector", 30, 0, Random, 777},
        {"tail one over two vectors", 34, 0, Random, -5},
        // x[-tail], the last tap's sample one step back, -32768 at the masked loads' far edge.
        {"tail 2, oldest -32768", 2, 0, OldestMinus, -32767},
        {"tail 18, oldest -32768", 18, 0, OldestMinus, 32767},
        {"tail 1024, oldest -32768", 1024, 0, OldestMinus, -32767},
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
        if (c.coefficient != 0) {  // every tap; 0 keeps the random ones
            std::fill_n(s.coefficients, c.tail, c.coefficient);
        }
        for (int n = 0; n < kHistoryLength && (c.window == AllMinus || c.window == FullScaleSquare); ++n) {
            s.history[n] = c.window == AllMinus || (n / 4) % 2 == 1 ? -32768 : 32767;
        }
        if (c.window == OldestMinus) {
            s.history[0] = -32768;  // the window starts at history + tail
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
        ASSERT_TRUE(taploop::ClearOfLimits(in.state->coefficients, tail))
            << "precondition: the vector loop runs";
        if (!SameFrames(in, 4, g, "trial " + std::to_string(trial) + ", tail " + std::to_string(tail))) {
            return;
        }
    }
}

TEST(TapLoopCheck, AMismatchNamesTheLoopTheFrameAndTheFirstDifference)
{
    Frame output{}, plainOutput{};
    std::array<std::int32_t, kMaxTail> coefficients{}, plainCoefficients{};
    const auto check = [&] {
        taploop::RequireSameFrame("avx2", 41, {output.data(), 0, coefficients.data()},
                                  {plainOutput.data(), 0, plainCoefficients.data()});
    };
    check();  // the same frame passes
    output[79] = 1;
    EXPECT_DEATH(check(), "avx2 tap loop differs from the plain loop at frame 41 of this thread: "
                          "output\\[79\\] is 1, the plain loop's 0");
    output = {}, coefficients[1023] = 1;
    EXPECT_DEATH(check(), "coefficients\\[1023\\] is 1, the plain loop's 0");
}

#ifdef TARNWELL_FIXED_DEBUG
// The checked build: an operand or a result out of its range names the caller and aborts.
TEST(FixedPointCheck, AnOperandOutOfRangeNamesTheCallersLine)
{
    const std::int64_t wide16 = 32768;
    const std::int64_t wide32 = std::int64_t{1} << 31;
    EXPECT_EQ(fixedpoint::Magnitude(-32768), 32768) << "the ends of the range pass";
    EXPECT_EQ(fixedpoint::SaturatingAdd32(kMax32, kMin32), -1);
    EXPECT_DEATH(fixedpoint::MultiplyRoundQ15(wide16, 1),
                 "CancellerTest.cpp:[0-9]+: MultiplyRoundQ15: a 32768 is outside -32768..32767");
    EXPECT_DEATH(fixedpoint::Magnitude(-wide16 - 1), "CancellerTest.cpp:[0-9]+: Magnitude: x -32769");
    EXPECT_DEATH(fixedpoint::SaturateInt16(wide32),
                 "SaturateInt16: v 2147483648 is outside -2147483648..2147483647");
}
#endif

// The dispatch's range check and the normaliser's peak scan: one value planted at the last
// counted place, past it, or at the start, on an in-range background.
TEST_P(TapLoopTest, RangeCheckAndPeakScanMatchThePlainForms)
{
    const bool avx512 = GetParam() == Loop::Avx512;
    const auto clearOfLimits = avx512 ? taploop::ClearOfLimitsAvx512 : taploop::ClearOfLimitsAvx2;
    const auto peakMagnitude = avx512 ? taploop::PeakMagnitudeAvx512 : taploop::PeakMagnitudeAvx2;
    std::mt19937 g(11);

    constexpr std::int32_t kHigh = taploop::kHighestClear, kLow = taploop::kLowestClear;
    // Tail, tap, value, clear.
    const std::tuple<int, int, std::int32_t, bool> limits[] = {
        {0, 0, kMax32, true},   {16, 15, kHigh, true},      {16, 15, kHigh + 1, false},
        {18, 17, kLow, true},   {18, 17, kLow - 1, false},  {18, 18, kMin32, true},
        {30, 0, kMax32, false}, {34, 33, kHigh + 1, false}, {1024, 1023, kMin32, false}};
    for (auto [tail, at, value, clear] : limits) {
        std::array<std::int32_t, kMaxTail + 32> coefficients{};
        std::ranges::generate(coefficients,
                              [&] { return std::uniform_int_distribution<std::int32_t>(kLow, kHigh)(g); });
        coefficients[static_cast<std::size_t>(at)] = value;
        EXPECT_EQ(std::pair(taploop::ClearOfLimits(coefficients.data(), tail),
                            clearOfLimits(coefficients.data(), tail)),
                  std::pair(clear, clear))
            << "plain, vector; tail " << tail << ", tap " << at;
    }

    // Count, place, value.
    const std::tuple<int, int, std::int16_t> peaks[] = {
        {0, 0, -32768},   {15, 15, -32768},
        {17, 16, 1500},   {81, 80, -32768},
        {81, 81, -32768}, {90, 89, -2000},
        {96, 95, -32768}, {96, 96, -32768},
        {100, 0, 32767},  {kHistoryLength, kHistoryLength - 1, -1001},
    };
    for (auto [count, at, value] : peaks) {
        std::array<std::int16_t, kHistoryLength + 32> samples{};
        std::ranges::generate(samples, [&] { return Draw16(g, -999, 999); });
        samples[static_cast<std::size_t>(at)] = value;
        const std::int32_t plain = taploop::PeakMagnitude(samples.data(), count);
        if (at < count) {
            EXPECT_EQ(plain, value < 0 ? -std::int32_t{value} : value) << "count " << count;
        } else {
            EXPECT_LT(plain, 1000) << "count " << count << ": counted past its end";
        }
        EXPECT_EQ(peakMagnitude(samples.data(), count), plain) << "count " << count << ", sample " << at;
    }
}

INSTANTIATE_TEST_SUITE_P(VectorLoops, TapLoopTest, ::testing::Values(Loop::Avx2, Loop::Avx512),
                         [](const auto& info) { return std::string(taploop::Name(info.param)); });

}  // namespace
