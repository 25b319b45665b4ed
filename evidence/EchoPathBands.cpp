#include "evidence/EchoPathBands.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace tarnwell {

namespace {

using namespace echospectrum;

constexpr double kSampleRate = 8000.0;
// Third-octave bands from 200 Hz up to the last one below 3400 Hz: their nominal centres, and
// the exact ones 1000 * 2^(n/3) whose edges (2^(1/6) either side) meet those beside them.
constexpr std::array<double, 13> kBandCentres = {200,  250,  315,  400,  500,  630, 800,
                                                 1000, 1250, 1600, 2000, 2500, 3150};
constexpr int kFirstBand = -7;  // n of the 200 Hz band

double BinHz(const TrackSpectra& s, int k) { return k * kSampleRate / s.fftSize; }

// Sums over the bins first..last (inclusive) of one quantity each.
struct BinSums {
    double tx = 0.0;         // Sxx
    double echo = 0.0;       // |Sxy|^2 / Sxx over the wide window: |H|^2 Sxx
    double rx = 0.0;         // Syy aligned
    double explained = 0.0;  // |Sxy|^2 / Sxx aligned: the part of Rx linear in Tx
};

BinSums Sum(const TrackSpectra& s, int first, int last)
{
    BinSums out;
    for (int k = first; k <= last; ++k) {
        const auto i = static_cast<std::size_t>(k);
        const double sxx = s.sxx[i];
        if (!(sxx > 0.0)) {
            continue;  // no Tx in this bin: nothing to divide by
        }
        out.tx += sxx;
        out.echo += std::norm(s.sxy[i]) / sxx;
        out.rx += s.syyAligned[i];
        out.explained += std::norm(s.sxyAligned[i]) / sxx;
    }
    return out;
}

double LossDb(double power, double part) { return part > 0.0 ? 10.0 * std::log10(power / part) : INFINITY; }
double Coherence(const BinSums& b) { return b.rx > 0.0 ? std::min(1.0, b.explained / b.rx) : 0.0; }

int FirstBinFrom(const TrackSpectra& s, double hz)
{
    return static_cast<int>(std::ceil(hz * s.fftSize / kSampleRate));
}
// The last bin strictly below hz.
int LastBinBelow(const TrackSpectra& s, double hz)
{
    return static_cast<int>(std::ceil(hz * s.fftSize / kSampleRate)) - 1;
}

// How far one mains frequency's lines stand above the spectrum around them, dB: harmonics
// lines from first up to kHarmonics.
double MainsRise(const TrackSpectra& s, const std::vector<double>& power, int mains, int first = 1,
                 int harmonics = kHarmonics)
{
    const double binHz = kSampleRate / s.fftSize;
    double lines = 0.0;
    double around = 0.0;
    for (int h = first; h <= harmonics; ++h) {
        const double at = h * mains;
        double line = 0.0;
        std::vector<double> near;
        const int first = static_cast<int>(std::floor((at - kAroundToHz) / binHz));
        const int last = static_cast<int>(std::ceil((at + kAroundToHz) / binHz));
        for (int k = std::max(1, first); k <= last; ++k) {
            const double distance = std::fabs(k * binHz - at);
            const double p = power[static_cast<std::size_t>(k)];
            if (distance <= kLineHz) {
                line = std::max(line, p);
            } else if (distance >= kAroundFromHz && distance <= kAroundToHz) {
                near.push_back(p);
            }
        }
        const auto middle = near.begin() + static_cast<std::ptrdiff_t>(near.size() / 2);
        std::nth_element(near.begin(), middle, near.end());
        lines += line;
        around += *middle;
    }
    if (!(around > 0.0)) {
        return lines > 0.0 ? INFINITY : 0.0;
    }
    return 10.0 * std::log10(lines / around);
}

struct Mains {
    int hz = 0;
    double rise = 0.0;         // its lines
    double fundamental = 0.0;  // its fundamental's line alone
};

// The higher of the 50 Hz and 60 Hz families.
Mains Hum(const TrackSpectra& s, const std::vector<double>& power)
{
    const double rise50 = MainsRise(s, power, 50);
    const double rise60 = MainsRise(s, power, 60);
    const int hz = rise60 > rise50 ? 60 : 50;
    return {hz, std::max(rise50, rise60), MainsRise(s, power, hz, 1, 1)};
}

}  // namespace

EchoPathSpectrumRecord ReadEchoPathSpectrum(const TrackSpectra& s)
{
    EchoPathSpectrumRecord out;
    if (s.segments == 0 || !s.aligned) {
        return out;
    }
    out.measured = true;
    out.segments = s.segments;
    const int low = FirstBinFrom(s, kBandLowHz);
    const int high = LastBinBelow(s, kBandHighHz);
    for (int first = low; first <= high; first += kCurveBins) {
        const int last = std::min(high, first + kCurveBins - 1);
        const BinSums b = Sum(s, first, last);
        out.frequency.push_back((BinHz(s, first) + BinHz(s, last)) / 2.0);
        out.gain.push_back(-LossDb(b.tx, b.echo));
        out.coherence.push_back(Coherence(b));
    }
    for (std::size_t band = 0; band < kBandCentres.size(); ++band) {
        const double centre = 1000.0 * std::pow(2.0, (kFirstBand + static_cast<int>(band)) / 3.0);
        const double from = centre * std::pow(2.0, -1.0 / 6.0);
        const double to = std::min(kBandHighHz, centre * std::pow(2.0, 1.0 / 6.0));
        const BinSums b = Sum(s, FirstBinFrom(s, from), LastBinBelow(s, to));
        out.bandCentres.push_back(kBandCentres[band]);
        out.bandErl.push_back(LossDb(b.tx, b.echo));
        out.bandCoherence.push_back(Coherence(b));
    }
    const BinSums all = Sum(s, low, high);
    out.erl = LossDb(all.tx, all.echo);
    out.coherentCancellation = LossDb(all.rx, all.rx - all.explained);
    return out;
}

HumRecord ReadHum(const TrackSpectra& s)
{
    HumRecord out;
    if (s.segments == 0) {
        return out;
    }
    out.measured = true;
    const Mains tx = Hum(s, s.sxx);
    const Mains rx = Hum(s, s.syy);
    out.txMains = tx.hz;
    out.txRise = tx.rise;
    out.txFundamental = tx.fundamental;
    out.rxMains = rx.hz;
    out.rxRise = rx.rise;
    out.rxFundamental = rx.fundamental;
    return out;
}

}  // namespace tarnwell
