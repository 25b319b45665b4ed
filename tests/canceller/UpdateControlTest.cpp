#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "CancellerTestSupport.h"

using namespace tarnwell;

namespace {

// An active, loud reference with a good or a poor residual, and a quiet near end.
constexpr std::int16_t kLoudRef = -10;
constexpr std::int16_t kQuietNear = -60;
constexpr std::int16_t kGoodError = -50;
constexpr std::int16_t kPoorError = -20;

class UpdateControlTest : public ::testing::Test {
protected:
    void Frame(std::int16_t ref, std::int16_t near, std::int16_t error, std::int16_t flag = 1)
    {
        ec.UpdateControl(*state, ref, near, error, flag);
    }
    void Frames(const std::string& goodOrPoor)  // "GGP": good, good, poor
    {
        for (char q : goodOrPoor) {
            Frame(kLoudRef, kQuietNear, q == 'G' ? kGoodError : kPoorError);
        }
    }
    void Start(std::int16_t mode, std::int16_t timer = 8000, std::int16_t counter = 0)
    {
        state = std::make_unique<CancellerState>(
            CancellerState{.convergeTimer = timer, .mode = mode, .modeCounter = counter});
    }

    EchoCanceller ec;
    std::unique_ptr<CancellerState> state;
};

TEST_F(UpdateControlTest, ActivityBoundaries)
{
    struct Case { std::int16_t mode, ref, near, flag, modeAfter, counter, timer, adaptState; };
    const Case cases[] = {
        {ModeIdle, -37, kQuietNear, 1, ModeIdle, 3, 0, AdaptNormal},  // -37 does not wake it,
        {ModeTraining, -37, -20, 1, ModeTraining, 3, 0, AdaptNormal},  // nor send it to hold
        {ModeConverged, -37, -80, 1, ModeConverged, 3, 0, AdaptNormal},  // or to idle
        {ModeHold, -37, -80, 1, ModeHold, 3, 0, AdaptSlow},
        {ModeIdle, -36, kQuietNear, 1, ModeTraining, 3, 80, AdaptFast},
        {ModeIdle, -36, kQuietNear, 0, ModeTraining, 3, 80, AdaptSlow},  // flag 0: slow after the update
        {ModeConverged, -38, -40, 1, ModeConverged, 3, 0, AdaptNormal},  // -40 changes nothing
        {ModeTraining, -38, -39, 1, ModeHold, 3, 0, AdaptSlow},
        {ModeConverged, -38, -41, 1, ModeIdle, 0, 0, AdaptNormal},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "mode " << c.mode << " ref " << c.ref << " near " << c.near);
        Start(c.mode, 0, 3);
        Frame(c.ref, c.near, kGoodError, c.flag);
        EXPECT_EQ(state->mode, c.modeAfter);
        EXPECT_EQ(state->modeCounter, c.counter);
        EXPECT_EQ(state->convergeTimer, c.timer);
        EXPECT_EQ(state->adaptState, c.adaptState);
    }
}

TEST_F(UpdateControlTest, TimerRunsFastThenNormalThenJudges)
{
    // Poor and unjudged (-15) frames alike advance the timer and count nothing until it is full.
    Start(ModeIdle, 0);
    for (int f = 0; f < 100; ++f) {
        Frame(f % 2 == 0 ? kLoudRef : -15, kQuietNear, kPoorError);
        ASSERT_EQ(state->adaptState, f < 50 ? AdaptFast : AdaptNormal) << "frame " << f;
        ASSERT_EQ(state->convergeTimer, 80 * (f + 1)) << "frame " << f;
    }
    EXPECT_EQ(state->modeCounter, 0);
    EXPECT_EQ(state->mode, ModeTraining);
}

TEST_F(UpdateControlTest, QualityBoundaries)
{
    struct Case { std::int16_t ref, error, flag, counter, adaptState; };
    const Case cases[] = {
        {-14, -35, 1, -1, AdaptNormal}, {-14, -34, 1, 1, AdaptSlow},  // loud: a fixed bound
        {-16, -36, 1, -1, AdaptNormal}, {-16, -35, 1, 1, AdaptSlow},  // quieter: 20 dB below
        {-36, -56, 1, -1, AdaptNormal}, {-36, -55, 1, 1, AdaptSlow},
        {-15, 0, 1, 0, AdaptNormal}, {-15, -100, 1, 0, AdaptNormal},  // not judged
        {-14, -35, 0, -1, AdaptSlow},  // flag 0: counted, then slow
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "ref " << c.ref << " error " << c.error << " flag " << c.flag);
        Start(ModeTraining);
        Frame(c.ref, kQuietNear, c.error, c.flag);
        EXPECT_EQ(state->modeCounter, c.counter);
        EXPECT_EQ(state->adaptState, c.adaptState);
    }
}

TEST_F(UpdateControlTest, NetFiveGoodConvergeAndNetFivePoorRestartTraining)
{
    Start(ModeTraining);
    Frames("GGPGGG");
    EXPECT_EQ(state->modeCounter, -4);
    Frames("G");
    EXPECT_EQ(state->mode, ModeConverged);
    EXPECT_EQ(state->modeCounter, 0);

    Start(ModeTraining);
    Frames("PPGPPP");
    EXPECT_EQ(state->modeCounter, 4);
    Frames("P");
    EXPECT_EQ(state->mode, ModeTraining);
    EXPECT_EQ(state->modeCounter, 0);
    EXPECT_EQ(state->convergeTimer, 80);
    EXPECT_EQ(state->adaptState, AdaptFast);
}

TEST_F(UpdateControlTest, FivePoorInARowHoldUntilBothSidesFallQuiet)
{
    Start(ModeConverged);
    Frames("PPPPGPPPP");  // the good frame starts the count again
    EXPECT_EQ(state->mode, ModeConverged);
    Frames("P");
    EXPECT_EQ(state->mode, ModeHold);
    EXPECT_EQ(state->modeCounter, 5);
    for (int f = 0; f < 500; ++f) {  // however good the cancellation, while the reference is active
        Frame(f % 2 == 0 ? -37 : kLoudRef, kQuietNear, kGoodError);
        ASSERT_EQ(state->mode, ModeHold) << "frame " << f;
        ASSERT_EQ(state->adaptState, AdaptSlow) << "frame " << f;
    }
    Frames("P");
    EXPECT_EQ(state->modeCounter, 0);  // a poor frame in hold clears the counter
    Frame(-38, -41, kGoodError);
    EXPECT_EQ(state->mode, ModeIdle);
    Frames("P");  // training again, judged at once: the timer is kept
    EXPECT_EQ(state->mode, ModeTraining);
    EXPECT_EQ(state->modeCounter, 1);
}

}  // namespace
