// The level and correlation measures against their plain double loops, bit for bit: the
// vectorised divisions and the integer sums must give the reference's every bit.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "engine/DspToolkit.h"

using namespace tarnwell;

namespace {

constexpr double kLevelScale = 3.89807986822619e-9;

// The measures as first written: every term divided before it is added, every sum in a double.
double ReferenceLevel(const std::vector<std::int16_t>& x)
{
    const double n = static_cast<double>(x.size());
    double mean = 0.0;
    double meanSquare = 0.0;
    for (const std::int32_t v : x) {
        mean += v / n;
        meanSquare += static_cast<double>(v * v) / n;
    }
    return 10.0 * std::log((meanSquare - mean * mean) * kLevelScale) / std::log(10.0);
}

double ReferenceCorrelation(const std::vector<std::int16_t>& a, const std::vector<std::int16_t>& b)
{
    double sff = 0.0;
    double sss = 0.0;
    double sfs = 0.0;
    const double n = static_cast<double>(a.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        const double f = a[i];
        const double s = b[i];
        sff += f * f;
        sss += s * s;
        sfs += f * s;
    }
    return sfs / ((std::sqrt(sss / n) * std::sqrt(sff / n)) * n);
}

std::vector<std::int16_t> Block(std::size_t length, int kind, std::uint32_t seed)
{
    std::mt19937 random(seed);
    std::vector<std::int16_t> x(length);
    for (std::size_t i = 0; i < length; ++i) {
        switch (kind) {
        case 0: x[i] = static_cast<std::int16_t>(random()); break;                 // full range noise
        case 1: x[i] = i % 2 == 0 ? -32768 : 32767; break;                          // both extremes
        case 2: x[i] = static_cast<std::int16_t>(static_cast<int>(random() % 7) - 3); break;  // near silence
        default: x[i] = -32768; break;                                              // constant
        }
    }
    return x;
}

TEST(LevelKernel, LevelAndCorrelationMatchTheirPlainLoopsBitForBit)
{
    const auto same = [](double a, double b) { return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b); };
    const DspToolkit dsp;
    for (const std::size_t length : {1u, 3u, 80u, 255u, 256u, 257u, 600u, 800u, 1000u}) {
        for (int kind = 0; kind < 4; ++kind) {
            for (std::uint32_t seed = 1; seed <= 4; ++seed) {
                const auto a = Block(length, kind, seed);
                const auto b = Block(length, seed % 4 == 0 ? 0 : kind, seed + 100);
                EXPECT_TRUE(same(dsp.BlockLevel(a.data(), static_cast<int>(length)), ReferenceLevel(a)))
                    << "level, length " << length << ", kind " << kind << ", seed " << seed;
                EXPECT_TRUE(same(dsp.BlockCorrelation(a.data(), b.data(), static_cast<int>(length)),
                                 ReferenceCorrelation(a, b)))
                    << "correlation, length " << length << ", kind " << kind << ", seed " << seed;
            }
        }
    }
}

}  // namespace
