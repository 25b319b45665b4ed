#include "evidence/AllBlocksErl.h"

#include <algorithm>
#include <cmath>

#include "engine/DspToolkit.h"
#include "engine/TestThresholds.h"
#include "evidence/SampleSums.h"

namespace tarnwell {

namespace {

constexpr int kBlock = 800;  // samples, as the ERL line's blocks
// A block whose loss lies this far below the median block's holds near-end speech (double
// talk), not echo: left out. Blocks of one echo path spread by up to about 3 dB with the
// speech's spectrum.
constexpr double kDoubleTalkDb = 5.0;

}  // namespace

AllBlocksErlRecord MeasureAllBlocksErl(const std::vector<std::int16_t>& tx,
                                       const std::vector<std::int16_t>& rx, int delay)
{
    AllBlocksErlRecord out;
    out.delay = delay;
    const auto count = static_cast<std::int64_t>(std::min(tx.size(), rx.size()));
    if (delay <= 0) {
        return out;
    }
    // Each Tx block's power and level, once for both passes.
    std::vector<double> txBlockPowers;
    std::vector<double> txLevels;
    for (std::int64_t start = 0; start + delay + kBlock <= count; start += kBlock) {
        const double p = BlockVariance(tx.data() + start, kBlock);
        txBlockPowers.push_back(p);
        txLevels.push_back(p > 0.0 ? 10.0 * std::log10(p * kLevelScale) : -INFINITY);
    }
    double previousLevel = INFINITY;
    for (std::size_t block = 0; block < txLevels.size(); ++block) {
        const auto start = static_cast<std::int64_t>(block) * kBlock;
        const double level = txLevels[block];
        if (!testthresholds::IsVoiceBlock(level) && !testthresholds::IsVoiceBlock(previousLevel)) {
            ++out.txQuietBlocks;
            const double q = BlockVariance(rx.data() + start + delay, kBlock);
            if (q > 0.0 && 10.0 * std::log10(q * kLevelScale) > testthresholds::kSpeechFloor) {
                ++out.nearEndBlocks;
            }
        }
        previousLevel = level;
    }
    std::vector<double> txPowers;
    std::vector<double> rxPowers;
    std::vector<double> losses;
    for (std::size_t block = 0; block < txLevels.size(); ++block) {
        const auto start = static_cast<std::int64_t>(block) * kBlock;
        const double p = txBlockPowers[block];
        if (!testthresholds::QualifiesForErl(txLevels[block])) {
            continue;
        }
        const double q = BlockVariance(rx.data() + start + delay, kBlock);
        txPowers.push_back(p);
        rxPowers.push_back(q);
        losses.push_back(q > 0.0 ? 10.0 * std::log10(p / q) : INFINITY);
    }
    if (losses.empty()) {
        return out;
    }
    std::vector<double> sorted = losses;
    std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() / 2),
                     sorted.end());
    const double median = sorted[sorted.size() / 2];
    double txPower = 0.0;
    double rxPower = 0.0;
    for (std::size_t k = 0; k < losses.size(); ++k) {
        if (losses[k] >= median - kDoubleTalkDb) {
            txPower += txPowers[k];
            rxPower += rxPowers[k];
            ++out.blocks;
        } else {
            ++out.doubleTalkBlocks;
        }
    }
    if (out.blocks > 0 && rxPower > 0.0) {
        out.measured = true;
        out.erl = 10.0 * std::log10(txPower / rxPower);
    }
    return out;
}

}  // namespace tarnwell
