// The non-linear echo measure on paths whose answer is known, and the finding's gates.
#include "evidence/NonlinearEcho.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>

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
    p.measured = true;
    p.bulkDelay = kBulk;
    p.weights = {0, 3000, 16000, -7000, 2500, -800};
    p.peakTap = 2;
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
    const struct {
        const char* name;
        Samples tx;
        Samples rx;
        double minCompression;
        double maxCompression;
        bool fires;
    } cases[] = {
        {"linear", tx, Through(tx, linear), -0.1, 0.1, false},
        // The line interface passes no DC: Tx's offset is no part of the echo.
        {"Tx offset the hybrid blocks", txWithDc, Through(tx, linear), -0.1, 0.1, false},
        {"Rx offset", tx, Through(tx, [](double e) { return e + 900.0; }), -0.1, 0.1, false},
        {"soft-clipped", tx, Through(tx, [](double e) { return 2500.0 * std::tanh(e / 2500.0); }), 0.5, 6.0,
         true},
        // An expanding path raises the loudest samples: not what a clipping hybrid does.
        {"expanding", tx, Through(tx, [](double e) { return e * (1.0 + std::fabs(e) / 8000.0); }), -6.0, -0.3,
         false},
    };
    for (const auto& c : cases) {
        const NonlinearEchoRecord r = MeasureNonlinearEcho(c.tx, c.rx, Path());
        ASSERT_TRUE(r.measured) << c.name;
        EXPECT_EQ(r.samples, nonlinearecho::kMaxBlocks * nonlinearecho::kBlock) << c.name;
        EXPECT_GT(r.compression, c.minCompression) << c.name;
        EXPECT_LT(r.compression, c.maxCompression) << c.name;
        EXPECT_GT(r.linearShare, 10.0) << c.name;
        EXPECT_EQ(NonlinearEchoFindings(r, {}).size(), c.fires ? 1U : 0U) << c.name;
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
    const struct {
        const char* name;
        NonlinearEchoRecord record;
        std::vector<Finding> earlier;
        bool fires;
    } cases[] = {
        {"clipped", clipped, {}, true},
        {"beside a drifting delay", clipped, drift, false},
        {"a share too low to read", {true, 8192, 1.0, 0.05, nonlinearecho::kMinShare - 0.1}, {}, false},
        {"at the share's edge", {true, 8192, 1.0, 0.05, nonlinearecho::kMinShare}, {}, true},
        {"under the compression", {true, 8192, nonlinearecho::kCompression - 0.01, 0.01, 15.0}, {}, false},
        {"within its error", {true, 8192, 1.0, 1.0 / nonlinearecho::kMinZ + 0.01, 15.0}, {}, false},
    };
    for (const auto& c : cases) {
        const std::vector<Finding> f = NonlinearEchoFindings(c.record, c.earlier);
        ASSERT_EQ(f.size(), c.fires ? 1U : 0U) << c.name;
        if (c.fires) {
            EXPECT_EQ(f[0].code, "nonlinear-echo");
            EXPECT_EQ(f[0].severity, Severity::Warning);
            EXPECT_NE(f[0].text.find("returns 1.0 dB weaker"), std::string::npos) << f[0].text;
        }
    }
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
