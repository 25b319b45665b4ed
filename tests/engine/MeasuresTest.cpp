// The measures under the run: the delay estimator, the ERL estimator, the input filters, the
// level kernels and the pass statistics, each at its bounds.

#include "EngineTestSupport.h"

using namespace tarnwell;
using namespace tarnwell::enginetest;

namespace {

// Echo delay estimator: known delays of either sign, the loudest upper-band window, ties
// (earliest window, smallest lag) and captures with no window at all.

constexpr int kCount = 48000;
const EchoTester engine;

int Loudest(const Samples& tx, int count = kCount)
{
    DelayTemplate segment{};
    return engine.FindLoudestSegment(tx.data(), count, segment);
}

TEST(EstimateDelay, FindsAKnownDelayOfEitherSignAndTheSmallestOfEqualLags)
{
    const Samples tx = testcaptures::Noise(kCount, 2848.0, 21);
    for (int delay : {1, 37, 1799, -250}) {  // negative: an inverted echo at 250
        Samples rx = testcaptures::Echo(tx, std::abs(delay), 9.0);
        std::ranges::transform(rx, rx.begin(),
                               [&](std::int16_t s) { return std::int16_t(delay < 0 ? -s : s); });
        EXPECT_EQ(engine.EstimateDelay(rx.data(), tx.data(), kCount), std::abs(delay));
    }
    // The loudest window twice in a silent Rx: two exactly equal correlations of 1.
    DelayTemplate segment{};
    const int origin = engine.FindLoudestSegment(tx.data(), kCount, segment);
    ASSERT_GT(origin, 0);
    Samples rx(kCount, 0);
    Place(rx, Samples(segment.begin(), segment.end()), origin + 1200);
    Place(rx, Samples(segment.begin(), segment.end()), origin + 300);
    EXPECT_EQ(engine.EstimateDelay(rx.data(), tx.data(), kCount), 300);
}

TEST(EstimateDelay, ASecondPeakMustLieMoreThanEightLagsFromTheFirst)
{
    // White Tx, its echo at 300 and a weaker one `offset` lags away: the lag curve has the
    // two peaks and chance correlations (about 0.04 over 600 samples) everywhere else.
    const Samples tx = testcaptures::Noise(kCount, 2848.0, 21);
    for (auto [offset, counted] : {std::pair{8, false}, {9, true}, {-8, false}, {-9, true}}) {
        const Samples near = testcaptures::Echo(tx, 300, 6.0);
        const Samples far = testcaptures::Echo(tx, 300 + offset, 12.0);
        Samples rx(near.size());
        std::ranges::transform(near, far, rx.begin(),
                               [](std::int16_t a, std::int16_t b) { return std::int16_t(a + b); });
        DelaySearchRecord record;
        ASSERT_EQ(engine.EstimateDelay(rx.data(), tx.data(), kCount, &record), 300) << offset;
        EXPECT_EQ(std::pair(record.secondLag == 300 + offset, record.second > 0.3),
                  std::pair(counted, counted))
            << "offset " << offset << ", second " << record.second << " at " << record.secondLag;
    }
}

TEST(FindLoudestSegment, ShortOrSilentCapturesHaveNoWindow)
{
    // The first window exists from 7199 samples on: start 3599, bound 7199 - 1799 - 1800 = 3600.
    Samples tx = testcaptures::Noise(kCount, 2848.0, 25);
    DelayTemplate segment{};
    segment.fill(77);
    EXPECT_EQ(engine.FindLoudestSegment(tx.data(), 7198, segment), 0);
    EXPECT_EQ(std::ranges::count(segment, 77), kSegmentLength) << "written without a window";
    EXPECT_EQ(Loudest(tx, 0), 0);
    EXPECT_EQ(Loudest(tx, 7199), 3599);
    EXPECT_EQ(engine.EstimateDelay(tx.data(), tx.data(), 7198), 0);
    EXPECT_EQ(engine.EstimateDelay(tx.data(), tx.data(), kCount), 0) << "an echo at lag 0 reads as none";
    // Silent from a little before the middle (the filter rung out) to the end of the third
    // quarter: no window, though the rest of the capture is loud.
    std::fill(tx.begin() + kCount / 2 - 2000, tx.begin() + kCount * 3 / 4, 0);
    EXPECT_EQ(Loudest(tx), 0);
}

TEST(FindLoudestSegment, OnlyTheUpperBandLevelDecidesAndTheEarliestOfEqualWindowsWins)
{
    // 300 Hz at -20 dBm0 filters to digital silence; 1000 Hz at 0 dBm0 to about -83 dBm0,
    // above the -100 dB floor.
    EXPECT_EQ(Loudest(Tone(kCount, 300.0, 2265.1)), 0);
    EXPECT_GE(Loudest(Tone(kCount, 1000.0, 22651.0)), kCount / 2);
    // A loud burst below the band loses to a quieter one inside it.
    Samples tx(kCount, 0);
    Place(tx, Tone(600, 500.0, 30000.0), 27000);
    Place(tx, Tone(600, 2500.0, 3000.0), 30000);
    EXPECT_EQ(Loudest(tx), 30000);

    // 2000 Hz has a period of 4 samples: once the filter has settled, every window (300
    // apart) holds the same filtered samples and measures exactly the same.
    const Samples tone = Tone(kCount, 2000.0, 8000.0, 0.785398163397448);
    Samples filtered(kCount, 0);
    engine.UpperBandFilter(tone.data(), filtered.data(), kCount);
    const auto first = filtered.begin() + kCount / 2;
    DelayTemplate segment{};
    EXPECT_EQ(engine.FindLoudestSegment(tone.data(), kCount, segment), kCount / 2);
    EXPECT_TRUE(std::equal(segment.begin(), segment.end(), tone.begin() + kCount / 2))
        << "the unfiltered samples";
    EXPECT_FALSE(std::equal(segment.begin(), segment.end(), first));
}

// ERL estimator: a known loss, the block count at its edges, ties and non-finite blocks; and
// the run's gates as predicates at their exact bounds.

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
    const std::tuple<int, bool, bool> cases[] = {{800, false, false},
                                                 {801, false, true},
                                                 {1600, true, false},
                                                 {1601, true, true},
                                                 {47963, false, true}};
    for (auto [span, silentFirstBlock, measured] : cases) {
        Samples tx = testcaptures::Noise(span + 37, 2848.0, 31);
        std::fill_n(tx.begin(), silentFirstBlock ? 800 : 0, 0);
        EXPECT_NEAR(Erl(tx, testcaptures::Echo(tx, 37, kQuarterLoss), 37), measured ? kQuarterLoss : 0.0,
                    0.05)
            << span;
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
    const std::tuple<bool (*)(double), double, bool> cases[] = {
        {PassesErlGate, 6.0, false},     {PassesErlGate, std::nextafter(6.0, 7.0), true},
        {PassesErlGate, nan, false},     {PassesErlGate, inf, true},
        {QualifiesForErl, -20.0, false}, {QualifiesForErl, std::nextafter(-20.0, 0.0), true},
        {QualifiesForErl, -10.0, false}, {QualifiesForErl, std::nextafter(-10.0, -20.0), true},
        {QualifiesForErl, nan, false},   {QualifiesForErl, -inf, false},
        {IsVoiceBlock, -50.0, false},    {IsVoiceBlock, std::nextafter(-50.0, 0.0), true},
        {IsVoiceBlock, nan, false},      {IsVoiceBlock, -inf, false}};
    for (const auto& [gate, value, passes] : cases) {
        EXPECT_EQ(gate(value), passes) << "at " << value;
    }
    EXPECT_EQ(ActivityPercent(kMaxSamples / 80, kMaxSamples), 100)
        << "the longest capture's stays inside an int";
}

// Input filters: no state between calls, nothing written for an empty count, in part the same
// samples, saturation at both ends. Their exact outputs are pinned by the golden filter edges,
// the pair form's by every golden run with the high-pass filter on.

using Filter = void (DspToolkit::*)(const std::int16_t*, std::int16_t*, int) const;

// The filter over the first count samples of in, into a buffer pre-filled with 1234.
Samples Filtered(Filter filter, const Samples& in, int count = -2)
{
    Samples out(in.size(), 1234);
    (DspToolkit().*filter)(in.data(), out.data(), count == -2 ? static_cast<int>(in.size()) : count);
    return out;
}

TEST(InputFilters, StartFromRestWriteNothingForAnEmptyCountAndGiveTheSameSamplesInPart)
{
    const Samples noise = testcaptures::Noise(4000, 5000.0, 3);
    for (Filter filter : {&DspToolkit::HighPassFilter, &DspToolkit::UpperBandFilter}) {
        const Samples first = Filtered(filter, noise);
        EXPECT_EQ(Filtered(filter, noise), first);
        EXPECT_EQ(Filtered(filter, Samples(300, 0)), Samples(300, 0));  // silent after loud
        EXPECT_EQ(Filtered(filter, noise, 0), Samples(4000, 1234));
        EXPECT_EQ(Filtered(filter, noise, -1), Samples(4000, 1234));
    }
    const Samples whole = Filtered(&DspToolkit::UpperBandFilter, noise);
    for (auto [first, end] : {std::pair{0, 4000}, {1500, 2600}, {3999, 4000}, {2000, 2000}}) {
        Samples part(4000, 1234);
        DspToolkit().UpperBandFilter(noise.data(), part.data(), first, end);
        Samples expected(whole.begin() + first, whole.begin() + end);
        expected.resize(4000, 1234);  // nothing stored past end - first
        EXPECT_EQ(part, expected) << first << ".." << end;
    }
}

// A full-scale edge of 65535 makes the high-pass overshoot to about 0.855 * 65535 = 56000, and
// 0.591 * 65535 = 38700 next: saturated, the edge keeps its sign; wrapped, it would flip. By
// linearity the third output is 65.535 times the third of a step of 1000 (374), about 24510;
// a history holding the clipped 32767 instead of the true 56000 would be thousands away.
TEST(InputFilters, SaturateAtBothEndsAndKeepTheUnroundedHistory)
{
    Samples in(9000, -32768);
    std::fill(in.begin() + 3000, in.begin() + 6000, 32767);
    const Samples out = Filtered(&DspToolkit::HighPassFilter, in);
    for (int edge : {3000, 6000}) {
        const int sign = edge == 3000 ? 1 : -1;
        EXPECT_EQ(out[edge], sign > 0 ? 32767 : -32768);
        EXPECT_EQ(out[edge + 1], sign > 0 ? 32767 : -32768);
        EXPECT_NEAR(out[edge + 2], sign * 24510, 40);
    }
}

// The level and correlation measures against their plain double loops, bit for bit (the
// vectorised divisions and integer sums must give the reference's every bit), and the level
// on its dBm0 scale against known tones.

// The measures as first written: every term divided before it is added, every sum a double.
double ReferenceLevel(const Samples& x)
{
    const double n = static_cast<double>(x.size());
    double mean = 0.0, meanSquare = 0.0;
    for (const std::int32_t v : x) {
        mean += v / n;
        meanSquare += static_cast<double>(v * v) / n;
    }
    return 10.0 * std::log((meanSquare - mean * mean) * 3.89807986822619e-9) / std::log(10.0);
}

double ReferenceCorrelation(const Samples& a, const Samples& b)
{
    double sff = 0.0, sss = 0.0, sfs = 0.0;
    const double n = static_cast<double>(a.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        sff += double(a[i]) * a[i];
        sss += double(b[i]) * b[i];
        sfs += double(a[i]) * b[i];
    }
    return sfs / ((std::sqrt(sss / n) * std::sqrt(sff / n)) * n);
}

// Kinds: full-range noise, both extremes, near silence, a constant.
Samples Block(std::size_t length, int kind, std::uint32_t seed)
{
    std::mt19937 random(seed);
    Samples x(length);
    for (std::size_t i = 0; i < length; ++i) {
        const int values[] = {static_cast<std::int16_t>(random()), i % 2 == 0 ? -32768 : 32767,
                              static_cast<int>(random() % 7) - 3, -32768};
        x[i] = static_cast<std::int16_t>(values[kind]);
    }
    return x;
}

TEST(LevelKernel, LevelAndCorrelationMatchTheirPlainLoopsBitForBit)
{
    const auto bits = [](double d) { return std::bit_cast<std::uint64_t>(d); };
    const DspToolkit dsp;
    for (const std::size_t length : {1u, 3u, 80u, 255u, 256u, 257u, 600u, 800u, 1000u}) {
        for (int kind = 0; kind < 4; ++kind) {
            for (std::uint32_t seed = 1; seed <= 4; ++seed) {
                SCOPED_TRACE(::testing::Message()
                             << "length " << length << ", kind " << kind << ", seed " << seed);
                const auto a = Block(length, kind, seed);
                const auto b = Block(length, seed % 4 == 0 ? 0 : kind, seed + 100);
                const int n = static_cast<int>(length);
                EXPECT_EQ(bits(dsp.BlockLevel(a.data(), n)), bits(ReferenceLevel(a)));
                double first = 0.0, second = 0.0;
                dsp.BlockLevelPair(a.data(), b.data(), n, first, second);
                EXPECT_EQ(bits(first), bits(ReferenceLevel(a)));
                EXPECT_EQ(bits(second), bits(ReferenceLevel(b)));
                EXPECT_EQ(bits(dsp.BlockCorrelation(a.data(), b.data(), n)),
                          bits(ReferenceCorrelation(a, b)));
            }
        }
    }
}

TEST(LevelKernel, ReadsKnownTonesOnTheDbm0ScaleAndNoSamplesAsMinusInfinity)
{
    const DspToolkit dsp;
    // 100 Hz: 800 samples are ten whole periods.
    EXPECT_NEAR(dsp.BlockLevel(Tone(800, 100.0, 32767.0).data(), 800), 3.2070, 5e-5);
    EXPECT_NEAR(dsp.BlockLevel(Tone(800, 100.0, 22651.0).data(), 800), 0.0, 5e-3);
    EXPECT_EQ(dsp.BlockLevel(Samples(800, 7).data(), 0), -std::numeric_limits<double>::infinity());
    EXPECT_EQ(dsp.BlockLevel(Samples(800, 7).data(), -5), -std::numeric_limits<double>::infinity());
}

// The pass's statistics at their thresholds, in two tables: the counted frames with the
// residual verdict, and the level averages with theirs.

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

bool Same(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

TEST(PassStatistics, CountsValidFramesAboveTwoDecibelsAndJudgesTheResidual)
{
    struct Case {
        std::vector<FrameReport> frames;
        int nlpDiff, counted;
        double cancellation, residual;
        int ok;
    };
    const Case cases[] = {
        // Exactly 2 dB, not valid, or not a number: nothing counts, zeros and no verdict.
        {{{1, 2.0, -60.0}, {0, 30.0, -60.0}, {1, kNaN, -60.0}}, 0, 0, 0.0, 0.0, 0},
        {{{1, 3.0, -60.0}, {0, 30.0, -90.0}, {1, 5.0, -70.0}}, 3, 2, 4.0, -65.0, 1},
        {{{1, 7.0, -60.0}}, 6, 1, 7.0, -60.0, 1},
        {{{1, 6.0, -60.0}}, 6, 1, 6.0, -60.0, 0},  // equal to the NLP threshold: not above
        {{{1, 7.0, -50.0}}, 6, 1, 7.0, -50.0, 0},  // -50 is not below -50
        {{{1, 7.0, -kInf}}, 6, 1, 7.0, -kInf, 1},
        {{{1, 7.0, kNaN}}, 6, 1, 7.0, kNaN, 1},  // not a number counts as below
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "row " << (&c - cases));
        PassStatistics stats;
        TestResults results;
        for (const FrameReport& frame : c.frames) {
            stats.CountFrame(frame, results);
        }
        EXPECT_EQ(stats.countedFrames, c.counted);
        TestSettings settings;
        settings.nlpDiff = c.nlpDiff;
        stats.Finish(settings, results);
        EXPECT_TRUE(Same(results.cancellation, c.cancellation)) << results.cancellation;
        EXPECT_TRUE(Same(results.residualLevel, c.residual)) << results.residualLevel;
        EXPECT_EQ(results.residualOk, c.ok);
    }
}

TEST(PassStatistics, AveragesSpeechLevelsOverMoreThanTenBlocksAndJudgesThem)
{
    // Every row also offers each side a block at -40 dBm0, one at -inf and one that is not a
    // number: none of them is speech, so none may count or move an average.
    struct Case {
        int txBlocks;
        double tx;
        int rxBlocks;
        double rx;
        double txLevel, rxLevel;
        int ok;
    };
    const Case cases[] = {
        {10, -20.0, 500, -25.0, 0.0, 0.0, 0},    {500, -20.0, 10, -25.0, 0.0, 0.0, 0},
        {11, -20.0, 11, -25.0, -20.0, -25.0, 1}, {20, -20.0, 20, -25.75, -20.0, -25.75, 1},
        {20, -20.0, 20, -26.0, -20.0, -26.0, 0},  // Tx 6 dB above Rx
        {20, -3.0, 20, -5.0, -3.0, -5.0, 0},     {20, -3.5, 20, -5.0, -3.5, -5.0, 1},
        {20, -39.5, 20, -39.0, -39.5, -39.0, 1}, {20, -20.0, 20, -10.0, -20.0, -10.0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "row " << (&c - cases));
        PassStatistics stats;
        for (const double level : {-40.0, -kInf, kNaN}) {
            stats.AddTxLevel(level);
            stats.AddRxLevel(level);
        }
        for (int i = 0; i < c.txBlocks; ++i) {
            stats.AddTxLevel(c.tx);
        }
        for (int i = 0; i < c.rxBlocks; ++i) {
            stats.AddRxLevel(c.rx);
        }
        TestResults results;
        stats.Finish(TestSettings{}, results);
        EXPECT_EQ(std::tie(results.txLevel, results.rxLevel, results.levelsOk),
                  std::tie(c.txLevel, c.rxLevel, c.ok));
    }
}

}  // namespace
