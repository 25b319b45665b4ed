// Signal measures: BlockLevel on its dBm0 scale and BlockCorrelation, including the
// non-finite results that degenerate blocks give.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "EngineTestSupport.h"
#include "engine/DspToolkit.h"

namespace {

using enginetest::Alternating;
using enginetest::Samples;
using enginetest::Tone;

constexpr double kMinusInfinity = -std::numeric_limits<double>::infinity();

TEST(BlockLevel, SilenceAndEmptyBlocksMeasureMinusInfinity)
{
    const DspToolkit dsp;
    const Samples zeros(800, 0);
    const double silent = dsp.BlockLevel(zeros.data(), 800);
    EXPECT_EQ(silent, kMinusInfinity);
    EXPECT_FALSE(silent > -100.0);
    EXPECT_EQ(dsp.BlockLevel(zeros.data(), 0), kMinusInfinity);
    EXPECT_EQ(dsp.BlockLevel(zeros.data(), -5), kMinusInfinity);
}

TEST(BlockLevel, KnownSinesReadOnTheDbm0Scale)
{
    const DspToolkit dsp;
    // 100 Hz at 8 kHz: 800 samples are ten whole periods of 80.
    const Samples fullScale = Tone(800, 100.0, 32767.0);
    EXPECT_NEAR(dsp.BlockLevel(fullScale.data(), 800), 3.2070, 5e-5);
    const Samples reference = Tone(800, 100.0, 22651.0);
    EXPECT_NEAR(dsp.BlockLevel(reference.data(), 800), 0.0, 5e-3);
}

TEST(BlockLevel, IsTenLog10OfTheVarianceTimesTheScale)
{
    const DspToolkit dsp;
    // Alternating +-1000: mean 0 and mean square 10^6, both exact in the running sums.
    const Samples block = Alternating(800, 1000);
    EXPECT_NEAR(dsp.BlockLevel(block.data(), 800), 10.0 * std::log10(1.0e6 / 256536560.0), 1e-9);
    // Doubling every sample adds 20*log10(2) = 6.0206 dB.
    const Samples twice = Alternating(800, 2000);
    EXPECT_NEAR(dsp.BlockLevel(twice.data(), 800) - dsp.BlockLevel(block.data(), 800), 6.0206, 1e-4);
}

TEST(BlockLevel, IgnoresAConstantOffset)
{
    const DspToolkit dsp;
    const Samples noise = testcaptures::Noise(800, 2000.0, 7);
    Samples shifted = noise;
    for (auto& s : shifted) {
        s = static_cast<std::int16_t>(s + 1000);
    }
    EXPECT_NEAR(dsp.BlockLevel(shifted.data(), 800), dsp.BlockLevel(noise.data(), 800), 1e-6);
}

TEST(BlockLevel, AConstantBlockIsNeverCountedAsActive)
{
    // Rounding leaves a variance of 0, slightly below 0 (NaN) or tiny: never above -100 dB.
    const DspToolkit dsp;
    for (int value : {1, 1000, -1000, 12345, 32767, -32768}) {
        const Samples block(80, static_cast<std::int16_t>(value));
        for (int count : {80, 600, 7}) {
            const Samples longer(static_cast<std::size_t>(count), static_cast<std::int16_t>(value));
            EXPECT_FALSE(dsp.BlockLevel(longer.data(), count) > -100.0) << value << " x " << count;
        }
        EXPECT_FALSE(dsp.BlockLevel(block.data(), 80) > -100.0) << value;
    }
}

TEST(BlockCorrelation, IsTheCosineBetweenTheBlocks)
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
    // Scale does not matter, only shape (up to the integer division's rounding).
    EXPECT_GT(dsp.BlockCorrelation(noise.data(), third.data(), 600), 0.9999);

    const Samples first = {3, 0, 0, 0};
    const Samples second = {0, -7, 0, 0};
    EXPECT_EQ(dsp.BlockCorrelation(first.data(), second.data(), 4), 0.0);
}

TEST(BlockCorrelation, DoesNotRemoveTheMeans)
{
    // Two independent noises on a common offset of 1000: nearly uncorrelated once centred,
    // but the cosine of the raw blocks is close to 1.
    const DspToolkit dsp;
    Samples a = testcaptures::Noise(800, 10.0, 1);
    Samples b = testcaptures::Noise(800, 10.0, 2);
    for (std::size_t i = 0; i < a.size(); ++i) {
        a[i] = static_cast<std::int16_t>(a[i] + 1000);
        b[i] = static_cast<std::int16_t>(b[i] + 1000);
    }
    EXPECT_GT(dsp.BlockCorrelation(a.data(), b.data(), 800), 0.999);
}

TEST(BlockCorrelation, SilenceOrAnEmptyBlockGivesNotANumber)
{
    const DspToolkit dsp;
    const Samples noise = testcaptures::Noise(800, 3000.0, 5);
    const Samples zeros(800, 0);
    EXPECT_TRUE(std::isnan(dsp.BlockCorrelation(noise.data(), zeros.data(), 800)));
    EXPECT_TRUE(std::isnan(dsp.BlockCorrelation(zeros.data(), noise.data(), 800)));
    EXPECT_TRUE(std::isnan(dsp.BlockCorrelation(noise.data(), noise.data(), 0)));
    // What the callers rely on: NaN fails a strict comparison against any running best.
    EXPECT_FALSE(std::fabs(dsp.BlockCorrelation(noise.data(), zeros.data(), 800)) > 0.0);
}

}  // namespace
