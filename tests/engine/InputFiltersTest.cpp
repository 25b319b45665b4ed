// Input filters: no state between calls, nothing written for an empty count, in place, in
// pairs or in part the same samples, saturation at both ends. Their exact outputs are pinned
// by the golden filter edges.

#include "EngineTestSupport.h"

using namespace tarnwell;
using namespace tarnwell::enginetest;

namespace {

using Filter = void (DspToolkit::*)(const std::int16_t*, std::int16_t*, int) const;

// The filter over the first count samples of in, into a buffer pre-filled with 1234.
Samples Filtered(Filter filter, const Samples& in, int count = -2)
{
    Samples out(in.size(), 1234);
    (DspToolkit().*filter)(in.data(), out.data(), count == -2 ? static_cast<int>(in.size()) : count);
    return out;
}

TEST(InputFilters, StartFromRestWriteNothingForAnEmptyCountAndGiveTheSameSamplesInPlaceInPairsOrInPart)
{
    const Samples noise = testcaptures::Noise(4000, 5000.0, 3);
    for (Filter filter : {&DspToolkit::HighPassFilter, &DspToolkit::UpperBandFilter}) {
        const Samples first = Filtered(filter, noise);
        EXPECT_EQ(Filtered(filter, noise), first);
        EXPECT_EQ(Filtered(filter, Samples(300, 0)), Samples(300, 0));  // silent after loud
        EXPECT_EQ(Filtered(filter, noise, 0), Samples(4000, 1234));
        EXPECT_EQ(Filtered(filter, noise, -1), Samples(4000, 1234));
    }
    const Samples highPassed = Filtered(&DspToolkit::HighPassFilter, noise);
    Samples inPlace = noise;
    DspToolkit().HighPassFilter(inPlace.data(), inPlace.data(), 4000);
    EXPECT_EQ(inPlace, highPassed);

    Samples one = noise, other = testcaptures::Noise(4000, 30000.0, 4);  // clipping too
    Samples otherAlone = Filtered(&DspToolkit::HighPassFilter, other), oneAlone = highPassed;
    DspToolkit().HighPassFilterPair(one.data(), other.data(), 3999);
    otherAlone.back() = other.back();  // only count samples
    oneAlone.back() = noise.back();
    EXPECT_EQ(one, oneAlone);
    EXPECT_EQ(other, otherAlone);

    const Samples whole = Filtered(&DspToolkit::UpperBandFilter, noise);
    for (auto [first, end] : {std::pair{0, 4000}, {1500, 2600}, {3999, 4000}, {2000, 2000}}) {
        Samples part(4000, 1234);
        DspToolkit().UpperBandFilter(noise.data(), part.data(), first, end);
        Samples expected(whole.begin() + first, whole.begin() + end);
        expected.resize(4000, 1234);  // nothing stored past end - first
        EXPECT_EQ(part, expected) << first << ".." << end;
    }
}

// A full-scale edge of 65535 makes the high-pass overshoot to about 0.855 * 65535 = 56000, and
// 0.591 * 65535 = 38700 next: saturated, the edge keeps its sign; wrapped, it would flip. By
// linearity the third output is 65.535 times the third of a step of 1000 (374), about 24510;
// a history holding the clipped 32767 instead of the true 56000 would be thousands away.
TEST(InputFilters, SaturateAtBothEndsAndKeepTheUnroundedHistory)
{
    Samples in(9000, -32768);
    std::fill(in.begin() + 3000, in.begin() + 6000, 32767);
    const Samples out = Filtered(&DspToolkit::HighPassFilter, in);
    for (int edge : {3000, 6000}) {
        const int sign = edge == 3000 ? 1 : -1;
        EXPECT_EQ(out[edge], sign > 0 ? 32767 : -32768);
        EXPECT_EQ(out[edge + 1], sign > 0 ? 32767 : -32768);
        EXPECT_NEAR(out[edge + 2], sign * 24510, 40);
    }
}

}  // namespace
