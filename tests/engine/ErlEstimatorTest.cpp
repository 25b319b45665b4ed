// ERL estimator: a known loss, the block count at the edges, ties and non-finite blocks;
// and the run's gates as predicates at their exact bounds.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "EngineTestSupport.h"
#include "engine/EchoTester.h"
#include "engine/TestThresholds.h"

using namespace tarnwell;

namespace {

using enginetest::Alternating;
using enginetest::Place;
using enginetest::Samples;

const double kQuarterLoss = 20.0 * std::log10(4.0);  // 12.04 dB

TEST(EstimateErl, MeasuresAKnownLossOnlyWithMoreThan800SamplesAfterTheDelay)
{
    // Noise at about -15 dBm0 and its quarter 37 samples later. span = count - delay; with a
    // silent first Tx block only the second pair can qualify, and 1600 makes one pair, not two.
    const struct { int span; bool silentFirstBlock; bool measured; } cases[] = {
        {800, false, false}, {801, false, true}, {1600, true, false}, {1601, true, true}, {47963, false, true}};
    const int delay = 37;
    for (const auto& c : cases) {
        Samples tx = testcaptures::Noise(c.span + delay, 2848.0, 31);
        if (c.silentFirstBlock) {
            std::fill(tx.begin(), tx.begin() + 800, 0);
        }
        const Samples rx = testcaptures::Echo(tx, delay, kQuarterLoss);
        const double erl = EchoTester().EstimateErl(tx.data(), rx.data(), c.span + delay, delay);
        EXPECT_NEAR(erl, c.measured ? kQuarterLoss : 0.0, c.measured ? 0.05 : 0.0) << c.span;
    }
    const Samples tx = testcaptures::Noise(1000, 2848.0, 32);
    EXPECT_EQ(EchoTester().EstimateErl(tx.data(), tx.data(), 1000, -1), 0.0);
}

TEST(EstimateErl, TheEarliestOfEqualPairsWinsAndNonFinitePairsNever)
{
    // Tx +-2000 (about -18 dBm0). Rx a quarter then a half: both pairs correlate exactly 1.
    const EchoTester engine;
    const Samples tx = Alternating(1601, 2000);
    Samples rx = Alternating(1601, 500);
    Place(rx, Alternating(801, 1000), 800);
    EXPECT_NEAR(engine.EstimateErl(tx.data(), rx.data(), 1601, 0), kQuarterLoss, 1e-6);

    // A silent Rx block correlates as NaN: it neither wins before a good pair nor after one.
    const double half = 20.0 * std::log10(2.0);
    Samples silentThenGood(1601, 0);
    Place(silentThenGood, Alternating(801, 1000), 800);
    EXPECT_NEAR(engine.EstimateErl(tx.data(), silentThenGood.data(), 1601, 0), half, 1e-6);
    Samples goodThenSilent(1601, 0);
    Place(goodThenSilent, Alternating(800, 1000), 0);
    EXPECT_NEAR(engine.EstimateErl(tx.data(), goodThenSilent.data(), 1601, 0), half, 1e-6);
    // A silent Tx block (-inf) never qualifies.
    const Samples silent(1601, 0);
    EXPECT_EQ(engine.EstimateErl(silent.data(), tx.data(), 1601, 0), 0.0);
}

TEST(testthresholds, TheLevelAndErlGatesAreStrictAndRejectNonFiniteValues)
{
    using namespace testthresholds;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const struct { const char* name; bool (*gate)(double); double value; bool passes; } cases[] = {
        {"erl", PassesErlGate, 6.0, false}, {"erl", PassesErlGate, std::nextafter(6.0, 7.0), true},
        {"erl", PassesErlGate, nan, false}, {"erl", PassesErlGate, inf, true},
        {"tx", QualifiesForErl, -20.0, false}, {"tx", QualifiesForErl, std::nextafter(-20.0, 0.0), true},
        {"tx", QualifiesForErl, -10.0, false}, {"tx", QualifiesForErl, std::nextafter(-10.0, -20.0), true},
        {"tx", QualifiesForErl, nan, false}, {"tx", QualifiesForErl, -inf, false},
        {"voice", IsVoiceBlock, -50.0, false}, {"voice", IsVoiceBlock, std::nextafter(-50.0, 0.0), true},
        {"voice", IsVoiceBlock, nan, false}, {"voice", IsVoiceBlock, -inf, false}};
    for (const auto& c : cases) {
        EXPECT_EQ(c.gate(c.value), c.passes) << c.name << " at " << c.value;
    }
    // The longest capture's activity stays inside an int.
    EXPECT_EQ(ActivityPercent(kMaxSamples / 80, kMaxSamples), 100);
}

}  // namespace
