// Input filters: no state between calls, nothing written for an empty count, saturation at
// both ends. Their exact outputs, down to every coefficient's last digit, are pinned by the
// golden filter edges.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

#include "EngineTestSupport.h"
#include "engine/DspToolkit.h"

using namespace tarnwell;

namespace {

using enginetest::Samples;

using Filter = void (DspToolkit::*)(const std::int16_t*, std::int16_t*, int) const;
constexpr Filter kHighPass = &DspToolkit::HighPassFilter;
constexpr Filter kUpperBand = &DspToolkit::UpperBandFilter;

// The filter over the first count samples of in, into a buffer pre-filled with 1234.
Samples Filtered(Filter filter, const Samples& in, int count)
{
    Samples out(in.size(), 1234);
    (DspToolkit().*filter)(in.data(), out.data(), count);
    return out;
}
Samples Filtered(Filter filter, const Samples& in) { return Filtered(filter, in, static_cast<int>(in.size())); }

Samples HighPass(const Samples& in) { return Filtered(kHighPass, in); }
Samples UpperBand(const Samples& in) { return Filtered(kUpperBand, in); }

TEST(InputFilters, StartFromRestAndWriteNothingForAnEmptyCount)
{
    const Samples noise = testcaptures::Noise(4000, 5000.0, 3);
    for (Filter filter : {kHighPass, kUpperBand}) {
        const Samples first = Filtered(filter, noise);
        EXPECT_EQ(Filtered(filter, noise), first);
        EXPECT_EQ(Filtered(filter, Samples(300, 0)), Samples(300, 0));  // silent after loud
        EXPECT_EQ(Filtered(filter, noise, 0), Samples(4000, 1234));
        EXPECT_EQ(Filtered(filter, noise, -1), Samples(4000, 1234));
    }
}

// In place, two at once, and a stretch of the upper band's output alone: the same samples.
TEST(InputFilters, RunInPlaceAndKeepJustAStretchWhenAsked)
{
    const Samples noise = testcaptures::Noise(4000, 5000.0, 3);
    Samples inPlace = noise;
    DspToolkit().HighPassFilter(inPlace.data(), inPlace.data(), 4000);
    EXPECT_EQ(inPlace, HighPass(noise));
    Samples one = noise;
    Samples other = testcaptures::Noise(4000, 30000.0, 4);  // clipping too
    const Samples otherAlone = HighPass(other);
    DspToolkit().HighPassFilterPair(one.data(), other.data(), 3999);
    EXPECT_EQ(Samples(one.begin(), one.end() - 1), Samples(inPlace.begin(), inPlace.end() - 1));
    EXPECT_EQ(Samples(other.begin(), other.end() - 1), Samples(otherAlone.begin(), otherAlone.end() - 1));
    EXPECT_EQ(one.back(), noise.back()) << "only count samples";

    const Samples whole = UpperBand(noise);
    for (auto [first, end] : {std::pair{0, 4000}, {1500, 2600}, {3999, 4000}, {2000, 2000}}) {
        Samples part(4000, 1234);
        DspToolkit().UpperBandFilter(noise.data(), part.data(), first, end);
        Samples expected(whole.begin() + first, whole.begin() + end);
        expected.resize(4000, 1234);  // nothing stored past end - first
        EXPECT_EQ(part, expected) << first << ".." << end;
    }
}

// A full-scale edge of 65535 makes the high-pass overshoot to about 0.855 * 65535 = 56000.
// Saturated, the edge keeps its sign; wrapped, it would flip to the other.
TEST(InputFilters, SaturateAtBothEndsAndKeepTheUnroundedHistory)
{
    Samples in(9000, -32768);
    std::fill(in.begin() + 3000, in.begin() + 6000, 32767);
    const Samples out = HighPass(in);
    EXPECT_EQ(out[3000], 32767);
    EXPECT_EQ(out[3001], 32767);  // 0.591 * 65535 = 38700, still beyond full scale
    EXPECT_EQ(out[6000], -32768);
    EXPECT_EQ(out[6001], -32768);
    // By linearity the third output is 65.535 times the third of a step of 1000 (374): about
    // 24510. A history holding the clipped 32767 instead of the true 56000 would be thousands away.
    EXPECT_NEAR(out[3002], 24510, 40);
    EXPECT_NEAR(out[6002], -24510, 40);
}

}  // namespace
