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

class Thinning : public ::testing::TestWithParam<std::tuple<std::size_t, bool, int, std::size_t>> {};

TEST_P(Thinning, BoundsThePointsAndKeepsTheEnvelopeAndTheEnds)
{
    const auto [count, points, columns, most] = GetParam();
    ChartView view;
    view.series.push_back(Wiggle(count, points));
    view.rows = {{1.0}};
    const ChartView thin = ThinnedForWidth(view, columns, columns / 2);
    const ChartSeries& in = view.series[0];
    const ChartSeries& out = thin.series.at(0);
    EXPECT_LE(out.x.size(), most);
    EXPECT_EQ(out.x.size() == in.x.size(), count <= most);
    EXPECT_TRUE(thin.rows.empty());
    EXPECT_TRUE(std::is_sorted(out.x.begin(), out.x.end()));
    if (!points) {
        EXPECT_EQ(*std::min_element(out.y.begin(), out.y.end()), *std::min_element(in.y.begin(), in.y.end()));
        EXPECT_EQ(*std::max_element(out.y.begin(), out.y.end()), *std::max_element(in.y.begin(), in.y.end()));
        EXPECT_EQ(out.x.front(), in.x.front());
        EXPECT_EQ(out.x.back(), in.x.back());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Views, Thinning,
    ::testing::Values(std::tuple{std::size_t{3840}, false, 960, std::size_t{3840}},    // at the bound: whole
                      std::tuple{std::size_t{360000}, false, 960, std::size_t{3840}},  // 60 minutes
                      std::tuple{std::size_t{360000}, false, 100, std::size_t{400}},
                      std::tuple{std::size_t{20000}, true, 960, std::size_t{500}}));  // marks

}  // namespace
