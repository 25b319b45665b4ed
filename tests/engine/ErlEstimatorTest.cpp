// ERL estimator: a known loss, the block count at the edges of the capture, the strict Tx
// level window, ties between equally correlated pairs, non-finite blocks, and the gates of
// the run as predicates at their exact bounds.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "EngineTestSupport.h"
#include "engine/EchoTester.h"
#include "engine/TestThresholds.h"

namespace {

using enginetest::Alternating;
using enginetest::Place;
using enginetest::Samples;

const double kQuarterLoss = 20.0 * std::log10(4.0);  // 12.04 dB

// Tx noise at about -15 dBm0 and an Rx that is its quarter, delayed.
struct QuarterEcho {
    QuarterEcho(int count, int delay, std::uint32_t seed)
        : tx(testcaptures::Noise(count, 2848.0, seed)), rx(testcaptures::Echo(tx, delay, kQuarterLoss))
    {
    }
    Samples tx;
    Samples rx;
};

TEST(EstimateErl, MeasuresAKnownLoss)
{
    const EchoTester engine;
    const QuarterEcho capture(48000, 160, 31);
    EXPECT_NEAR(engine.EstimateErl(capture.tx.data(), capture.rx.data(), 48000, 160), kQuarterLoss, 0.05);
}

TEST(EstimateErl, NeedsMoreThan800SamplesAfterTheDelay)
{
    const EchoTester engine;
    const int delay = 37;
    const QuarterEcho capture(delay + 801, delay, 32);
    EXPECT_EQ(engine.EstimateErl(capture.tx.data(), capture.rx.data(), delay + 800, delay), 0.0);
    EXPECT_NEAR(engine.EstimateErl(capture.tx.data(), capture.rx.data(), delay + 801, delay), kQuarterLoss, 0.05);
    EXPECT_EQ(engine.EstimateErl(capture.tx.data(), capture.rx.data(), delay + 801, -1), 0.0);
}

TEST(EstimateErl, AnExactMultipleOf800LeavesTheLastPairOut)
{
    // Only the second block pair qualifies (the first Tx block is silent): 1600 samples after
    // the delay make one pair, 1601 make two.
    const EchoTester engine;
    const int delay = 50;
    QuarterEcho capture(delay + 1601, delay, 33);
    std::fill(capture.tx.begin(), capture.tx.begin() + 800, 0);
    capture.rx = testcaptures::Echo(capture.tx, delay, kQuarterLoss);
    EXPECT_EQ(engine.EstimateErl(capture.tx.data(), capture.rx.data(), delay + 1600, delay), 0.0);
    EXPECT_NEAR(engine.EstimateErl(capture.tx.data(), capture.rx.data(), delay + 1601, delay), kQuarterLoss, 0.05);
}

// One block pair: Tx alternating +-a, Rx alternating +-r, correlation exactly 1.
double ErlOfOnePair(int txAmplitude, int rxAmplitude)
{
    const Samples tx = Alternating(801, txAmplitude);
    const Samples rx = Alternating(801, rxAmplitude);
    return EchoTester().EstimateErl(tx.data(), rx.data(), 801, 0);
}

TEST(EstimateErl, OnlyTxBlocksStrictlyBetweenMinus20AndMinus10Qualify)
{
    // Alternating +-a measures 20*log10(a) - 84.0915 dB: 1601 and 1602 straddle -20 dB,
    // 5064 and 5065 straddle -10 dB, each within a few thousandths of a dB.
    const DspToolkit dsp;
    const auto level = [&](int a) { return dsp.BlockLevel(Alternating(800, a).data(), 800); };
    ASSERT_LT(level(1601), -20.0);
    ASSERT_GT(level(1601), -20.01);
    ASSERT_GT(level(1602), -20.0);
    ASSERT_LT(level(5064), -10.0);
    ASSERT_GT(level(5065), -10.0);
    ASSERT_LT(level(5065), -9.99);

    EXPECT_EQ(ErlOfOnePair(1601, 400), 0.0);
    EXPECT_NEAR(ErlOfOnePair(1602, 400), 20.0 * std::log10(1602.0 / 400.0), 1e-6);
    EXPECT_NEAR(ErlOfOnePair(5064, 1266), 20.0 * std::log10(4.0), 1e-6);
    EXPECT_EQ(ErlOfOnePair(5065, 1266), 0.0);
}

TEST(EstimateErl, TooLoudOrTooQuietTxEverywhereGivesZero)
{
    const EchoTester engine;
    for (double rms : {8000.0, 300.0}) {  // about -6 and -35 dBm0
        const Samples tx = testcaptures::Noise(16000, rms, 34);
        const Samples rx = testcaptures::Echo(tx, 10, kQuarterLoss);
        EXPECT_EQ(engine.EstimateErl(tx.data(), rx.data(), 16000, 10), 0.0) << rms;
    }
}

TEST(EstimateErl, AmongEquallyCorrelatedPairsTheEarliestWins)
{
    // Tx +-2000 (about -18 dBm0) in both blocks; Rx a quarter, then a half. Both pairs
    // correlate exactly 1 (every sum and root is exact), so the first pair's 12.04 dB stands.
    const EchoTester engine;
    const Samples tx = Alternating(1601, 2000);
    Samples rx = Alternating(1601, 500);
    Place(rx, Alternating(801, 1000), 800);
    EXPECT_NEAR(engine.EstimateErl(tx.data(), rx.data(), 1601, 0), kQuarterLoss, 1e-6);
}

TEST(EstimateErl, NonFiniteBlocksAreNeverChosen)
{
    const EchoTester engine;
    // A silent Rx block beside a qualifying Tx block correlates as NaN; the next pair wins.
    const Samples tx = Alternating(1601, 2000);
    Samples rx(1601, 0);
    Place(rx, Alternating(801, 1000), 800);
    EXPECT_NEAR(engine.EstimateErl(tx.data(), rx.data(), 1601, 0), 20.0 * std::log10(2.0), 1e-6);
    // Nor does a NaN after a good pair replace it.
    Samples goodThenSilent(1601, 0);
    Place(goodThenSilent, Alternating(800, 1000), 0);
    EXPECT_NEAR(engine.EstimateErl(tx.data(), goodThenSilent.data(), 1601, 0), 20.0 * std::log10(2.0), 1e-6);
    // A silent Tx block (-inf) never qualifies, and silence everywhere gives 0.
    const Samples silent(1601, 0);
    EXPECT_EQ(engine.EstimateErl(silent.data(), tx.data(), 1601, 0), 0.0);
    EXPECT_EQ(engine.EstimateErl(silent.data(), silent.data(), 1601, 0), 0.0);
}

// The run's decisions at their exact bounds; the estimators and the run use these.
TEST(TestThresholds, EveryGateIsStrictAndRejectsNonFiniteValues)
{
    using namespace TestThresholds;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();

    EXPECT_FALSE(QualifiesForErl(-20.0));
    EXPECT_FALSE(QualifiesForErl(-10.0));
    EXPECT_TRUE(QualifiesForErl(std::nextafter(-20.0, 0.0)));
    EXPECT_TRUE(QualifiesForErl(std::nextafter(-10.0, -20.0)));
    EXPECT_FALSE(QualifiesForErl(nan));
    EXPECT_FALSE(QualifiesForErl(-inf));

    EXPECT_FALSE(PassesErlGate(6.0));
    EXPECT_TRUE(PassesErlGate(std::nextafter(6.0, 7.0)));
    EXPECT_FALSE(PassesErlGate(0.0));
    EXPECT_FALSE(PassesErlGate(nan));
    EXPECT_TRUE(PassesErlGate(inf));

    EXPECT_FALSE(IsVoiceBlock(-50.0));
    EXPECT_TRUE(IsVoiceBlock(std::nextafter(-50.0, 0.0)));
    EXPECT_FALSE(IsVoiceBlock(-inf));
    EXPECT_FALSE(IsVoiceBlock(nan));

    EXPECT_FALSE(IsLongEnough(40000));
    EXPECT_TRUE(IsLongEnough(40001));
    EXPECT_FALSE(IsTooLong(kMaxSamples));
    EXPECT_TRUE(IsTooLong(std::int64_t{kMaxSamples} + 1));

    // N = 48000: denominator 600, so 66 active blocks are 11 percent and 65 are 10.
    EXPECT_EQ(ActivityPercent(66, 48000), 11);
    EXPECT_EQ(ActivityPercent(65, 48000), 10);
    EXPECT_TRUE(HasEnoughActivity(11));
    EXPECT_FALSE(HasEnoughActivity(10));
    EXPECT_EQ(ActivityPercent(kMaxSamples / 80, kMaxSamples), 100);

    // Delay setting 80, tail 64: 81..95 lie inside the window, 80 and 96 do not.
    EXPECT_FALSE(DelayInWindow(80, 80, 64));
    EXPECT_TRUE(DelayInWindow(81, 80, 64));
    EXPECT_TRUE(DelayInWindow(95, 80, 64));
    EXPECT_FALSE(DelayInWindow(96, 80, 64));
}

}  // namespace
