// Drawing a view: thinning keeps what a pixel column shows (the envelope, the ends) and bounds
// the points however long the capture.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <tuple>

#include "evidence/ChartDrawing.h"

using namespace tarnwell;

namespace {

// A noisy line of count points over [0, count).
ChartSeries Wiggle(std::size_t count, bool points)
{
    ChartSeries s{"Tx", {}, {}, points};
    for (std::size_t i = 0; i < count; ++i) {
        s.x.push_back(static_cast<double>(i));
        s.y.push_back(std::sin(static_cast<double>(i) * 0.37) * 40.0 + static_cast<double>(i % 7));
    }
    return s;
}

TEST(Thinning, BoundsThePointsAndKeepsTheEnvelopeAndTheEnds)
{
    // Points, drawn as marks, columns, and the most points kept.
    const std::tuple<std::size_t, bool, int, std::size_t> cases[] = {
        {3840, false, 960, 3840},
        {360000, false, 960, 3840},  // at the bound: whole; 60 minutes
        {360000, false, 100, 400},
        {20000, true, 960, 500}};
    for (const auto& [count, points, columns, most] : cases) {
        ChartView view;
        view.series.push_back(Wiggle(count, points));
        view.rows = {{1.0}};
        const ChartView thin = ThinnedForWidth(view, columns, columns / 2);
        const ChartSeries& in = view.series[0];
        const ChartSeries& out = thin.series.at(0);
        EXPECT_LE(out.x.size(), most);
        EXPECT_EQ(out.x.size() == in.x.size(), count <= most);
        EXPECT_TRUE(thin.rows.empty() && std::is_sorted(out.x.begin(), out.x.end()));
        if (!points) {
            EXPECT_EQ(*std::min_element(out.y.begin(), out.y.end()),
                      *std::min_element(in.y.begin(), in.y.end()));
            EXPECT_EQ(*std::max_element(out.y.begin(), out.y.end()),
                      *std::max_element(in.y.begin(), in.y.end()));
            EXPECT_TRUE(out.x.front() == in.x.front() && out.x.back() == in.x.back()) << count;
        }
    }
}

}  // namespace

// A degenerate span must give a usable step: 0 would make the axis loop over ticks forever.
TEST(NiceStep, IsOneTwoOrFiveTimesAPowerOfTenAndOneOnADegenerateSpan)
{
    const std::tuple<double, int, double> cases[] = {{604.8, 8, 100.0}, {1.0, 4, 0.5}, {0.003, 8, 0.0005},
                                                     {10.0, 10, 1.0},   {0.0, 8, 1.0}, {-3.0, 8, 1.0},
                                                     {INFINITY, 8, 1.0}};
    for (const auto& [span, ticks, step] : cases)
        EXPECT_DOUBLE_EQ(NiceStep(span, ticks), step) << span << " in " << ticks;
}
