#include <array>
#include <cstdint>

#include <gtest/gtest.h>

#include "CancellerTestSupport.h"

namespace {

using cancellertest::Constant;

int LevelOfConstant(std::int16_t value)
{
    const auto frame = Constant(value);
    return EchoCanceller().FrameEnergyLevel(frame.data(), kFrameLength);
}

// Expected values worked out by hand from 10*log10((1 + sum x^2) / 80 / 32767^2) - 0.5,
// truncated toward zero.
TEST(FrameEnergyLevel, SilenceAndFullScale)
{
    EXPECT_EQ(LevelOfConstant(0), -109);  // 10*log10(1 / (80 * 32767^2)) - 0.5 = -109.84
    EXPECT_EQ(LevelOfConstant(1), -90);
    EXPECT_EQ(LevelOfConstant(32767), 0);
    EXPECT_EQ(LevelOfConstant(-32768), 0);  // 32768^2 is still exact in 32 bits
    EXPECT_EQ(LevelOfConstant(3277), -20);
}

TEST(FrameEnergyLevel, RoundsToNearestWithHalvesGoingDown)
{
    // 309 reads -40.52 before the half is taken off, 310 reads -40.49.
    EXPECT_EQ(LevelOfConstant(309), -41);
    EXPECT_EQ(LevelOfConstant(310), -40);
    // 978: -30.502 (just past the half, goes down); 979: -30.493 (stays).
    EXPECT_EQ(LevelOfConstant(978), -31);
    EXPECT_EQ(LevelOfConstant(979), -30);
    EXPECT_EQ(LevelOfConstant(-978), -31);
}

TEST(FrameEnergyLevel, SquaresEachSampleAndDividesByTheCount)
{
    // The sign does not matter and the mean is not removed: an alternating square wave
    // reads as a constant of the same amplitude.
    const auto alternating = cancellertest::Alternating(3277);
    EchoCanceller ec;
    EXPECT_EQ(ec.FrameEnergyLevel(alternating.data(), kFrameLength), -20);
    // Half the frame at 3277 and half silent: 3 dB lower (-23.0 after rounding).
    auto half = Constant(0);
    for (int i = 0; i < kFrameLength / 2; ++i) {
        half[static_cast<std::size_t>(i)] = 3277;
    }
    EXPECT_EQ(ec.FrameEnergyLevel(half.data(), kFrameLength), -23);
    // One sample: 1 + 0 over 1, i.e. 10*log10(1/32767^2) - 0.5 = -90.8.
    const std::int16_t zero = 0;
    EXPECT_EQ(ec.FrameEnergyLevel(&zero, 1), -90);
}

}  // namespace
