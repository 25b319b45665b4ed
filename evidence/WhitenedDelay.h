// The whitened delay search: Tx and Rx's cross-spectrum, averaged over the Tx-active segments,
// divided by its magnitude in the telephone band (the phase transform) and turned back into a
// correlation over lags -2000..9024 (Rx after Tx positive). Dividing by the magnitude removes
// the pitch harmonics of speech, so a linear echo path leaves one sharp peak and independent
// signals a flat floor. The same, stretch by stretch and within kTrackReach of the whole
// capture's peak, gives the delay over time.
//
// Cost: the whole lag range needs 16384-point transforms, so it averages at most
// kSearchSegments segments spread over the capture; the track needs one 4096-point pair per
// stretch.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/AnalysisRecord.h"
#include "evidence/EchoPathBands.h"

namespace tarnwell {

namespace whitening {
inline constexpr int kFirstLag = -2000;       // swapped files peak at negative lags
inline constexpr int kLastLag = 8000 + 1024;  // the largest bulk delay plus the longest tail
inline constexpr int kFftSize = 16384;        // the whole lag range's transform
inline constexpr int kSegment = kFftSize -
                                (kLastLag - kFirstLag);  // Tx samples (0.67 s) that
                                                         // leave room for every lag without wrapping
inline constexpr int kSearchSegments = 10;               // Tx-active segments averaged at most
inline constexpr int kTrackFftSize = 4096;               // the track's transform
inline constexpr int kTrackReach = 256;                  // the track looks this far either side of the peak
inline constexpr int kTrackSegment = kTrackFftSize - 2 * kTrackReach;  // Tx samples per stretch
inline constexpr double kBandLowHz = 200.0;     // the band whitened: below it hum and DC, above
inline constexpr double kBandHighHz = 3400.0;   // it the codec's roll-off would be amplified
inline constexpr double kActiveTxDbm0 = -45.0;  // a segment counts when its Tx is above this
inline constexpr int kNextPeakDistance = 8;     // lags closer than this belong to the peak itself
inline constexpr int kEchoPathSpan = 128;       // the longest echo path model spans 128 taps (16 ms)
inline constexpr double kLobeShare = 0.9;       // an earlier lobe this high within the span is the delay
inline constexpr int kTrackStretch = 8000;      // samples per point of the delay track (1 s)
inline constexpr int kTrackCentre = 32;         // a point's delay: the centre of |c|^2 this far
                                                // either side of its peak, so that the lobes of
                                                // one dispersive path trading places do not move it
inline constexpr int kAlignedStretches = 16;    // the coherence's stretches at most (one transform each)
static_assert(kTrackSegment <= kTrackStretch);
}  // namespace whitening

struct WhitenedSearch {
    WhitenedDelayRecord delay;
    std::vector<DelayTrackPoint> track;  // every stretch with Tx active, whatever its peak;
                                         // none when the whole capture's search found none
    TrackSpectra spectra;                // the track's stretches' spectra, summed
};

WhitenedSearch SearchWhitenedDelay(const std::vector<std::int16_t>& tx, const std::vector<std::int16_t>& rx);

}  // namespace tarnwell
