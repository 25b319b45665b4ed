// Screening the captures: the Tx voice activity that gates a run, and the clipping and DC
// checks that the findings read.
#include <cstdint>

#include "engine/TestRun.h"
#include "engine/TestThresholds.h"

namespace tarnwell::testrun {

namespace {

// Full scale as a capture shows it: either extreme of the int16 range (and -32767, the
// canceller's own negative limit, which a clipping recorder may also use).
constexpr bool AtFullScale(std::int16_t x) { return x >= 32767 || x <= -32767; }

}  // namespace

void CheckCapture(const std::int16_t* samples, int count, double& clipShare, double& mean)
{
    std::int64_t sum = 0;  // exact: at most 2^30 samples of at most 2^15
    std::int64_t clipped = 0;
    for (int i = 0; i < count; ++i) {
        sum += samples[i];
        clipped += AtFullScale(samples[i]) ? 1 : 0;
    }
    clipShare = count > 0 ? static_cast<double>(clipped) / count : 0.0;
    mean = count > 0 ? static_cast<double>(sum) / count : 0.0;
}

int CountVoiceBlocks(const DspToolkit& dsp, const std::int16_t* tx, int count)
{
    using testthresholds::IsVoiceBlock;
    using testthresholds::kScreenBlock;
    // Every block that starts before count - kScreenBlock, two at a time while two are left.
    const int end = count - kScreenBlock;
    int active = 0;
    int offset = 0;
    for (; offset + kScreenBlock < end; offset += 2 * kScreenBlock) {
        double first = 0.0;
        double second = 0.0;
        dsp.BlockLevelPair(tx + offset, tx + offset + kScreenBlock, kScreenBlock, first, second);
        active += (IsVoiceBlock(first) ? 1 : 0) + (IsVoiceBlock(second) ? 1 : 0);
    }
    for (; offset < end; offset += kScreenBlock) {
        active += IsVoiceBlock(dsp.BlockLevel(tx + offset, kScreenBlock)) ? 1 : 0;
    }
    return active;
}

}  // namespace tarnwell::testrun
