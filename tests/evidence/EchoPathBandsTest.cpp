// The echo path by frequency and the hum figure on spectra whose answer is known, and on
// captures through the whitened search whose echo is known.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <tuple>

#include "evidence/EchoPathBands.h"
#include "evidence/WhitenedDelay.h"
#include "support/SyntheticCaptures.h"

using namespace tarnwell;
using namespace tarnwell::testcaptures;

namespace {

constexpr int kSize = 4096;
constexpr double kBinHz = 8000.0 / kSize;

// Flat Tx and Rx, the echo 20 dB down (|H| 0.1) except over [loudFrom, loudTo) Hz at 0 dB; the
// aligned Rx explains a quarter of its power (coherence 0.25) everywhere.
TrackSpectra Shaped(double loudFrom, double loudTo)
{
    TrackSpectra s;
    std::tie(s.fftSize, s.segments, s.aligned) = std::tuple{kSize, 10, true};
    const std::size_t bins = kSize / 2 + 1;
    s.sxx.assign(bins, 1.0);
    s.syy.assign(bins, 1.0);
    s.syyAligned.assign(bins, 1.0);
    s.sxy.assign(bins, {0.1, 0.0});
    s.sxyAligned.assign(bins, {0.0, 0.5});
    for (std::size_t k = 0; k < bins; ++k)
        s.sxy[k] = k * kBinHz >= loudFrom && k * kBinHz < loudTo ? std::complex<double>(0.0, -1.0) : s.sxy[k];
    return s;
}

TEST(EchoSpectrum, ReadsEachThirdOctaveBandsErlAndCoherenceWithinItsEdges)
{
    // The 1 kHz band's edges exactly: 1000 * 2^(-1/6) and 1000 * 2^(1/6), shared with the
    // bands beside it.
    const EchoPathSpectrumRecord e = ReadEchoPathSpectrum(Shaped(890.899, 1122.462));
    ASSERT_TRUE(e.measured);
    ASSERT_EQ(e.bandCentres.size(), 13u);
    EXPECT_TRUE(e.bandCentres.front() == 200.0 && e.bandCentres.back() == 3150.0);
    for (std::size_t i = 0; i < e.bandCentres.size(); ++i) {
        EXPECT_NEAR(e.bandErl[i], e.bandCentres[i] == 1000.0 ? 0.0 : 20.0, 1e-9) << e.bandCentres[i];
        EXPECT_NEAR(e.bandCoherence[i], 0.25, 1e-12) << e.bandCentres[i];
    }
    EXPECT_NEAR(e.coherentCancellation, -10.0 * std::log10(0.75), 1e-9);
    // 200..3400 Hz: the loud band's share of the bins raises the broadband echo.
    const double share = (1122.462 - 890.899) / (3400.0 - 200.0);
    EXPECT_NEAR(e.erl, -10.0 * std::log10(share + (1.0 - share) * 0.01), 0.05);
    EXPECT_FALSE(ReadEchoPathSpectrum(TrackSpectra{}).measured);
}

// Flat power with lines of 30 dB at the given frequencies.
std::vector<double> WithLines(std::initializer_list<double> hz)
{
    std::vector<double> p(kSize / 2 + 1, 1.0);
    for (const double f : hz)
        p[static_cast<std::size_t>(std::lround(f / kBinHz))] = 1000.0;
    return p;
}

TEST(EchoSpectrum, HumIsTheMainsLinesAndTheirHarmonicsOverTheirSurroundings)
{
    // Tx's lines, the mains read, its rise and its fundamental's (dB); Rx flat.
    const std::tuple<std::vector<double>, int, double, double> cases[] = {
        {WithLines({50, 100, 150, 200}), 50, 30.0, 30.0},
        {WithLines({60, 120, 180, 240}), 60, 30.0, 30.0},
        {WithLines({150}), 50, 10.0 * std::log10((1000.0 + 3.0) / 4.0), 0.0},  // 150 Hz alone
        {WithLines({250}), 50, 0.0, 0.0},  // the 5th harmonic only is not read
    };
    for (const auto& [power, mains, rise, fundamental] : cases) {
        TrackSpectra s;
        s.fftSize = kSize;
        s.segments = 3;
        s.sxx = power;
        s.syy = WithLines({});
        const HumRecord h = ReadHum(s);
        ASSERT_TRUE(h.measured);
        EXPECT_EQ(h.txMains, mains);
        EXPECT_NEAR(h.txRise, rise, 1e-9) << mains;
        EXPECT_NEAR(h.txFundamental, fundamental, 1e-9) << rise;
        EXPECT_NEAR(h.rxRise, 0.0, 1e-9);
    }
}

TEST(EchoSpectrum, AnEchoThroughTheSearchReadsItsLossAndAFullCoherence)
{
    const Samples tx = Noise(80000, 2848.0, 21);
    const EchoPathSpectrumRecord e = ReadEchoPathSpectrum(
        SearchWhitenedDelay(tx, Echo(tx, 150, 10.0, 3.0)).spectra);
    ASSERT_TRUE(e.measured);
    EXPECT_EQ(e.segments, 10);
    for (const double erl : e.bandErl)
        EXPECT_NEAR(erl, 10.0, 0.2);
    EXPECT_GT(e.coherentCancellation, 25.0);
}

}  // namespace
