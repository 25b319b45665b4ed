// PassStatistics: what the cancellation pass gathers frame by frame and turns into the
// averages and verdicts of TestResults. Counted frames feed the cancellation and residual
// averages; second-half blocks above -40 dBm0 feed the Tx and Rx speech level averages.
#pragma once

#include <cstdint>

#include "canceller/CancellerState.h"
#include "engine/TestSettings.h"

namespace tarnwell {

class PassStatistics {
public:
    // A frame counts when the canceller adapted at normal or fast speed and measured more
    // than 2 dB of cancellation; its figures are added into results.
    void CountFrame(const FrameReport& report, TestResults& results);
    static bool Counts(const FrameReport& report);

    // Only frames that start after the middle of the capture feed the level averages.
    static bool InSecondHalf(int position, int count) { return position > count / 2; }

    // The Rx level is taken only where the canceller reported nothing, so it measures the
    // line rather than a frame the canceller worked on.
    static bool RxLevelApplies(const FrameReport& report)
    {
        return report.valid == 0 && report.cancellation == 0.0;
    }

    void AddTxLevel(double level);  // blocks above -40 dBm0 only
    void AddRxLevel(double level);

    // Averages and verdicts: cancellation/residual over the counted frames, levels when both
    // sides have more than ten blocks.
    void Finish(const TestSettings& settings, TestResults& results) const;

    std::int32_t countedFrames = 0;
    double txSum = 0.0;
    std::int32_t txCount = 0;
    double rxSum = 0.0;
    std::int32_t rxCount = 0;
};

}  // namespace tarnwell
