#include <algorithm>
#include <cstdint>
#include <memory>

#include <gtest/gtest.h>

#include "CancellerTestSupport.h"

namespace {

TEST(InitCanceller, RoundsAnOddTailUpToEven)
{
    EchoCanceller ec;
    auto state = std::make_unique<CancellerState>();
    for (auto [given, used] : {std::pair{63, 64}, {64, 64}, {0, 0}, {1, 2}, {1023, 1024}}) {
        CancellerConfig config{given, 0, 1, 10, 3};
        ec.InitCanceller(*state, config);
        EXPECT_EQ(state->tail, used) << "tail " << given;
        EXPECT_EQ(config.tail, given);
    }
}

TEST(InitCanceller, NegativeNlpSettingsTakeDefaultsInTheCallersRecord)
{
    EchoCanceller ec;
    auto state = std::make_unique<CancellerState>();
    CancellerConfig config{128, 400, 1, -5, -1};
    ec.InitCanceller(*state, config);
    EXPECT_EQ(state->nlpShift, 3);
    EXPECT_EQ(state->nlpDiff, 10);
    EXPECT_EQ(config.nlpShift, 3);
    EXPECT_EQ(config.nlpDiff, 10);
    EXPECT_EQ(state->bulkDelay, 400);

    // Zero is a setting, not a request for the default.
    CancellerConfig zero{128, 0, 0, 0, 0};
    ec.InitCanceller(*state, zero);
    EXPECT_EQ(state->nlpShift, 0);
    EXPECT_EQ(state->nlpDiff, 0);
    EXPECT_EQ(state->nlpEnable, 0);
}

TEST(InitCanceller, ClearsAUsedStateButLeavesTheAdaptationFlag)
{
    EchoCanceller ec;
    auto state = std::make_unique<CancellerState>();
    std::fill(std::begin(state->coefficients), std::end(state->coefficients), 12345);
    std::fill(std::begin(state->history), std::end(state->history), std::int16_t{-7});
    state->step = 99;
    state->normaliser = 50;
    state->adaptState = AdaptSlow;
    state->convergeTimer = 8000;
    state->mode = ModeHold;
    state->modeCounter = 5;
    state->adaptFlag = 1;

    CancellerConfig config{1024, 8000, 1, 100, 10};
    ec.InitCanceller(*state, config);
    EXPECT_TRUE(std::all_of(std::begin(state->coefficients), std::end(state->coefficients),
                            [](std::int32_t c) { return c == 0; }));
    EXPECT_TRUE(std::all_of(std::begin(state->history), std::end(state->history),
                            [](std::int16_t h) { return h == 0; }));
    EXPECT_EQ(state->step, 0);
    EXPECT_EQ(state->normaliser, 1);
    EXPECT_EQ(state->adaptState, AdaptNormal);
    EXPECT_EQ(state->convergeTimer, 0);
    EXPECT_EQ(state->mode, ModeIdle);
    EXPECT_EQ(state->modeCounter, 0);
    EXPECT_EQ(state->adaptFlag, 1);
    EXPECT_EQ(state->tail, 1024);
    EXPECT_EQ(state->bulkDelay, 8000);
    EXPECT_EQ(state->nlpDiff, 100);
    EXPECT_EQ(state->nlpShift, 10);
}

}  // namespace
