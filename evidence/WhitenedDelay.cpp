#include "evidence/WhitenedDelay.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdlib>

#include "evidence/Fft.h"

namespace tarnwell {

namespace {

using namespace whitening;
using Spectrum = std::vector<std::complex<double>>;

constexpr int kLagCount = kLastLag - kFirstLag + 1;
constexpr double kSampleRate = 8000.0;

double SegmentDbm0(const std::int16_t* x, int count)
{
    double sum = 0.0;
    double square = 0.0;
    for (int i = 0; i < count; ++i) {
        sum += x[i];
        square += static_cast<double>(x[i]) * x[i];
    }
    const double mean = sum / count;
    const double variance = square / count - mean * mean;
    return 10.0 * std::log10(std::max(variance, 1e-12) * 3.89807986822619e-9);
}

// |c| at lags kFirstLag.. from a summed cross-spectrum, whitened in the band.
std::vector<double> WhitenedCorrelation(const Spectrum& cross, RealFft& fft)
{
    const int low = static_cast<int>(std::ceil(kBandLowHz * kFftSize / kSampleRate));
    const int high = static_cast<int>(std::floor(kBandHighHz * kFftSize / kSampleRate));
    std::complex<double>* bins = fft.Spectrum();
    std::fill(bins, bins + fft.Bins(), std::complex<double>());
    int used = 0;
    for (int k = low; k <= high; ++k) {
        const double magnitude = std::abs(cross[static_cast<std::size_t>(k)]);
        if (magnitude > 0.0) {
            bins[k] = cross[static_cast<std::size_t>(k)] / magnitude;
            ++used;
        }
    }
    fft.Inverse();
    // A pure delay gives 2 * used at its lag: scale that to 1.
    const double scale = used > 0 ? 1.0 / (2.0 * used) : 0.0;
    std::vector<double> c(static_cast<std::size_t>(kLagCount));
    for (int j = 0; j < kLagCount; ++j) {
        c[static_cast<std::size_t>(j)] = std::fabs(fft.Real()[j]) * scale;
    }
    return c;
}

int ArgMax(const std::vector<double>& c, int excludeFrom, int excludeTo)
{
    int best = -1;
    for (int j = 0; j < static_cast<int>(c.size()); ++j) {
        if (j >= excludeFrom && j <= excludeTo) continue;
        if (best < 0 || c[static_cast<std::size_t>(j)] > c[static_cast<std::size_t>(best)]) best = j;
    }
    return best;
}

double Median(std::vector<double> c)
{
    const auto middle = c.begin() + static_cast<std::ptrdiff_t>(c.size() / 2);
    std::nth_element(c.begin(), middle, c.end());
    return *middle;
}

// The peak's lag as the centre of |c|^2 within kNextPeakDistance of it: the lobes of one
// dispersive echo path trade places from stretch to stretch, their centre stays put.
double CentreLag(const std::vector<double>& c, int j)
{
    const int first = std::max(0, j - kNextPeakDistance);
    const int last = std::min(static_cast<int>(c.size()) - 1, j + kNextPeakDistance);
    double weight = 0.0;
    double moment = 0.0;
    for (int i = first; i <= last; ++i) {
        const double w = c[static_cast<std::size_t>(i)] * c[static_cast<std::size_t>(i)];
        weight += w;
        moment += w * i;
    }
    return (weight > 0.0 ? moment / weight : j) + kFirstLag;
}

}  // namespace

WhitenedSearch SearchWhitenedDelay(const std::vector<std::int16_t>& tx, const std::vector<std::int16_t>& rx)
{
    WhitenedSearch out;
    out.delay.firstLag = kFirstLag;
    out.delay.lastLag = kLastLag;
    const int count = static_cast<int>(std::min(tx.size(), rx.size()));
    if (count < kSegment) {
        return out;
    }
    RealFft fft(kFftSize);
    const auto bins = static_cast<std::size_t>(fft.Bins());
    Spectrum txSpectrum(bins);
    Spectrum total(bins);
    Spectrum stretch(bins);
    int stretchSegments = 0;
    int stretchIndex = 0;
    const auto closeStretch = [&] {
        if (stretchSegments > 0) {
            const std::vector<double> c = WhitenedCorrelation(stretch, fft);
            const int peak = ArgMax(c, 1, 0);
            const double median = Median(c);
            out.track.push_back({(stretchIndex + 0.5) * kTrackStretch / kSampleRate, CentreLag(c, peak),
                                 median > 0.0 ? c[static_cast<std::size_t>(peak)] / median : 0.0});
        }
        std::fill(stretch.begin(), stretch.end(), std::complex<double>());
        stretchSegments = 0;
    };
    for (int start = 0; start + kSegment <= count; start += kSegment) {
        if (start / kTrackStretch != stretchIndex) {
            closeStretch();
            stretchIndex = start / kTrackStretch;
        }
        if (SegmentDbm0(tx.data() + start, kSegment) < kActiveTxDbm0) {
            continue;
        }
        double* real = fft.Real();
        std::fill(real, real + kFftSize, 0.0);
        for (int i = 0; i < kSegment; ++i) real[i] = tx[static_cast<std::size_t>(start + i)];
        fft.Forward();
        std::copy(fft.Spectrum(), fft.Spectrum() + bins, txSpectrum.begin());
        // Rx from kFirstLag before the segment to kLastLag after its end, zero outside the capture.
        for (int i = 0; i < kFftSize; ++i) {
            const int n = start + kFirstLag + i;
            real[i] = i < kSegment + kLagCount - 1 && n >= 0 && n < count ? rx[static_cast<std::size_t>(n)] : 0.0;
        }
        fft.Forward();
        for (std::size_t k = 0; k < bins; ++k) {
            const std::complex<double> product = std::conj(txSpectrum[k]) * fft.Spectrum()[k];
            total[k] += product;
            stretch[k] += product;
        }
        ++out.delay.segments;
        ++stretchSegments;
    }
    closeStretch();
    if (out.delay.segments == 0) {
        return out;
    }
    const std::vector<double> c = WhitenedCorrelation(total, fft);
    WhitenedDelayRecord& d = out.delay;
    d.measured = true;
    const int peak = ArgMax(c, 1, 0);
    d.peakLag = peak + kFirstLag;
    d.peak = c[static_cast<std::size_t>(peak)];
    const int next = ArgMax(c, peak - kNextPeakDistance, peak + kNextPeakDistance);
    d.nextLag = next + kFirstLag;
    d.next = c[static_cast<std::size_t>(next)];
    const int far = ArgMax(c, peak - kEchoPathSpan, peak + kEchoPathSpan);
    d.farLag = far + kFirstLag;
    d.far = c[static_cast<std::size_t>(far)];
    d.median = Median(c);
    return out;
}

}  // namespace tarnwell
