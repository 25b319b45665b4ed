// The non-linear echo measure on paths whose answer is known, and the finding's gates.
#include "evidence/NonlinearEcho.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <tuple>

#include "evidence/SampleSums.h"
#include "support/SyntheticCaptures.h"

using namespace tarnwell;
using namespace tarnwell::testcaptures;

namespace {

constexpr int kCount = 80000;  // 10 s
constexpr int kBulk = 100;

EchoPathRecord Path()
{
    EchoPathRecord p;
    std::tie(p.measured, p.bulkDelay, p.peakTap) = std::tuple{true, kBulk, 2};
    p.weights = {0, 3000, 16000, -7000, 2500, -800};
    return p;
}

// tx through Path(), then shaped sample by sample, plus line noise at about -70 dBm0.
Samples Through(const Samples& tx, const std::function<double(double)>& shape)
{
    const EchoPathRecord p = Path();
    const Samples line = Noise(kCount, 5.0, 21);
    Samples rx(tx.size());
    for (std::size_t n = 0; n < tx.size(); ++n) {
        double echo = 0.0;
        for (std::size_t j = 0; j < p.weights.size(); ++j) {
            if (n >= kBulk + j) {
                echo += p.weights[j] * static_cast<double>(tx[n - kBulk - j]) / 32768.0;
            }
        }
        rx[n] = ClampSample(shape(echo) + line[n]);
    }
    return rx;
}

TEST(NonlinearEcho, TheMeasureTellsACompressedEchoFromLinearOnes)
{
    const Samples tx = Bursts(kCount, 2848.0, 1200, 0.0, 5);
    Samples txWithDc = tx;
    for (auto& s : txWithDc)
        s = ClampSample(s + 1500.0);
    const auto linear = [](double e) { return e; };
    // Tx, Rx, and the compression's bounds (dB).
    const std::tuple<Samples, Samples, double, double> cases[] = {
        {tx, Through(tx, linear), -0.1, 0.1},
        // The line interface passes no DC: Tx's offset is no part of the echo.
        {txWithDc, Through(tx, linear), -0.1, 0.1},
        {tx, Through(tx, [](double e) { return e + 900.0; }), -0.1, 0.1},
        {tx, Through(tx, [](double e) { return 2500.0 * std::tanh(e / 2500.0); }), 0.5, 6.0},  // soft-clipped
        // An expanding path raises the loudest samples: not what a clipping hybrid does.
        {tx, Through(tx, [](double e) { return e * (1.0 + std::fabs(e) / 8000.0); }), -6.0, -0.3},
    };
    for (const auto& [txIn, rx, least, most] : cases) {
        const NonlinearEchoRecord r = MeasureNonlinearEcho(txIn, rx, Path());
        ASSERT_TRUE(r.measured);
        EXPECT_EQ(r.samples, nonlinearecho::kMaxBlocks * nonlinearecho::kBlock);
        EXPECT_TRUE(r.compression > least && r.compression < most) << r.compression;
        EXPECT_GT(r.linearShare, 10.0) << r.compression;
        EXPECT_EQ(NonlinearEchoFindings(r, {}).size(), least > 0.0 ? 1U : 0U) << r.compression;
    }
    // No pass, and too little Tx in the second half.
    EchoPathRecord none = Path();
    none.measured = false;
    EXPECT_FALSE(MeasureNonlinearEcho(tx, Through(tx, linear), none).measured);
    Samples early = tx;
    std::fill(early.begin() + kCount / 2 + 4 * 1200, early.end(), 0);
    EXPECT_FALSE(MeasureNonlinearEcho(early, Through(early, linear), Path()).measured);
}

TEST(NonlinearEcho, TheFindingNeedsALinearShareASignificantCompressionAndASteadyEcho)
{
    const NonlinearEchoRecord clipped{true, 8192, 1.0, 0.05, 15.0};
    const std::vector<Finding> drift = {{"delay-drift", Severity::Warning, "", Move::None, Move::None}};
    const auto fires = [](const NonlinearEchoRecord& r, const std::vector<Finding>& earlier = {}) {
        const std::vector<Finding> f = NonlinearEchoFindings(r, earlier);
        return f.size() == 1 && f[0].code == "nonlinear-echo" && f[0].severity == Severity::Warning &&
               f[0].text.find("returns 1.0 dB weaker") != std::string::npos;
    };
    EXPECT_TRUE(fires(clipped));
    EXPECT_FALSE(fires(clipped, drift));                                           // beside a drifting delay
    EXPECT_FALSE(fires({true, 8192, 1.0, 0.05, nonlinearecho::kMinShare - 0.1}));  // a share too low to read
    EXPECT_TRUE(fires({true, 8192, 1.0, 0.05, nonlinearecho::kMinShare}));
    EXPECT_FALSE(fires({true, 8192, nonlinearecho::kCompression - 0.01, 0.01, 15.0}));
    EXPECT_FALSE(fires({true, 8192, 1.0, 1.0 / nonlinearecho::kMinZ + 0.01, 15.0}));  // within its error
}

// Integer weights times 16-bit samples, summed over a 1024-tap path at full scale: every clone
// must give the exact integer.
TEST(NonlinearEcho, WeightedSumsStayExact)
{
    std::vector<double> out(37, 0.0);
    const std::vector<double> x(37, -32768.0);
    for (int j = 0; j < 1024; ++j) {
        AddWeightedSamples(x.data(), -32768.0, out.data(), static_cast<int>(out.size()));
    }
    for (const double v : out) {
        EXPECT_EQ(v, 1024.0 * 32768.0 * 32768.0);
    }
}

}  // namespace
