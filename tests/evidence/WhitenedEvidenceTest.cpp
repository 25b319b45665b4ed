// The whitened delay search on captures whose delay is known, and the delay trend on tracks
// whose shape is known.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <tuple>

#include "evidence/DelayTrend.h"
#include "evidence/Findings.h"
#include "evidence/WhitenedDelay.h"
#include "support/SyntheticCaptures.h"

using namespace tarnwell;
using namespace tarnwell::testcaptures;

namespace {

constexpr int kCount = 40000;  // 5 s

TEST(WhitenedDelay, FindsTheLagAnywhereABulkDelayReachesAndRxAheadOfTx)
{
    const Samples tx = Bursts(kCount, 2848.0, 1200, 0.0, 3);
    // Tx, Rx, the peak lag (INT_MIN: any), and how far the peak stands out of the median, at least
    // and at most; swapped captures have Rx ahead.
    const std::tuple<Samples, Samples, int, double, double> cases[] = {
        {tx, Echo(tx, 1, 10.0, 20.0), 1, 100.0, INFINITY},
        {tx, Echo(tx, 9000, 10.0, 20.0), 9000, 30.0, INFINITY},
        {Echo(tx, 1900, 10.0, 20.0), tx, -1900, 100.0, INFINITY},
        {tx, Noise(kCount, 500.0, 8), INT_MIN, 0.0, 10.0},
    };
    for (const auto& [txIn, rx, lag, least, most] : cases) {
        const WhitenedSearch s = SearchWhitenedDelay(txIn, rx);
        ASSERT_TRUE(s.delay.measured) << lag;
        // One sharp peak, near 1 for a pure delay.
        EXPECT_TRUE(lag == INT_MIN || (s.delay.peakLag == lag && s.delay.peak > 0.5)) << s.delay.peakLag;
        EXPECT_TRUE(s.delay.peak / s.delay.median >= least && s.delay.peak / s.delay.median <= most) << lag;
    }
}

TEST(WhitenedDelay, SkipsSilentTxAndTracksEachStretch)
{
    Samples tx = Noise(kCount, 2848.0, 4);
    std::fill(tx.begin(), tx.begin() + kCount / 2, 0);  // Tx silent for the first half
    const WhitenedSearch s = SearchWhitenedDelay(tx, Echo(tx, 120, 10.0, 20.0));
    EXPECT_EQ(s.delay.segments, (kCount / 2) / whitening::kSegment + 1);  // one straddles the middle
    ASSERT_EQ(s.track.size(), 3u);                                        // stretches 2..4 of 0..4
    EXPECT_DOUBLE_EQ(s.track.front().time, 2.5);
    for (const DelayTrackPoint& p : s.track)
        EXPECT_NEAR(p.lag, 120.0, 0.2);
    EXPECT_FALSE(SearchWhitenedDelay(Samples(kCount, 0), tx).delay.measured);
}

DelayTrackPoint At(double time, double lag) { return {time, lag, 100.0}; }

TEST(DelayTrend, ReadsStepsAndSlopesAndIgnoresWeakStretches)
{
    std::vector<DelayTrackPoint> flat, step, slope, flipping;  // flipping: two lobes trading places
    for (int i = 0; i < 12; ++i) {
        flat.push_back(At(i + 0.5, 106.0 + 0.1 * (i % 3)));
        step.push_back(At(i + 0.5, i < 6 ? 106.0 : 186.0));
        slope.push_back(At(i + 0.5, 106.0 - 0.8 * i));
        flipping.push_back(At(i + 0.5, i % 2 == 0 ? 106.0 : 109.0));
    }
    slope.push_back({12.5, 500.0, 3.0});  // a stretch whose peak does not stand out
    const DelayTrend f = ReadDelayTrend(flat, 16.0);
    EXPECT_LT(std::fabs(f.slope * f.duration), 0.5);
    const DelayTrend st = ReadDelayTrend(step, 16.0);
    EXPECT_EQ(std::make_tuple(st.jumpFrom, st.jumpTo, st.jumpTime), std::make_tuple(106.0, 186.0, 6.0));
    EXPECT_TRUE(st.stepSpread == 0.0 && st.spread > 10.0) << st.stepSpread << " " << st.spread;
    const DelayTrend sl = ReadDelayTrend(slope, 16.0);
    EXPECT_EQ(sl.points, 12);
    EXPECT_NEAR(sl.slope, -0.8, 1e-9);
    EXPECT_NEAR(sl.spread, 0.0, 1e-9);
    EXPECT_DOUBLE_EQ(sl.duration, 11.0);
    const DelayTrend fl = ReadDelayTrend(flipping, 16.0);
    EXPECT_GT(fl.stepSpread, findingthresholds::kTrendFit);  // no step fits alternating lobes
    EXPECT_EQ(ReadDelayTrend({At(0.5, 1.0), At(1.5, 1.0), At(2.5, 9.0)}, 16.0).points, 3);
}

}  // namespace
