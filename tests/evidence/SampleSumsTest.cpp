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

class SampleSumsTest : public testing::TestWithParam<SumsCase> {};

TEST_P(SampleSumsTest, MatchesThePlainSums)
{
    const auto& x = GetParam().samples;
    const SampleSums got = SumSamples(x.data(), static_cast<int>(x.size()));
    const SampleSums want = Reference(x);
    EXPECT_EQ(got.sum, want.sum);
    EXPECT_EQ(got.square, want.square);
}

// Full-scale negative samples square to 2^30 each: the sums must not wrap in 32 bits. Odd and
// short counts reach the loops' tails.
INSTANTIATE_TEST_SUITE_P(
    Cases, SampleSumsTest,
    testing::Values(SumsCase{"empty", {}}, SumsCase{"one", {-32768}},
                    SumsCase{"positiveSegment", std::vector<std::int16_t>(5359, 32767)},
                    SumsCase{"randomOdd", Random(37, 11)},
                    SumsCase{"fullScaleOverChunks", std::vector<std::int16_t>(70001, -32768)},
                    SumsCase{"lowBytesOverChunks", std::vector<std::int16_t>(70001, 255)},
                    SumsCase{"randomOverChunks", Random(100000, 13)}),
    [](const testing::TestParamInfo<SumsCase>& info) { return std::string(info.param.name); });

}  // namespace
