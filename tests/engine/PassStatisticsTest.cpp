// The pass's statistics at their thresholds, in two tables: the counted frames with the
// residual verdict, and the level averages with theirs.

#include "EngineTestSupport.h"

using namespace tarnwell;

namespace {

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
