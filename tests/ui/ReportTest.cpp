// Report lines and recommendations on results whose wording and values are known.
#include "ui/Report.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

using namespace tarnwell;

namespace {

TestResults Results()
{
    TestResults r;
    r.delay = 92;
    r.erl = 12.5;
    r.cancellation = 25.25;
    r.residualLevel = -62.5;
    r.rxLevel = -30.0;
    r.txLevel = -20.0;
    r.delayOk = r.erlOk = r.residualOk = r.levelsOk = 1;
    return r;
}

// The lines of measured runs, with their verdicts, are pinned by the golden runs; here the
// levels that stand for missing.
TEST(ReportLines, AZeroLevelIsNotAvailableAndMinusInfinityIsShown)
{
    // A level of exactly zero on either side means missing; minus infinity is shown as it is.
    TestResults r = Results();
    r.rxLevel = 0.0;
    EXPECT_EQ(LevelsLine(r), "Not Available");
    r = Results();
    r.txLevel = 0.0;
    r.residualLevel = 0.0;
    EXPECT_EQ(LevelsLine(r) + " | " + ResidualLine(r), "Not Available | Not Available");
    r.residualLevel = -std::numeric_limits<double>::infinity();
    EXPECT_EQ(ResidualLine(r), "25.25 / -inf dBm, OK");
}

TEST(Recommendations, MinimalTailCountsTheDelayBeyondTheDevicePreset)
{
    const struct {
        int row, delay, tail;
    } cases[] = {{0, 150, 99}, {0, 100, 49}, {0, 99, 50}, {7, 150, 50}, {7, 181, 50}, {2, 1799, 1768}};
    for (const auto& c : cases) {
        EXPECT_EQ(MinimalTail(c.row, c.delay), c.tail) << c.row << " " << c.delay;
    }
}

TEST(Recommendations, TxGainDecreaseStepsByThreeAboveSixDecibels)
{
    const struct {
        double tx, rx;
        int decrease;
    } cases[] = {{-20.0, -26.5, -3},  {-20.0, -26.0, 0},  // D = 6.0 is not above 6
                 {-20.0, -28.99, -3}, {-20.0, -29.0, -6},      {-20.0, -32.0, -9},
                 {-40.0, -80.0, 0},   {-39.9, -80.0, -36},  // Tx must be above -40
                 {0.0, 0.0, 0},       {-20.0, std::nan(""), 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(TxGainDecrease(c.tx, c.rx), c.decrease) << c.tx << " " << c.rx;
    }
}

}  // namespace
