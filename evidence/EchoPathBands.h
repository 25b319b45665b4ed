// The echo path by frequency and mains hum, read from the spectra the delay track averages:
// Tx's and Rx's power and their cross-spectrum, stretch by stretch, so that no transform is
// run a second time.
#pragma once

#include <complex>
#include <vector>

#include "engine/AnalysisRecord.h"

namespace tarnwell {

namespace echospectrum {
inline constexpr double kBandLowHz = 200.0;  // the telephone band whose ERL is read
inline constexpr double kBandHighHz = 3400.0;
inline constexpr int kCurveBins = 8;          // bins summed per point of the curve (about 16 Hz)
inline constexpr int kHarmonics = 4;          // mains lines read: the fundamental and 3 harmonics
inline constexpr double kLineHz = 3.0;        // a mains line's bin lies within this of k * mains
inline constexpr double kAroundFromHz = 8.0;  // its surroundings: 8 to 25 Hz either side
inline constexpr double kAroundToHz = 25.0;
}  // namespace echospectrum

// Sums over the track's stretches, bins 0..size/2 of its transform.
struct TrackSpectra {
    int fftSize = 0;
    int segments = 0;
    bool aligned = false;                          // the aligned sums below were taken
    std::vector<double> sxx;                       // |X|^2: Tx
    std::vector<double> syy;                       // |Y|^2: Rx over the wide window
    std::vector<std::complex<double>> sxy;         // conj(X) Y over the wide window
    std::vector<double> syyAligned;                // Rx over the Tx segment's own span, delayed
    std::vector<std::complex<double>> sxyAligned;  // by the echo's: the coherence's
};

// Empty when the spectra hold no stretch or no aligned sums.
EchoPathSpectrumRecord ReadEchoPathSpectrum(const TrackSpectra& spectra);
HumRecord ReadHum(const TrackSpectra& spectra);

}  // namespace tarnwell
