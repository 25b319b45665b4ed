// The pass's statistics at their thresholds: the counted-frame limit, the second-half
// boundary, the ten-block minimum and the verdict bounds.
#include "engine/PassStatistics.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace tarnwell;

namespace {

FrameReport Report(int valid, double cancellation, double residual)
{
    FrameReport r;
    r.valid = valid;
    r.cancellation = cancellation;
    r.residualLevel = residual;
    return r;
}

TEST(PassStatisticsCounting, OnlyValidFramesAboveTwoDecibelsCount)
{
    PassStatistics stats;
    TestResults results;
    stats.CountFrame(Report(1, 2.0, -60.0), results);       // exactly 2.0: not counted
    stats.CountFrame(Report(0, 30.0, -60.0), results);      // not valid
    stats.CountFrame(Report(1, std::nan(""), -60.0), results);
    EXPECT_EQ(stats.countedFrames, 0);
    EXPECT_EQ(results.cancellation, 0.0);
    stats.CountFrame(Report(1, 3.0, -60.0), results);
    stats.CountFrame(Report(1, 5.0, -70.0), results);
    EXPECT_EQ(stats.countedFrames, 2);

    TestSettings settings;
    settings.nlpDiff = 3;
    stats.Finish(settings, results);
    EXPECT_EQ(results.cancellation, 4.0);
    EXPECT_EQ(results.residualLevel, -65.0);
    EXPECT_EQ(results.residualOk, 1);
}

TEST(PassStatisticsCounting, NoCountedFrameLeavesZerosAndNoVerdict)
{
    PassStatistics stats;
    TestResults results;
    stats.Finish(TestSettings{}, results);
    EXPECT_EQ(results.cancellation, 0.0);
    EXPECT_EQ(results.residualLevel, 0.0);
    EXPECT_EQ(results.residualOk, 0);
}

TEST(PassStatisticsVerdicts, ResidualNeedsCancellationAboveNlpDiffAndLevelBelowMinus50)
{
    const auto verdict = [](double cancellation, double residual, int nlpDiff) {
        PassStatistics stats;
        TestResults results;
        stats.CountFrame(Report(1, cancellation, residual), results);
        TestSettings settings;
        settings.nlpDiff = nlpDiff;
        stats.Finish(settings, results);
        return results.residualOk;
    };
    EXPECT_EQ(verdict(7.0, -60.0, 6), 1);
    EXPECT_EQ(verdict(6.0, -60.0, 6), 0);   // equal to the threshold: not above
    EXPECT_EQ(verdict(7.0, -50.0, 6), 0);   // -50 is not below -50
    EXPECT_EQ(verdict(7.0, -std::numeric_limits<double>::infinity(), 6), 1);
    EXPECT_EQ(verdict(7.0, std::nan(""), 6), 1);  // not a number counts as below
}

TEST(PassStatisticsHalves, TheMiddleFrameIsNotInTheSecondHalf)
{
    EXPECT_FALSE(PassStatistics::InSecondHalf(24000, 48000));
    EXPECT_TRUE(PassStatistics::InSecondHalf(24080, 48000));
    EXPECT_FALSE(PassStatistics::InSecondHalf(20000, 40001));  // 40001 / 2 = 20000
    EXPECT_TRUE(PassStatistics::InSecondHalf(20001, 40001));
}

TEST(PassStatisticsHalves, RxLevelOnlyWhereTheCancellerReportedNothing)
{
    EXPECT_TRUE(PassStatistics::RxLevelApplies(Report(0, 0.0, 0.0)));
    EXPECT_FALSE(PassStatistics::RxLevelApplies(Report(1, 0.0, 0.0)));
    EXPECT_FALSE(PassStatistics::RxLevelApplies(Report(0, -3.0, 0.0)));
}

PassStatistics Levels(int txBlocks, double tx, int rxBlocks, double rx)
{
    PassStatistics stats;
    for (int i = 0; i < txBlocks; ++i) {
        stats.AddTxLevel(tx);
    }
    for (int i = 0; i < rxBlocks; ++i) {
        stats.AddRxLevel(rx);
    }
    return stats;
}

TEST(PassStatisticsLevels, EachAverageNeedsMoreThanTenBlocks)
{
    TestResults results;
    Levels(10, -20.0, 500, -25.0).Finish(TestSettings{}, results);
    EXPECT_EQ(results.txLevel, 0.0);
    EXPECT_EQ(results.rxLevel, 0.0);
    EXPECT_EQ(results.levelsOk, 0);

    results = {};
    Levels(500, -20.0, 10, -25.0).Finish(TestSettings{}, results);
    EXPECT_EQ(results.txLevel, 0.0);

    results = {};
    Levels(11, -20.0, 11, -25.0).Finish(TestSettings{}, results);
    EXPECT_EQ(results.txLevel, -20.0);
    EXPECT_EQ(results.rxLevel, -25.0);
    EXPECT_EQ(results.levelsOk, 1);
}

TEST(PassStatisticsLevels, BlocksAtOrBelowMinus40AreNotSpeech)
{
    PassStatistics stats = Levels(20, -40.0, 20, -40.0);
    stats.AddTxLevel(-std::numeric_limits<double>::infinity());
    stats.AddRxLevel(std::nan(""));
    EXPECT_EQ(stats.txCount, 0);
    EXPECT_EQ(stats.rxCount, 0);
    stats.AddTxLevel(-39.5);
    EXPECT_EQ(stats.txCount, 1);
    EXPECT_EQ(stats.txSum, -39.5);
}

TEST(PassStatisticsLevels, LevelsVerdictBoundsAreStrict)
{
    const auto verdict = [](double tx, double rx) {
        TestResults results;
        Levels(20, tx, 20, rx).Finish(TestSettings{}, results);
        return results.levelsOk;
    };
    EXPECT_EQ(verdict(-20.0, -25.9), 1);
    EXPECT_EQ(verdict(-20.0, -26.0), 0);  // Tx exactly 6 dB above Rx
    EXPECT_EQ(verdict(-3.0, -5.0), 0);    // Tx at the upper bound
    EXPECT_EQ(verdict(-3.5, -5.0), 1);
    EXPECT_EQ(verdict(-39.5, -39.0), 1);
    EXPECT_EQ(verdict(-20.0, -10.0), 1);  // Rx louder than Tx is fine
}

}  // namespace
