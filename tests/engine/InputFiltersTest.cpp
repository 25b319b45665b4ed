// Input filters: exact outputs for the reference inputs (constant 1000, impulse of 10000),
// rounding of negative outputs, saturation at both ends, no state between calls, and the
// pass and stop bands each filter promises.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "EngineTestSupport.h"
#include "engine/DspToolkit.h"

namespace {

using enginetest::Samples;
using enginetest::Tone;

Samples HighPass(const Samples& in)
{
    Samples out(in.size(), 0);
    DspToolkit().HighPassFilter(in.data(), out.data(), static_cast<int>(in.size()));
    return out;
}

Samples UpperBand(const Samples& in)
{
    Samples out(in.size(), 0);
    DspToolkit().UpperBandFilter(in.data(), out.data(), static_cast<int>(in.size()));
    return out;
}

Samples Head(const Samples& s, std::size_t n) { return Samples(s.begin(), s.begin() + static_cast<long>(n)); }

// The reference outputs below are the filters' documented responses, computed from the
// coefficients independently of this code; the negative ones pin trunc(y + 0.5) toward zero.
TEST(HighPassFilter, ConstantInputGivesTheReferenceStepResponse)
{
    const Samples out = HighPass(Samples(3000, 1000));
    EXPECT_EQ(Head(out, 12), (Samples{855, 591, 374, 198, 56, -55, -143, -209, -256, -286, -303, -307}));
    // DC is blocked: the step decays to nothing.
    for (std::size_t i = 2000; i < out.size(); ++i) {
        ASSERT_EQ(out[i], 0) << "at " << i;
    }
}

TEST(HighPassFilter, ImpulseGivesTheReferenceResponse)
{
    Samples in(12, 0);
    in[0] = 10000;
    EXPECT_EQ(HighPass(in), (Samples{8549, -2641, -2163, -1760, -1418, -1126, -874, -656, -468, -305, -164, -44}));
}

TEST(UpperBandFilter, ConstantInputGivesTheReferenceStepResponse)
{
    EXPECT_EQ(Head(UpperBand(Samples(100, 1000)), 12),
              (Samples{15, -74, 175, -221, 115, 71, -122, -8, 109, -28, -73, 23}));
}

TEST(InputFilters, ZerosGiveZerosAndAnEmptyCountWritesNothing)
{
    const DspToolkit dsp;
    const Samples zeros(500, 0);
    EXPECT_EQ(HighPass(zeros), zeros);
    EXPECT_EQ(UpperBand(zeros), zeros);

    const Samples in(16, 1000);
    for (int count : {0, -1}) {
        Samples out(16, 1234);
        dsp.HighPassFilter(in.data(), out.data(), count);
        EXPECT_EQ(out, Samples(16, 1234));
        dsp.UpperBandFilter(in.data(), out.data(), count);
        EXPECT_EQ(out, Samples(16, 1234));
    }
}

TEST(InputFilters, EveryCallStartsFromRest)
{
    const Samples noise = testcaptures::Noise(4000, 5000.0, 3);
    const Samples first = HighPass(noise);
    EXPECT_EQ(HighPass(noise), first);
    const Samples upper = UpperBand(noise);
    EXPECT_EQ(UpperBand(noise), upper);
    // A call on a silent buffer after a loud one is still silent.
    EXPECT_EQ(UpperBand(Samples(300, 0)), Samples(300, 0));
}

// A full-scale edge of 65535 makes the high-pass overshoot to about 0.855 * 65535 = 56000.
// Saturated, the edge stays an edge of its own sign; wrapped, it would flip to the other.
TEST(HighPassFilter, SaturatesAtBothEndsAndKeepsTheUnroundedHistory)
{
    Samples in(9000, -32768);
    for (std::size_t i = 3000; i < 6000; ++i) {
        in[i] = 32767;
    }
    const Samples out = HighPass(in);
    EXPECT_EQ(out[3000], 32767);
    EXPECT_EQ(out[3001], 32767);  // 0.591 * 65535 = 38700, still beyond full scale
    EXPECT_EQ(out[6000], -32768);
    EXPECT_EQ(out[6001], -32768);
    // The third output after an edge is back in range. By linearity it is 65.535 times the
    // third output of the 1000-step (374, so 373.5..374.5): about 24510. Had the history kept
    // the clipped 32767 instead of the true 56000, it would be thousands away.
    EXPECT_NEAR(out[3002], 24510, 40);
    EXPECT_NEAR(out[6002], -24510, 40);
}

TEST(UpperBandFilter, SaturatesAtBothEnds)
{
    // The alternating full-scale signal sits at 4000 Hz, where the gain is 1; the step into it
    // overshoots, and the result never wraps to the opposite sign.
    const Samples in = enginetest::Alternating(400, 32767);
    const Samples out = UpperBand(in);
    int clippedHigh = 0;
    int clippedLow = 0;
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (in[i] > 0) {
            ASSERT_GE(out[i], -1000) << "wrapped at " << i;
        } else {
            ASSERT_LE(out[i], 1000) << "wrapped at " << i;
        }
        clippedHigh += out[i] == 32767;
        clippedLow += out[i] == -32768;
    }
    EXPECT_GT(clippedHigh, 0);
    EXPECT_GT(clippedLow, 0);
}

double LevelOf(const Samples& s, int from, int count)
{
    return DspToolkit().BlockLevel(s.data() + from, count);
}

TEST(HighPassFilter, PassesTheVoiceBandAndStopsBelowFiftyHertz)
{
    const Samples voice = Tone(8000, 1000.0, 10000.0);
    const double gain = LevelOf(HighPass(voice), 4000, 3200) - LevelOf(voice, 4000, 3200);
    EXPECT_LE(gain, 0.02);
    EXPECT_GE(gain, -0.45);

    const Samples hum = Tone(16000, 25.0, 22651.0);  // 0 dBm0
    EXPECT_LT(LevelOf(HighPass(hum), 12800, 3200), -45.0);
}

TEST(UpperBandFilter, PassesTheUpperBandAndStopsBelow1607Hertz)
{
    const Samples high = Tone(8000, 3000.0, 10000.0);
    const double gain = LevelOf(UpperBand(high), 4000, 3200) - LevelOf(high, 4000, 3200);
    EXPECT_LE(gain, 0.02);
    EXPECT_GE(gain, -1.05);

    const Samples low = Tone(16000, 1000.0, 22651.0);  // 0 dBm0, at least 80 dB down
    EXPECT_LT(LevelOf(UpperBand(low), 8000, 8000), -75.0);
}

}  // namespace
