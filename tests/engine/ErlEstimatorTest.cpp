// ERL estimator: a known loss, the block count at its edges, ties and non-finite blocks; and
// the run's gates as predicates at their exact bounds.

#include "EngineTestSupport.h"

using namespace tarnwell;
using namespace tarnwell::enginetest;

namespace {

const double kQuarterLoss = 20.0 * std::log10(4.0);
const double kHalfLoss = 20.0 * std::log10(2.0);

double Erl(const Samples& tx, const Samples& rx, int delay = 0)
{
    return EchoTester().EstimateErl(tx.data(), rx.data(), static_cast<int>(tx.size()), delay);
}

TEST(EstimateErl, MeasuresAKnownLossOnlyWithMoreThan800SamplesAfterTheDelay)
{
    // Noise and its quarter 37 samples later, over span = count - delay; with a silent first
    // Tx block only the second pair can qualify, and 1600 makes one pair, not two.
    const struct {
        int span;
        bool silentFirstBlock, measured;
    } cases[] = {{800, false, false},
                 {801, false, true},
                 {1600, true, false},
                 {1601, true, true},
                 {47963, false, true}};
    for (const auto& c : cases) {
        Samples tx = testcaptures::Noise(c.span + 37, 2848.0, 31);
        if (c.silentFirstBlock) {
            std::fill(tx.begin(), tx.begin() + 800, 0);
        }
        EXPECT_NEAR(Erl(tx, testcaptures::Echo(tx, 37, kQuarterLoss), 37), c.measured ? kQuarterLoss : 0.0,
                    0.05)
            << c.span;
    }
    const Samples tx = testcaptures::Noise(1000, 2848.0, 32);
    EXPECT_EQ(Erl(tx, tx, -1), 0.0);
}

TEST(EstimateErl, TheEarliestOfEqualPairsWinsAndNonFinitePairsNever)
{
    // Tx +-2000 (about -18 dBm0); Rx blocks of a quarter, a half or silence (NaN correlation,
    // which wins neither before a good pair nor after one). A silent Tx block never qualifies.
    const Samples tx = Alternating(1601, 2000);
    Samples quarterThenHalf = Alternating(1601, 500), silentThenHalf(1601, 0), halfThenSilent(1601, 0);
    Place(quarterThenHalf, Alternating(801, 1000), 800);
    Place(silentThenHalf, Alternating(801, 1000), 800);
    Place(halfThenSilent, Alternating(800, 1000), 0);
    EXPECT_NEAR(Erl(tx, quarterThenHalf), kQuarterLoss, 1e-6);
    EXPECT_NEAR(Erl(tx, silentThenHalf), kHalfLoss, 1e-6);
    EXPECT_NEAR(Erl(tx, halfThenSilent), kHalfLoss, 1e-6);
    EXPECT_EQ(Erl(Samples(1601, 0), tx), 0.0);
}

TEST(testthresholds, TheLevelAndErlGatesAreStrictAndRejectNonFiniteValues)
{
    using namespace testthresholds;
    const double nan = std::numeric_limits<double>::quiet_NaN(),
                 inf = std::numeric_limits<double>::infinity();
    const struct {
        bool (*gate)(double);
        double value;
        bool passes;
    } cases[] = {{PassesErlGate, 6.0, false},     {PassesErlGate, std::nextafter(6.0, 7.0), true},
                 {PassesErlGate, nan, false},     {PassesErlGate, inf, true},
                 {QualifiesForErl, -20.0, false}, {QualifiesForErl, std::nextafter(-20.0, 0.0), true},
                 {QualifiesForErl, -10.0, false}, {QualifiesForErl, std::nextafter(-10.0, -20.0), true},
                 {QualifiesForErl, nan, false},   {QualifiesForErl, -inf, false},
                 {IsVoiceBlock, -50.0, false},    {IsVoiceBlock, std::nextafter(-50.0, 0.0), true},
                 {IsVoiceBlock, nan, false},      {IsVoiceBlock, -inf, false}};
    for (const auto& c : cases) {
        EXPECT_EQ(c.gate(c.value), c.passes) << "row " << (&c - cases) << " at " << c.value;
    }
    EXPECT_EQ(ActivityPercent(kMaxSamples / 80, kMaxSamples), 100)
        << "the longest capture's stays inside an int";
}

}  // namespace
