#include "evidence/SampleSums.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

using namespace tarnwell;

namespace {

struct SumsCase {
    const char* name;
    std::vector<std::int16_t> samples;
};

// The plain 64-bit sums, sample by sample: what every clone must give.
SampleSums Reference(const std::vector<std::int16_t>& x)
{
    SampleSums s;
    for (const std::int16_t v : x) {
        s.sum += v;
        s.square += static_cast<std::int64_t>(v) * v;
    }
    return s;
}

std::vector<std::int16_t> Random(int count, unsigned seed)
{
    std::mt19937 gen(seed);
    std::uniform_int_distribution<int> value(-32768, 32767);
    std::vector<std::int16_t> x(static_cast<std::size_t>(count));
    for (auto& v : x)
        v = static_cast<std::int16_t>(value(gen));
    return x;
}

// Full-scale negative samples square to 2^30 each: the sums must not wrap in 32 bits. Odd and
// short counts reach the loops' tails.
TEST(SampleSums, MatchThePlainSums)
{
    const SumsCase cases[] = {{"empty", {}},
                              {"one", {-32768}},
                              {"positiveSegment", std::vector<std::int16_t>(5359, 32767)},
                              {"randomOdd", Random(37, 11)},
                              {"fullScaleOverChunks", std::vector<std::int16_t>(70001, -32768)},
                              {"lowBytesOverChunks", std::vector<std::int16_t>(70001, 255)},
                              {"randomOverChunks", Random(100000, 13)}};
    for (const auto& [name, x] : cases) {
        const SampleSums got = SumSamples(x.data(), static_cast<int>(x.size()));
        const SampleSums want = Reference(x);
        EXPECT_TRUE(got.sum == want.sum && got.square == want.square) << name;
    }
}

}  // namespace
