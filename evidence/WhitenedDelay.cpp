#include "evidence/WhitenedDelay.h"

#include <algorithm>
#include <cmath>
#include <complex>

#include "engine/DspToolkit.h"
#include "evidence/Fft.h"
#include "evidence/SampleSums.h"
#include "evidence/BinKernels.h"

namespace tarnwell {

namespace {

using namespace whitening;
using Spectrum = std::vector<std::complex<double>>;
using SingleSpectrum = std::vector<std::complex<float>>;  // a transform's bins, kept

constexpr int kLagCount = kLastLag - kFirstLag + 1;
constexpr double kSampleRate = 8000.0;

bool TxActive(const std::vector<std::int16_t>& tx, int start, int count)
{
    return BlockVariance(tx.data() + start, count) * kLevelScale > std::pow(10.0, kActiveTxDbm0 / 10.0);
}

// samples[from..to) as floats into the transform's input from offset on, the rest of it
// zero (each region written once).
void LoadSamples(const std::vector<std::int16_t>& samples, int from, int to, int offset, RealFft& fft)
{
    float* real = fft.Real();
    const int end = std::max(offset, offset + to - from);
    std::fill(real, real + offset, 0.0F);
    for (int i = offset; i < end; ++i)
        real[i] = static_cast<float>(samples[static_cast<std::size_t>(from + i - offset)]);
    std::fill(real + end, real + fft.Size(), 0.0F);
}

// One Tx segment and the Rx window around it, each into the transform; their cross-spectrum
// conj(Tx) Rx added to sum. The Rx window starts at rxStart (zero outside the capture).
void AddCrossSpectrum(const std::vector<std::int16_t>& tx, int txStart, int txCount,
                      const std::vector<std::int16_t>& rx, int rxStart, int rxCount, RealFft& fft,
                      SingleSpectrum& txSpectrum, Spectrum& sum)
{
    const int count = static_cast<int>(std::min(tx.size(), rx.size()));
    LoadSamples(tx, txStart, txStart + txCount, 0, fft);
    fft.Forward();
    std::copy(fft.Spectrum(), fft.Spectrum() + fft.Bins(), txSpectrum.begin());
    const int first = std::max(0, -rxStart);  // the window's part inside the capture
    const int last = std::min(rxCount, count - rxStart);
    LoadSamples(rx, rxStart + first, rxStart + last, first, fft);
    fft.Forward();
    // Products and sums in double: averaging needs the range.
    AddConjProduct(txSpectrum.data(), fft.Spectrum(), sum.data(), fft.Bins());
}

// |c| at the first lags of a cross-spectrum divided by its magnitude in the band (the phase
// transform) and zero elsewhere; 1 for a pure delay.
std::vector<double> WhitenedCorrelation(const Spectrum& cross, RealFft& fft, int lags)
{
    const int size = fft.Size();
    const int low = static_cast<int>(std::ceil(kBandLowHz * size / kSampleRate));
    const int high = static_cast<int>(std::floor(kBandHighHz * size / kSampleRate));
    std::complex<float>* bins = fft.Spectrum();
    std::fill(bins, bins + fft.Bins(), std::complex<float>());
    const int used = Whiten(cross.data(), low, high, bins);
    fft.Inverse();
    // A pure delay gives 2 * used at its lag: scale that to 1.
    const double scale = used > 0 ? 1.0 / (2.0 * used) : 0.0;
    std::vector<double> c(static_cast<std::size_t>(lags));
    for (int j = 0; j < lags; ++j) {
        c[static_cast<std::size_t>(j)] = std::fabs(fft.Real()[j]) * scale;
    }
    return c;
}

// A dispersive path's whitened answer can have two lobes of nearly equal height: its delay is
// the first of them, where the path starts to answer (the largest tap of every G.168 model).
int EarliestLobe(const std::vector<double>& c, int peak)
{
    for (int j = std::max(1, peak - kEchoPathSpan); j < peak; ++j) {
        const double v = c[static_cast<std::size_t>(j)];
        if (v >= kLobeShare * c[static_cast<std::size_t>(peak)] && v >= c[static_cast<std::size_t>(j - 1)] &&
            v >= c[static_cast<std::size_t>(j + 1)]) {
            return j;
        }
    }
    return peak;
}

// The first index of the highest |c| in first..last-1 when above c[best] (or best < 0). The
// highest value first, in four running maxima the compiler turns into vector ones (the order
// does not matter to a maximum of numbers), then the first index that holds it.
int ArgMaxIn(const std::vector<double>& c, int first, int last, int best)
{
    if (first >= last) {
        return best;
    }
    const double* v = c.data();
    double lanes[4] = {v[first], v[first], v[first], v[first]};
    int j = first;
    for (; j + 4 <= last; j += 4) {
        for (int lane = 0; lane < 4; ++lane) {
            lanes[lane] = v[j + lane] > lanes[lane] ? v[j + lane] : lanes[lane];
        }
    }
    double top = std::max(std::max(lanes[0], lanes[1]), std::max(lanes[2], lanes[3]));
    for (; j < last; ++j) {
        top = v[j] > top ? v[j] : top;
    }
    if (best >= 0 && !(top > v[best])) {
        return best;
    }
    for (j = first; j < last; ++j) {
        if (v[j] == top) return j;
    }
    // Not found only when the maximum is NaN: the comparison chain's answer.
    for (j = first; j < last; ++j) {
        if (best < 0 || v[j] > v[best]) best = j;
    }
    return best;
}

// The highest |c| outside excludeFrom..excludeTo: the two sides scanned in order, without a
// test of the excluded span on every lag.
int ArgMax(const std::vector<double>& c, int excludeFrom, int excludeTo)
{
    const int size = static_cast<int>(c.size());
    if (excludeFrom > excludeTo) {
        return ArgMaxIn(c, 0, size, -1);
    }
    const int best = ArgMaxIn(c, 0, std::clamp(excludeFrom, 0, size), -1);
    return ArgMaxIn(c, std::clamp(excludeTo + 1, 0, size), size, best);
}

// Reorders c.
double Median(std::vector<double>& c)
{
    const auto middle = c.begin() + static_cast<std::ptrdiff_t>(c.size() / 2);
    std::nth_element(c.begin(), middle, c.end());
    return *middle;
}

// The peak's index as the centre of |c|^2 within kTrackCentre of it: the lobes of one
// dispersive echo path trade places from stretch to stretch, their centre stays put.
double CentreIndex(const std::vector<double>& c, int j)
{
    const int first = std::max(0, j - kTrackCentre);
    const int last = std::min(static_cast<int>(c.size()) - 1, j + kTrackCentre);
    double weight = 0.0;
    double moment = 0.0;
    for (int i = first; i <= last; ++i) {
        const double w = c[static_cast<std::size_t>(i)] * c[static_cast<std::size_t>(i)];
        weight += w;
        moment += w * i;
    }
    return weight > 0.0 ? moment / weight : j;
}

// The whole lag range over at most kSearchSegments Tx-active segments spread over the capture.
WhitenedDelayRecord SearchAllLags(const std::vector<std::int16_t>& tx, const std::vector<std::int16_t>& rx,
                                  int count)
{
    WhitenedDelayRecord d;
    d.firstLag = kFirstLag;
    d.lastLag = kLastLag;
    std::vector<int> active;
    for (int start = 0; start + kSegment <= count; start += kSegment) {
        if (TxActive(tx, start, kSegment)) active.push_back(start);
    }
    if (active.empty()) {
        return d;
    }
    const int used = std::min(static_cast<int>(active.size()), kSearchSegments);
    RealFft fft(kFftSize);
    SingleSpectrum txSpectrum(static_cast<std::size_t>(fft.Bins()));
    Spectrum total(txSpectrum.size());
    for (int i = 0; i < used; ++i) {
        // Evenly spread: the i-th of used picks from the i-th share of the active segments.
        const int start = active[static_cast<std::size_t>(i * static_cast<int>(active.size()) / used)];
        AddCrossSpectrum(tx, start, kSegment, rx, start + kFirstLag, kSegment + kLagCount - 1, fft,
                         txSpectrum, total);
    }
    std::vector<double> c = WhitenedCorrelation(total, fft, kLagCount);
    d.measured = true;
    d.segments = used;
    const int peak = EarliestLobe(c, ArgMax(c, 1, 0));
    d.peakLag = peak + kFirstLag;
    d.peak = c[static_cast<std::size_t>(peak)];
    const int next = ArgMax(c, peak - kNextPeakDistance, peak + kNextPeakDistance);
    d.nextLag = next + kFirstLag;
    d.next = c[static_cast<std::size_t>(next)];
    const int far = ArgMax(c, peak - kEchoPathSpan, peak + kEchoPathSpan);
    d.farLag = far + kFirstLag;
    d.far = c[static_cast<std::size_t>(far)];
    std::vector<double> beyond = c;  // c without the peak's and the far peak's spans
    for (const int centre : {peak, far}) {
        const int first = std::max(0, centre - kEchoPathSpan);
        const int last = std::min(kLagCount - 1, centre + kEchoPathSpan);
        std::fill(beyond.begin() + first, beyond.begin() + last + 1, 0.0);
    }
    d.third = *std::max_element(beyond.begin(), beyond.end());
    const int positive = ArgMax(c, 0, -kFirstLag);
    d.positiveLag = positive + kFirstLag;
    d.positive = c[static_cast<std::size_t>(positive)];
    d.median = Median(c);
    return d;
}

// The stretch's powers and cross-spectrum into the sums: Tx from txSpectrum, Rx over the wide
// window from wide (the window's transform, still in the buffer).
void AddPowers(const SingleSpectrum& txSpectrum, const std::complex<float>* wide, const Spectrum& cross,
               TrackSpectra& sums)
{
    const int bins = static_cast<int>(sums.sxx.size());
    AddPower(txSpectrum.data(), sums.sxx.data(), bins);
    AddPower(wide, sums.syy.data(), bins);
    AddSpectrum(cross.data(), sums.sxy.data(), bins);
}

// Rx over the Tx segment's own span, delayed by the whole capture's peak: the coherence needs
// Rx without the echo of Tx outside the segment, which the wide window holds.
void AddAligned(const std::vector<std::int16_t>& rx, int rxStart, int count, RealFft& fft,
                const SingleSpectrum& txSpectrum, TrackSpectra& sums)
{
    const int last = std::min(kTrackSegment, count - rxStart);
    LoadSamples(rx, rxStart, rxStart + last, 0, fft);
    fft.Forward();
    AddPower(fft.Spectrum(), sums.syyAligned.data(), fft.Bins());
    AddConjProduct(txSpectrum.data(), fft.Spectrum(), sums.sxyAligned.data(), fft.Bins());
}

// One point per stretch with Tx active, within kTrackReach of the whole capture's peak; the
// stretches' spectra summed into spectra on the way.
std::vector<DelayTrackPoint> TrackDelay(const std::vector<std::int16_t>& tx,
                                        const std::vector<std::int16_t>& rx, int count, int peakLag,
                                        TrackSpectra& spectra)
{
    RealFft fft(kTrackFftSize);
    const auto bins = static_cast<std::size_t>(fft.Bins());
    SingleSpectrum txSpectrum(bins);
    Spectrum cross(bins);
    spectra.fftSize = kTrackFftSize;
    spectra.aligned = peakLag > 0;  // an echo path to align on only after Tx
    spectra.sxx.assign(bins, 0.0);
    spectra.syy.assign(bins, 0.0);
    spectra.sxy.assign(bins, {});
    if (spectra.aligned) {
        spectra.syyAligned.assign(bins, 0.0);
        spectra.sxyAligned.assign(bins, {});
    }
    // The coherence from at most about kAlignedStretches stretches spread over the capture.
    const int stretches = count / kTrackStretch;
    const int alignedStride = std::max(1, (stretches + kAlignedStretches - 1) / kAlignedStretches);
    std::vector<DelayTrackPoint> track;
    std::vector<double> sparse;  // one buffer for every stretch's floor
    sparse.reserve(2 * kTrackReach / 4 + 1);
    for (int stretch = 0; (stretch + 1) * kTrackStretch <= count; ++stretch) {
        // The stretch's segment centred in it.
        const int start = stretch * kTrackStretch + (kTrackStretch - kTrackSegment) / 2;
        if (!TxActive(tx, start, kTrackSegment)) {
            continue;
        }
        std::fill(cross.begin(), cross.end(), std::complex<double>());
        AddCrossSpectrum(tx, start, kTrackSegment, rx, start + peakLag - kTrackReach,
                         kTrackSegment + 2 * kTrackReach, fft, txSpectrum, cross);
        AddPowers(txSpectrum, fft.Spectrum(), cross, spectra);
        if (spectra.aligned && stretch % alignedStride == 0) {
            AddAligned(rx, start + peakLag, count, fft, txSpectrum, spectra);
        }
        ++spectra.segments;
        std::vector<double> c = WhitenedCorrelation(cross, fft, 2 * kTrackReach + 1);
        const int peak = ArgMax(c, 1, 0);
        const double lag = CentreIndex(c, peak) + peakLag - kTrackReach;
        const double height = c[static_cast<std::size_t>(peak)];
        // The floor from every fourth lag: a quarter of the work, the same median within its spread.
        sparse.clear();
        for (std::size_t j = 0; j < c.size(); j += 4)
            sparse.push_back(c[j]);
        const double median = Median(sparse);
        track.push_back(
            {(stretch + 0.5) * kTrackStretch / kSampleRate, lag, median > 0.0 ? height / median : 0.0});
    }
    return track;
}

}  // namespace

WhitenedSearch SearchWhitenedDelay(const std::vector<std::int16_t>& tx, const std::vector<std::int16_t>& rx)
{
    WhitenedSearch out;
    const int count = static_cast<int>(std::min(tx.size(), rx.size()));
    out.delay = SearchAllLags(tx, rx, count);
    if (out.delay.measured) {
        out.track = TrackDelay(tx, rx, count, out.delay.peakLag, out.spectra);
    }
    return out;
}

}  // namespace tarnwell
