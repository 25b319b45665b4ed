// BlockLevel on its dBm0 scale, minus infinity for silence. BlockCorrelation's values reach
// the pinned delays and ERLs of the golden runs; its NaN for silence is in the ERL tests.
#include <gtest/gtest.h>

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

}  // namespace
