// Echo delay estimator: known delays, the loudest upper-band window, ties (earliest window,
// smallest lag) and captures with no window at all.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

#include "EngineTestSupport.h"
#include "engine/EchoTester.h"

using namespace tarnwell;

namespace {

using enginetest::Samples;
using enginetest::Tone;

constexpr int kCount = 48000;

TEST(EstimateDelay, FindsAKnownDelayOfEitherSign)
{
    const EchoTester engine;
    const Samples tx = testcaptures::Noise(kCount, 2848.0, 21);
    for (int delay : {1, 37, 480, 1799, -250}) {  // negative: an inverted echo at 250
        Samples rx = testcaptures::Echo(tx, std::abs(delay), 9.0);
        for (auto& s : rx) {
            s = static_cast<std::int16_t>(delay < 0 ? -s : s);
        }
        EXPECT_EQ(engine.EstimateDelay(rx.data(), tx.data(), kCount), std::abs(delay));
    }
}

TEST(EstimateDelay, AmongEqualLagsTheSmallestWins)
{
    const EchoTester engine;
    const Samples tx = testcaptures::Noise(kCount, 2848.0, 24);
    DelayTemplate segment{};
    const int origin = engine.FindLoudestSegment(tx.data(), kCount, segment);
    ASSERT_GT(origin, 0);
    // The template twice in a silent Rx: two exactly equal correlations of 1.
    Samples rx(kCount, 0);
    enginetest::Place(rx, Samples(segment.begin(), segment.end()), origin + 300);
    enginetest::Place(rx, Samples(segment.begin(), segment.end()), origin + 1200);
    EXPECT_EQ(engine.EstimateDelay(rx.data(), tx.data(), kCount), 300);
}

TEST(FindLoudestSegment, ShortOrSilentCapturesHaveNoWindow)
{
    // The first window exists from 7199 samples on: start 3599, bound 7199 - 1799 - 1800 = 3600.
    const EchoTester engine;
    Samples tx = testcaptures::Noise(kCount, 2848.0, 25);
    DelayTemplate segment{};
    segment.fill(77);
    EXPECT_EQ(engine.FindLoudestSegment(tx.data(), 7198, segment), 0);
    EXPECT_EQ(engine.FindLoudestSegment(tx.data(), 0, segment), 0);
    EXPECT_EQ(std::count(segment.begin(), segment.end(), 77), kSegmentLength) << "written without a window";
    EXPECT_EQ(engine.EstimateDelay(tx.data(), tx.data(), 7198), 0);
    EXPECT_EQ(engine.EstimateDelay(tx.data(), tx.data(), kCount), 0) << "an echo at lag 0 reads as none";
    EXPECT_EQ(engine.FindLoudestSegment(tx.data(), 7199, segment), 3599);

    // Silent from a little before the middle (so the filter has rung out) to the end of the
    // third quarter: no window, though the rest of the capture is loud.
    std::fill(tx.begin() + kCount / 2 - 2000, tx.begin() + kCount * 3 / 4, 0);
    EXPECT_EQ(engine.FindLoudestSegment(tx.data(), kCount, segment), 0);
}

TEST(FindLoudestSegment, OnlyTheUpperBandLevelDecides)
{
    const EchoTester engine;
    DelayTemplate segment{};
    // 300 Hz at -20 dBm0 filters to digital silence; 1000 Hz at 0 dBm0 to about -83 dBm0,
    // above the -100 dB floor.
    EXPECT_EQ(engine.FindLoudestSegment(Tone(kCount, 300.0, 2265.1).data(), kCount, segment), 0);
    EXPECT_GE(engine.FindLoudestSegment(Tone(kCount, 1000.0, 22651.0).data(), kCount, segment), kCount / 2);
    // A loud burst below the band loses to a quieter one inside it.
    Samples tx(kCount, 0);
    enginetest::Place(tx, Tone(600, 500.0, 30000.0), 27000);
    enginetest::Place(tx, Tone(600, 2500.0, 3000.0), 30000);
    EXPECT_EQ(engine.FindLoudestSegment(tx.data(), kCount, segment), 30000);
}

TEST(FindLoudestSegment, EqualWindowsChooseTheEarliestAndCopyTheUnfilteredSamples)
{
    // 2000 Hz has a period of 4 samples: once the filter has settled, every window (300
    // apart) holds the same filtered samples and measures exactly the same.
    const EchoTester engine;
    const Samples tx = Tone(kCount, 2000.0, 8000.0, 0.785398163397448);
    Samples filtered(kCount, 0);
    engine.UpperBandFilter(tx.data(), filtered.data(), kCount);
    const auto first = filtered.begin() + kCount / 2;
    for (int start = kCount / 2 + 300; start < kCount - kCount / 4 - 1800; start += 300) {
        ASSERT_TRUE(std::equal(first, first + 600, filtered.begin() + start)) << "precondition: " << start;
    }
    DelayTemplate segment{};
    EXPECT_EQ(engine.FindLoudestSegment(tx.data(), kCount, segment), kCount / 2);
    EXPECT_TRUE(std::equal(segment.begin(), segment.end(), tx.begin() + kCount / 2));
    EXPECT_FALSE(std::equal(segment.begin(), segment.end(), first));
}

}  // namespace
