// The level and correlation measures against their plain double loops, bit for bit (the
// vectorised divisions and integer sums must give the reference's every bit), and the level
// on its dBm0 scale against known tones.

#include "EngineTestSupport.h"

using namespace tarnwell;
using namespace tarnwell::enginetest;

namespace {

// The measures as first written: every term divided before it is added, every sum a double.
double ReferenceLevel(const Samples& x)
{
    const double n = static_cast<double>(x.size());
    double mean = 0.0, meanSquare = 0.0;
    for (const std::int32_t v : x) {
        mean += v / n;
        meanSquare += static_cast<double>(v * v) / n;
    }
    return 10.0 * std::log((meanSquare - mean * mean) * 3.89807986822619e-9) / std::log(10.0);
}

double ReferenceCorrelation(const Samples& a, const Samples& b)
{
    double sff = 0.0, sss = 0.0, sfs = 0.0;
    const double n = static_cast<double>(a.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        sff += double(a[i]) * a[i];
        sss += double(b[i]) * b[i];
        sfs += double(a[i]) * b[i];
    }
    return sfs / ((std::sqrt(sss / n) * std::sqrt(sff / n)) * n);
}

// Kinds: full-range noise, both extremes, near silence, a constant.
Samples Block(std::size_t length, int kind, std::uint32_t seed)
{
    std::mt19937 random(seed);
    Samples x(length);
    for (std::size_t i = 0; i < length; ++i) {
        const int values[] = {static_cast<std::int16_t>(random()), i % 2 == 0 ? -32768 : 32767,
                              static_cast<int>(random() % 7) - 3, -32768};
        x[i] = static_cast<std::int16_t>(values[kind]);
    }
    return x;
}

TEST(LevelKernel, LevelAndCorrelationMatchTheirPlainLoopsBitForBit)
{
    const auto bits = [](double d) { return std::bit_cast<std::uint64_t>(d); };
    const DspToolkit dsp;
    for (const std::size_t length : {1u, 3u, 80u, 255u, 256u, 257u, 600u, 800u, 1000u}) {
        for (int kind = 0; kind < 4; ++kind) {
            for (std::uint32_t seed = 1; seed <= 4; ++seed) {
                SCOPED_TRACE(::testing::Message()
                             << "length " << length << ", kind " << kind << ", seed " << seed);
                const auto a = Block(length, kind, seed);
                const auto b = Block(length, seed % 4 == 0 ? 0 : kind, seed + 100);
                const int n = static_cast<int>(length);
                EXPECT_EQ(bits(dsp.BlockLevel(a.data(), n)), bits(ReferenceLevel(a)));
                double first = 0.0, second = 0.0;
                dsp.BlockLevelPair(a.data(), b.data(), n, first, second);
                EXPECT_EQ(bits(first), bits(ReferenceLevel(a)));
                EXPECT_EQ(bits(second), bits(ReferenceLevel(b)));
                EXPECT_EQ(bits(dsp.BlockCorrelation(a.data(), b.data(), n)),
                          bits(ReferenceCorrelation(a, b)));
            }
        }
    }
}

TEST(LevelKernel, ReadsKnownTonesOnTheDbm0ScaleAndNoSamplesAsMinusInfinity)
{
    const DspToolkit dsp;
    // 100 Hz: 800 samples are ten whole periods.
    EXPECT_NEAR(dsp.BlockLevel(Tone(800, 100.0, 32767.0).data(), 800), 3.2070, 5e-5);
    EXPECT_NEAR(dsp.BlockLevel(Tone(800, 100.0, 22651.0).data(), 800), 0.0, 5e-3);
    EXPECT_EQ(dsp.BlockLevel(Samples(800, 7).data(), 0), -std::numeric_limits<double>::infinity());
    EXPECT_EQ(dsp.BlockLevel(Samples(800, 7).data(), -5), -std::numeric_limits<double>::infinity());
}

}  // namespace
