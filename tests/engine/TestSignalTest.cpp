// The composite test signal's shape: each half-period's parts where they belong, the second
// half inverted, the active parts at the level asked for, the quiet end silent.
#include "EngineTestSupport.h"
#include "engine/TestSignal.h"

using namespace tarnwell;
using namespace tarnwell::testsignal;

namespace {

struct LevelCase {
    const char* name;
    int seconds;
    double level;
};

const LevelCase kCases[] = {{"default", 30, -15.0}, {"quiet", 6, -20.0}, {"loud_short", 3, -10.0}};

class TestSignalTest : public ::testing::TestWithParam<LevelCase> {};

TEST_P(TestSignalTest, HasItsPartsInversionLevelAndQuietEnd)
{
    const LevelCase& c = GetParam();
    const std::vector<std::int16_t> x = Make(c.seconds, c.level);
    ASSERT_EQ(x.size(), static_cast<std::size_t>(c.seconds) * 8000);
    const DspToolkit dsp;
    EXPECT_NEAR(dsp.BlockLevel(x.data(), kVoiced), c.level, 0.05);
    EXPECT_NEAR(dsp.BlockLevel(x.data() + kVoiced, kNoise), c.level, 0.05);
    EXPECT_EQ(dsp.BlockLevel(x.data() + kVoiced + kNoise, kPause), -INFINITY);
    for (int n = 0; n < kHalfPeriod; ++n) {
        ASSERT_EQ(x[static_cast<std::size_t>(kHalfPeriod + n)], -x[static_cast<std::size_t>(n)]) << n;
        ASSERT_EQ(x[static_cast<std::size_t>(2 * kHalfPeriod + n)], x[static_cast<std::size_t>(n)]) << n;
    }
    const std::size_t quiet = c.seconds >= 4 ? kQuietTail : 0;
    EXPECT_TRUE(std::all_of(x.end() - static_cast<std::ptrdiff_t>(quiet), x.end(),
                            [](std::int16_t s) { return s == 0; }));
    EXPECT_NE(x[x.size() - quiet - kPause - 1], 0);
}

INSTANTIATE_TEST_SUITE_P(Levels, TestSignalTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
