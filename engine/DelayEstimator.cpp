// The echo delay estimator: a loud Tx window's correlation with Rx over 1800 lags.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "engine/EchoTester.h"
#include "engine/SampleBuffer.h"

namespace tarnwell {

namespace {

// Delay search: 600-sample Tx windows every 300 samples (half overlap), 1800 lags (0..224.875 ms).
constexpr int kSegmentStep = 300;
constexpr int kLagCount = 1800;
constexpr double kLevelFloor = -100.0;  // dBm0; a window must be louder to be chosen

// The second peak of the lag curve must lie further than this from the first: nearer lags
// are the same echo, smeared by the echo path and the template's own autocorrelation.
constexpr int kSecondPeakDistance = 8;

}  // namespace

int EchoTester::FindLoudestSegment(const std::int16_t* tx, int count, DelayTemplate& segment) const
{
    // Windows from the middle of the capture to 1800 samples before the end of its third
    // quarter, so that every lag of the search stays inside the Rx capture.
    const int first = count / 2;
    const int bound = count - count / 4 - kLagCount;
    if (first >= bound) {
        return 0;
    }
    // The filter runs from the start of the capture but stops after the last window; only the
    // part the windows read is kept.
    const int last = first + (bound - 1 - first) / kSegmentStep * kSegmentStep;
    SampleBuffer filtered(last + kSegmentLength - first);
    UpperBandFilter(tx, filtered.data(), first, last + kSegmentLength);

    double bestLevel = kLevelFloor;
    int chosen = 0;
    for (int start = first; start < bound; start += kSegmentStep) {
        const double level = BlockLevel(filtered.data() + (start - first), kSegmentLength);
        if (level > bestLevel) {  // strict: the earliest of equally loud windows wins
            bestLevel = level;
            std::copy_n(tx + start, kSegmentLength, segment.begin());
            chosen = start;
        }
    }
    return chosen;
}

int EchoTester::EstimateDelay(const std::int16_t* rx, const std::int16_t* tx, int count,
                              DelaySearchRecord* record) const
{
    DelayTemplate segment{};
    const int origin = FindLoudestSegment(tx, count, segment);
    if (origin <= 0) {
        return 0;
    }
    if (record != nullptr) {
        record->measured = true;
        record->windowStart = origin;
        record->correlation.assign(kLagCount, 0.0);
    }
    double bestCorrelation = 0.0;
    int delay = 0;
    for (int lag = 0; lag < kLagCount; ++lag) {
        const double c = std::fabs(BlockCorrelation(rx + origin + lag, segment.data(), kSegmentLength));
        if (record != nullptr) {
            record->correlation[static_cast<std::size_t>(lag)] = c;
        }
        if (c > bestCorrelation) {  // strict: the smallest of equal lags wins; NaN never does
            bestCorrelation = c;
            delay = lag;
        }
    }
    if (record != nullptr) {
        record->peakLag = delay;
        record->peak = bestCorrelation;
        for (int lag = 0; lag < kLagCount; ++lag) {
            const double c = record->correlation[static_cast<std::size_t>(lag)];
            if (std::abs(lag - delay) > kSecondPeakDistance && c > record->second) {
                record->second = c;
                record->secondLag = lag;
            }
        }
        if (bestCorrelation > 0.0) {
            record->confidence = record->second > 0.0 ? bestCorrelation / record->second
                                                      : std::numeric_limits<double>::infinity();
        }
        // Rx ahead of Tx: a window starts at count / 2 or later, so origin - lag stays >= 0.
        for (int lag = 1; lag < kLagCount; ++lag) {
            const double c = std::fabs(BlockCorrelation(rx + origin - lag, segment.data(), kSegmentLength));
            if (c > record->bestNegative) {
                record->bestNegative = c;
                record->bestNegativeLag = lag;
            }
        }
    }
    return delay;
}

}  // namespace tarnwell
