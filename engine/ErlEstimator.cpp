// The ERL estimator: the best-correlated block pair at the found delay.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "engine/EchoTester.h"
#include "engine/TestThresholds.h"

namespace tarnwell {

namespace {

constexpr int kErlBlock = 800;  // samples per ERL block pair (100 ms)

}  // namespace

double EchoTester::EstimateErl(const std::int16_t* tx, const std::int16_t* rx, int count, int delay,
                               ErlRecord* record) const
{
    if (record != nullptr) {
        record->measured = true;
        record->loudestTxBlock = -std::numeric_limits<double>::infinity();
    }
    if (delay < 0) {
        return 0.0;  // never read before the start of the Rx capture
    }
    const std::int64_t span = static_cast<std::int64_t>(count) - delay;
    if (span - kErlBlock <= 0) {
        return 0.0;
    }
    // One pair fewer than would fit when span is a multiple of 800: the last Rx sample read
    // is at most count - 2.
    const int blocks = static_cast<int>((span - 1) / kErlBlock);
    double bestCorrelation = 0.0;
    const std::int16_t* bestRx = nullptr;
    double bestTxLevel = 0.0;
    for (int k = 0; k < blocks; ++k) {
        const std::int16_t* t = tx + k * kErlBlock;
        const std::int16_t* r = rx + delay + k * kErlBlock;
        const double txLevel = BlockLevel(t, kErlBlock);
        if (record != nullptr) {
            ++record->blocks;
            record->qualifyingBlocks += testthresholds::QualifiesForErl(txLevel) ? 1 : 0;
            record->loudestTxBlock = std::max(record->loudestTxBlock, txLevel);
        }
        if (testthresholds::QualifiesForErl(txLevel)) {
            const double c = std::fabs(BlockCorrelation(t, r, kErlBlock));
            if (c > bestCorrelation) {  // strict: the earliest of equal pairs wins
                bestCorrelation = c;
                bestRx = r;
                bestTxLevel = txLevel;
            }
        }
    }
    // Only the kept pair's Rx level is ever used.
    return bestRx != nullptr ? bestTxLevel - BlockLevel(bestRx, kErlBlock) : 0.0;
}

}  // namespace tarnwell
