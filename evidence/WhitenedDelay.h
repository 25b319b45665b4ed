// The whitened delay search: Tx and Rx's cross-spectrum, averaged over the Tx-active segments,
// divided by its magnitude in the telephone band (the phase transform) and turned back into a
// correlation over lags -2000..9024 (Rx after Tx positive). Dividing by the magnitude removes
// the pitch harmonics of speech, so a linear echo path leaves one sharp peak and independent
// signals a flat floor. The same, stretch by stretch, gives the delay over time.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/AnalysisRecord.h"

namespace tarnwell {

namespace whitening {
inline constexpr int kFirstLag = -2000;       // swapped files peak at negative lags
inline constexpr int kLastLag = 8000 + 1024;  // the largest bulk delay plus the longest tail
inline constexpr int kSegment = 4096;         // Tx samples per segment (0.5 s)
inline constexpr int kFftSize = 16384;        // holds a segment and every lag without wrapping
static_assert(kSegment + (kLastLag - kFirstLag) <= kFftSize);
inline constexpr double kBandLowHz = 200.0;   // the band whitened: below it hum and DC, above
inline constexpr double kBandHighHz = 3400.0; // it the codec's roll-off would be amplified
inline constexpr double kActiveTxDbm0 = -45.0;  // a segment counts when its Tx is above this
inline constexpr int kNextPeakDistance = 8;   // lags closer than this belong to the peak itself
inline constexpr int kEchoPathSpan = 128;     // the longest echo path model spans 128 taps (16 ms)
inline constexpr int kTrackStretch = 8000;    // samples per point of the delay track (1 s)
}  // namespace whitening

struct WhitenedSearch {
    WhitenedDelayRecord delay;
    std::vector<DelayTrackPoint> track;  // every stretch with Tx active, whatever its peak
};

WhitenedSearch SearchWhitenedDelay(const std::vector<std::int16_t>& tx, const std::vector<std::int16_t>& rx);

}  // namespace tarnwell
