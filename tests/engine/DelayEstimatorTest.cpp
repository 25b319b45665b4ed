// Echo delay estimator: known delays of either sign, the loudest upper-band window, ties
// (earliest window, smallest lag) and captures with no window at all.

#include "EngineTestSupport.h"

using namespace tarnwell;
using namespace tarnwell::enginetest;

namespace {

constexpr int kCount = 48000;
const EchoTester engine;

int Loudest(const Samples& tx, int count = kCount)
{
    DelayTemplate segment{};
    return engine.FindLoudestSegment(tx.data(), count, segment);
}

TEST(EstimateDelay, FindsAKnownDelayOfEitherSignAndTheSmallestOfEqualLags)
{
    const Samples tx = testcaptures::Noise(kCount, 2848.0, 21);
    for (int delay : {1, 37, 1799, -250}) {  // negative: an inverted echo at 250
        Samples rx = testcaptures::Echo(tx, std::abs(delay), 9.0);
        std::ranges::transform(rx, rx.begin(),
                               [&](std::int16_t s) { return std::int16_t(delay < 0 ? -s : s); });
        EXPECT_EQ(engine.EstimateDelay(rx.data(), tx.data(), kCount), std::abs(delay));
    }
    // The loudest window twice in a silent Rx: two exactly equal correlations of 1.
    DelayTemplate segment{};
    const int origin = engine.FindLoudestSegment(tx.data(), kCount, segment);
    ASSERT_GT(origin, 0);
    Samples rx(kCount, 0);
    Place(rx, Samples(segment.begin(), segment.end()), origin + 1200);
    Place(rx, Samples(segment.begin(), segment.end()), origin + 300);
    EXPECT_EQ(engine.EstimateDelay(rx.data(), tx.data(), kCount), 300);
}

TEST(EstimateDelay, ASecondPeakMustLieMoreThanEightLagsFromTheFirst)
{
    // White Tx, its echo at 300 and a weaker one `offset` lags away: the lag curve has the
    // two peaks and chance correlations (about 0.04 over 600 samples) everywhere else.
    const Samples tx = testcaptures::Noise(kCount, 2848.0, 21);
    const struct {
        int offset;
        bool counted;
    } cases[] = {{8, false}, {9, true}, {-8, false}, {-9, true}};
    for (const auto& c : cases) {
        const Samples near = testcaptures::Echo(tx, 300, 6.0);
        const Samples far = testcaptures::Echo(tx, 300 + c.offset, 12.0);
        Samples rx(near.size());
        std::ranges::transform(near, far, rx.begin(),
                               [](std::int16_t a, std::int16_t b) { return std::int16_t(a + b); });
        DelaySearchRecord record;
        ASSERT_EQ(engine.EstimateDelay(rx.data(), tx.data(), kCount, &record), 300) << c.offset;
        EXPECT_EQ(record.secondLag == 300 + c.offset, c.counted)
            << "offset " << c.offset << ", second at " << record.secondLag;
        EXPECT_EQ(record.second > 0.3, c.counted) << "offset " << c.offset << ": " << record.second;
    }
}

TEST(FindLoudestSegment, ShortOrSilentCapturesHaveNoWindow)
{
    // The first window exists from 7199 samples on: start 3599, bound 7199 - 1799 - 1800 = 3600.
    Samples tx = testcaptures::Noise(kCount, 2848.0, 25);
    DelayTemplate segment{};
    segment.fill(77);
    EXPECT_EQ(engine.FindLoudestSegment(tx.data(), 7198, segment), 0);
    EXPECT_EQ(std::ranges::count(segment, 77), kSegmentLength) << "written without a window";
    EXPECT_EQ(Loudest(tx, 0), 0);
    EXPECT_EQ(Loudest(tx, 7199), 3599);
    EXPECT_EQ(engine.EstimateDelay(tx.data(), tx.data(), 7198), 0);
    EXPECT_EQ(engine.EstimateDelay(tx.data(), tx.data(), kCount), 0) << "an echo at lag 0 reads as none";
    // Silent from a little before the middle (the filter rung out) to the end of the third
    // quarter: no window, though the rest of the capture is loud.
    std::fill(tx.begin() + kCount / 2 - 2000, tx.begin() + kCount * 3 / 4, 0);
    EXPECT_EQ(Loudest(tx), 0);
}

TEST(FindLoudestSegment, OnlyTheUpperBandLevelDecidesAndTheEarliestOfEqualWindowsWins)
{
    // 300 Hz at -20 dBm0 filters to digital silence; 1000 Hz at 0 dBm0 to about -83 dBm0,
    // above the -100 dB floor.
    EXPECT_EQ(Loudest(Tone(kCount, 300.0, 2265.1)), 0);
    EXPECT_GE(Loudest(Tone(kCount, 1000.0, 22651.0)), kCount / 2);
    // A loud burst below the band loses to a quieter one inside it.
    Samples tx(kCount, 0);
    Place(tx, Tone(600, 500.0, 30000.0), 27000);
    Place(tx, Tone(600, 2500.0, 3000.0), 30000);
    EXPECT_EQ(Loudest(tx), 30000);

    // 2000 Hz has a period of 4 samples: once the filter has settled, every window (300
    // apart) holds the same filtered samples and measures exactly the same.
    const Samples tone = Tone(kCount, 2000.0, 8000.0, 0.785398163397448);
    Samples filtered(kCount, 0);
    engine.UpperBandFilter(tone.data(), filtered.data(), kCount);
    const auto first = filtered.begin() + kCount / 2;
    for (int start = kCount / 2 + 300; start < kCount - kCount / 4 - 1800; start += 300) {
        ASSERT_TRUE(std::equal(first, first + 600, filtered.begin() + start)) << "precondition: " << start;
    }
    DelayTemplate segment{};
    EXPECT_EQ(engine.FindLoudestSegment(tone.data(), kCount, segment), kCount / 2);
    EXPECT_TRUE(std::equal(segment.begin(), segment.end(), tone.begin() + kCount / 2))
        << "the unfiltered samples";
    EXPECT_FALSE(std::equal(segment.begin(), segment.end(), first));
}

}  // namespace
