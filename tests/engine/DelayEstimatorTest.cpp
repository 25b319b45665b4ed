// Echo delay estimator: the loudest upper-band Tx window and the lag search, with known
// delays, ties (earliest window, smallest lag), silent stretches and short captures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

#include "EngineTestSupport.h"
#include "engine/EchoTester.h"

namespace {

using enginetest::Samples;
using enginetest::Tone;

constexpr int kCount = 48000;

TEST(EstimateDelay, FindsAKnownDelayInNoise)
{
    const EchoTester engine;
    const Samples tx = testcaptures::Noise(kCount, 2848.0, 21);
    for (int delay : {1, 37, 480, 1000, 1799}) {
        const Samples rx = testcaptures::Echo(tx, delay, 9.0);
        EXPECT_EQ(engine.EstimateDelay(rx.data(), tx.data(), kCount), delay);
    }
}

TEST(EstimateDelay, UsesTheAbsoluteCorrelation)
{
    const EchoTester engine;
    const Samples tx = testcaptures::Noise(kCount, 2848.0, 22);
    Samples rx = testcaptures::Echo(tx, 250, 6.0);
    for (auto& s : rx) {
        s = static_cast<std::int16_t>(-s);
    }
    EXPECT_EQ(engine.EstimateDelay(rx.data(), tx.data(), kCount), 250);
}

TEST(EstimateDelay, NoEchoOrAnEchoAtLagZeroGivesZero)
{
    const EchoTester engine;
    const Samples tx = testcaptures::Noise(kCount, 2848.0, 23);
    // Every Rx window silent: every correlation is NaN and none wins.
    const Samples silent(kCount, 0);
    EXPECT_EQ(engine.EstimateDelay(silent.data(), tx.data(), kCount), 0);
    // The best match at lag 0 reads the same as a failure.
    EXPECT_EQ(engine.EstimateDelay(tx.data(), tx.data(), kCount), 0);
}

TEST(EstimateDelay, AmongEqualLagsTheSmallestWins)
{
    const EchoTester engine;
    const Samples tx = testcaptures::Noise(kCount, 2848.0, 24);
    DelayTemplate segment{};
    const int origin = engine.FindLoudestSegment(tx.data(), kCount, segment);
    ASSERT_GT(origin, 0);
    // The template twice in a silent Rx, at lags 300 and 1200: two identical windows, so two
    // exactly equal correlations of 1.
    Samples rx(kCount, 0);
    const Samples copy(segment.begin(), segment.end());
    enginetest::Place(rx, copy, origin + 300);
    enginetest::Place(rx, copy, origin + 1200);
    EXPECT_EQ(engine.EstimateDelay(rx.data(), tx.data(), kCount), 300);
}

TEST(FindLoudestSegment, ShortCapturesHaveNoWindow)
{
    // The first window exists from 7199 samples on: start 3599, bound 7199 - 1799 - 1800 = 3600.
    const EchoTester engine;
    const Samples tx = testcaptures::Noise(7199, 2848.0, 25);
    DelayTemplate segment{};
    segment.fill(77);
    EXPECT_EQ(engine.FindLoudestSegment(tx.data(), 7198, segment), 0);
    EXPECT_TRUE(std::all_of(segment.begin(), segment.end(), [](std::int16_t s) { return s == 77; }));
    EXPECT_EQ(engine.EstimateDelay(tx.data(), tx.data(), 7198), 0);
    EXPECT_EQ(engine.FindLoudestSegment(tx.data(), 7199, segment), 3599);
    EXPECT_EQ(engine.FindLoudestSegment(tx.data(), 0, segment), 0);
}

TEST(FindLoudestSegment, ASilentThirdQuarterGivesNoWindow)
{
    const EchoTester engine;
    // Silent from a little before the middle, so that the filter's ringing has died out by
    // the first window, to the end of the third quarter.
    Samples tx = testcaptures::Noise(kCount, 2848.0, 26);
    std::fill(tx.begin() + kCount / 2 - 2000, tx.begin() + kCount * 3 / 4, 0);
    DelayTemplate segment{};
    segment.fill(77);
    EXPECT_EQ(engine.FindLoudestSegment(tx.data(), kCount, segment), 0);
    EXPECT_EQ(segment[0], 77);
    const Samples rx = testcaptures::Echo(tx, 100, 6.0);
    EXPECT_EQ(engine.EstimateDelay(rx.data(), tx.data(), kCount), 0);
}

TEST(FindLoudestSegment, OnlyTheUpperBandLevelDecides)
{
    const EchoTester engine;
    DelayTemplate segment{};
    // A 300 Hz tone at -20 dBm0 filters to digital silence: no window.
    const Samples low = Tone(kCount, 300.0, 2265.1);
    EXPECT_EQ(engine.FindLoudestSegment(low.data(), kCount, segment), 0);
    // A 1000 Hz tone at 0 dBm0 leaves about -83 dBm0, above the -100 dB floor.
    const Samples mid = Tone(kCount, 1000.0, 22651.0);
    EXPECT_GE(engine.FindLoudestSegment(mid.data(), kCount, segment), kCount / 2);
    // A loud burst below the band loses to a quieter one inside it.
    Samples tx(kCount, 0);
    enginetest::Place(tx, Tone(600, 500.0, 30000.0), 27000);
    enginetest::Place(tx, Tone(600, 2500.0, 3000.0), 30000);
    EXPECT_EQ(engine.FindLoudestSegment(tx.data(), kCount, segment), 30000);
}

TEST(FindLoudestSegment, EqualWindowsChooseTheEarliestAndCopyTheUnfilteredSamples)
{
    // A 2000 Hz tone has a period of 4 samples, so once the filter has settled every window
    // (300 samples apart) holds the same filtered samples and measures exactly the same.
    const EchoTester engine;
    const Samples tx = Tone(kCount, 2000.0, 8000.0, 0.785398163397448);
    Samples filtered(kCount, 0);
    engine.UpperBandFilter(tx.data(), filtered.data(), kCount);
    const int first = kCount / 2;
    for (int start = first + 300; start < kCount - kCount / 4 - 1800; start += 300) {
        ASSERT_TRUE(std::equal(filtered.begin() + first, filtered.begin() + first + 600,
                               filtered.begin() + start))
            << "precondition: windows at " << first << " and " << start << " differ";
    }
    DelayTemplate segment{};
    EXPECT_EQ(engine.FindLoudestSegment(tx.data(), kCount, segment), first);
    EXPECT_TRUE(std::equal(segment.begin(), segment.end(), tx.begin() + first));
    EXPECT_FALSE(std::equal(segment.begin(), segment.end(), filtered.begin() + first));
}

}  // namespace
