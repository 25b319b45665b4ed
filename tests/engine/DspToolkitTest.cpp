// Signal measures: BlockLevel on its dBm0 scale and BlockCorrelation, including the
// non-finite results that degenerate blocks give.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "EngineTestSupport.h"
#include "engine/DspToolkit.h"

using namespace tarnwell;

namespace {

using enginetest::Samples;
using enginetest::Tone;

Samples Shifted(Samples s, int offset)
{
    for (auto& x : s) {
        x = static_cast<std::int16_t>(x + offset);
    }
    return s;
}

TEST(BlockLevel, ReadsKnownSignalsOnTheDbm0ScaleAndSilenceAsMinusInfinity)
{
    const DspToolkit dsp;
    // 100 Hz: 800 samples are ten whole periods.
    EXPECT_NEAR(dsp.BlockLevel(Tone(800, 100.0, 32767.0).data(), 800), 3.2070, 5e-5);
    EXPECT_NEAR(dsp.BlockLevel(Tone(800, 100.0, 22651.0).data(), 800), 0.0, 5e-3);
    // The variance, not the mean square: a constant offset does not raise the level.
    const Samples noise = testcaptures::Noise(800, 2000.0, 7);
    EXPECT_NEAR(dsp.BlockLevel(Shifted(noise, 1000).data(), 800), dsp.BlockLevel(noise.data(), 800), 1e-6);
    for (int count : {800, 0, -5}) {
        EXPECT_EQ(dsp.BlockLevel(Samples(800, 0).data(), count), -std::numeric_limits<double>::infinity()) << count;
    }
}

TEST(BlockCorrelation, IsTheCosineOfTheRawBlocksAndNotANumberForSilence)
{
    const DspToolkit dsp;
    const Samples noise = testcaptures::Noise(600, 3000.0, 11);
    Samples negated = noise;
    Samples third = noise;
    for (std::size_t i = 0; i < noise.size(); ++i) {
        negated[i] = static_cast<std::int16_t>(-noise[i]);
        third[i] = static_cast<std::int16_t>(noise[i] / 3);
    }
    EXPECT_NEAR(dsp.BlockCorrelation(noise.data(), noise.data(), 600), 1.0, 1e-15);
    EXPECT_NEAR(dsp.BlockCorrelation(noise.data(), negated.data(), 600), -1.0, 1e-15);
    EXPECT_GT(dsp.BlockCorrelation(noise.data(), third.data(), 600), 0.9999);  // shape, not scale
    // Means are not removed: independent noises on a common offset read close to 1.
    const Samples a = Shifted(testcaptures::Noise(800, 10.0, 1), 1000);
    const Samples b = Shifted(testcaptures::Noise(800, 10.0, 2), 1000);
    EXPECT_GT(dsp.BlockCorrelation(a.data(), b.data(), 800), 0.999);

    const Samples zeros(600, 0);
    EXPECT_TRUE(std::isnan(dsp.BlockCorrelation(noise.data(), zeros.data(), 600)));
    EXPECT_TRUE(std::isnan(dsp.BlockCorrelation(zeros.data(), noise.data(), 600)));
    EXPECT_TRUE(std::isnan(dsp.BlockCorrelation(noise.data(), noise.data(), 0)));
}

}  // namespace
