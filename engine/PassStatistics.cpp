#include "engine/PassStatistics.h"

#include "engine/TestThresholds.h"

namespace tarnwell {

using namespace testthresholds;

bool PassStatistics::Counts(const FrameReport& report)
{
    return report.valid != 0 && report.cancellation > kCountedCancellation;
}

void PassStatistics::CountFrame(const FrameReport& report, TestResults& results)
{
    if (Counts(report)) {
        results.cancellation += report.cancellation;
        results.residualLevel += report.residualLevel;
        ++countedFrames;
    }
}

void PassStatistics::AddTxLevel(double level)
{
    if (level > kSpeechFloor) {
        txSum += level;
        ++txCount;
    }
}

void PassStatistics::AddRxLevel(double level)
{
    if (level > kSpeechFloor) {
        rxSum += level;
        ++rxCount;
    }
}

void PassStatistics::Finish(const TestSettings& settings, TestResults& results) const
{
    if (countedFrames > 0) {
        results.cancellation /= countedFrames;
        results.residualLevel /= countedFrames;
        // A residual average that is not a number or minus infinity counts as below the limit.
        const bool residualLow = !(results.residualLevel >= kResidualLimit);
        if (results.cancellation > static_cast<double>(settings.nlpDiff) && residualLow) {
            results.residualOk = 1;
        }
    }
    if (txCount > kMinLevelBlocks && rxCount > kMinLevelBlocks) {
        results.txLevel = txSum / txCount;
        results.rxLevel = rxSum / rxCount;
        if (kTxLevelLow < results.txLevel && results.txLevel < kTxLevelHigh &&
            results.txLevel - results.rxLevel < kMaxTxOverRx) {
            results.levelsOk = 1;
        }
    }
}

}  // namespace tarnwell
