#include <cstdint>

#include <gtest/gtest.h>

#include "CancellerTestSupport.h"

namespace {

// Levels used throughout: an active, loud reference with a good or a poor residual.
constexpr std::int16_t kLoudRef = -10;
constexpr std::int16_t kQuietNear = -60;
constexpr std::int16_t kGoodError = -50;
constexpr std::int16_t kPoorError = -20;

class UpdateControlTest : public ::testing::Test {
protected:
    void SetUp() override { state = cancellertest::MakeState(64, 0); }

    void Frame(std::int16_t ref, std::int16_t near, std::int16_t error, std::int16_t flag = 1)
    {
        ec.UpdateControl(*state, ref, near, error, flag);
    }
    void Good() { Frame(kLoudRef, kQuietNear, kGoodError); }
    void Poor() { Frame(kLoudRef, kQuietNear, kPoorError); }

    // Training with the timer full, as after one second of active reference.
    void FullTimerIn(std::int16_t mode)
    {
        state->mode = mode;
        state->convergeTimer = 8000;
        state->modeCounter = 0;
    }

    EchoCanceller ec;
    std::unique_ptr<CancellerState> state;
};

TEST_F(UpdateControlTest, ReferenceActivityBoundaries)
{
    Frame(-37, kQuietNear, kGoodError);
    EXPECT_EQ(state->mode, ModeIdle);  // -37 does not wake the canceller
    EXPECT_EQ(state->convergeTimer, 0);
    EXPECT_EQ(state->adaptState, AdaptNormal);
    Frame(-36, kQuietNear, kGoodError);
    EXPECT_EQ(state->mode, ModeTraining);
    EXPECT_EQ(state->convergeTimer, 80);

    // -37 neither sends a mode to idle nor to hold, whatever the near end does.
    for (std::int16_t mode : {ModeTraining, ModeConverged, ModeHold}) {
        for (std::int16_t near : {std::int16_t{-20}, std::int16_t{-80}}) {
            state->mode = mode;
            Frame(-37, near, kGoodError);
            EXPECT_EQ(state->mode, mode) << "mode " << mode << " near " << near;
        }
    }
}

TEST_F(UpdateControlTest, QuietReferenceNearEndBoundaries)
{
    state->mode = ModeConverged;
    state->modeCounter = 3;
    Frame(-38, -40, kGoodError);
    EXPECT_EQ(state->mode, ModeConverged);  // -40 changes nothing
    EXPECT_EQ(state->modeCounter, 3);
    Frame(-38, -39, kGoodError);
    EXPECT_EQ(state->mode, ModeHold);
    EXPECT_EQ(state->adaptState, AdaptSlow);
    EXPECT_EQ(state->modeCounter, 3);
    Frame(-38, -41, kGoodError);
    EXPECT_EQ(state->mode, ModeIdle);
    EXPECT_EQ(state->modeCounter, 0);
    // A quiet reference never moves the timer and leaves AdaptNormal.
    EXPECT_EQ(state->convergeTimer, 0);
    EXPECT_EQ(state->adaptState, AdaptNormal);
}

TEST_F(UpdateControlTest, TimerRunsFastThenNormalThenJudges)
{
    for (int f = 0; f < 50; ++f) {
        Poor();
        ASSERT_EQ(state->adaptState, AdaptFast) << "frame " << f;
    }
    EXPECT_EQ(state->convergeTimer, 4000);
    for (int f = 0; f < 50; ++f) {
        Poor();
        ASSERT_EQ(state->adaptState, AdaptNormal) << "frame " << 50 + f;
    }
    EXPECT_EQ(state->convergeTimer, 8000);
    // Poor frames before the timer was full counted nothing.
    EXPECT_EQ(state->mode, ModeTraining);
    EXPECT_EQ(state->modeCounter, 0);
    Poor();
    EXPECT_EQ(state->adaptState, AdaptSlow);
    EXPECT_EQ(state->modeCounter, 1);
    EXPECT_EQ(state->convergeTimer, 8000);
    Good();
    EXPECT_EQ(state->adaptState, AdaptNormal);
    EXPECT_EQ(state->modeCounter, 0);
}

TEST_F(UpdateControlTest, QualityBoundaries)
{
    // Loud reference: a fixed residual bound.
    FullTimerIn(ModeTraining);
    Frame(-14, kQuietNear, -35);
    EXPECT_EQ(state->modeCounter, -1);
    Frame(-14, kQuietNear, -34);
    EXPECT_EQ(state->modeCounter, 0);
    EXPECT_EQ(state->adaptState, AdaptSlow);
    // Quieter reference: 20 dB below it.
    Frame(-16, kQuietNear, -36);
    EXPECT_EQ(state->modeCounter, -1);
    EXPECT_EQ(state->adaptState, AdaptNormal);
    Frame(-16, kQuietNear, -35);
    EXPECT_EQ(state->modeCounter, 0);
    EXPECT_EQ(state->adaptState, AdaptSlow);
    Frame(-36, kQuietNear, -56);
    EXPECT_EQ(state->modeCounter, -1);
    // -15 judges nothing, however bad or good the residual.
    Frame(-15, kQuietNear, 0);
    Frame(-15, kQuietNear, -100);
    EXPECT_EQ(state->modeCounter, -1);
    EXPECT_EQ(state->adaptState, AdaptNormal);
}

TEST_F(UpdateControlTest, UnjudgedFrameStillAdvancesTheTimer)
{
    state->mode = ModeTraining;
    Frame(-15, kQuietNear, 0);
    EXPECT_EQ(state->convergeTimer, 80);
    EXPECT_EQ(state->adaptState, AdaptFast);
}

TEST_F(UpdateControlTest, AdaptationFlagZeroForcesSlowAfterTheUpdate)
{
    Frame(kLoudRef, kQuietNear, kGoodError, 0);
    EXPECT_EQ(state->adaptState, AdaptSlow);
    EXPECT_EQ(state->mode, ModeTraining);
    EXPECT_EQ(state->convergeTimer, 80);

    FullTimerIn(ModeTraining);
    Frame(kLoudRef, kQuietNear, kGoodError, 0);
    EXPECT_EQ(state->modeCounter, -1);
    EXPECT_EQ(state->adaptState, AdaptSlow);
}

TEST_F(UpdateControlTest, TrainingConvergesAfterFiveNetGoodFrames)
{
    FullTimerIn(ModeTraining);
    Good();
    Good();
    Poor();  // net 1
    Good();
    Good();
    Good();
    EXPECT_EQ(state->mode, ModeTraining);
    EXPECT_EQ(state->modeCounter, -4);
    Good();
    EXPECT_EQ(state->mode, ModeConverged);
    EXPECT_EQ(state->modeCounter, 0);
    EXPECT_EQ(state->adaptState, AdaptNormal);
}

TEST_F(UpdateControlTest, FailedTrainingRestartsTheTimer)
{
    FullTimerIn(ModeTraining);
    Poor();
    Poor();
    Good();
    Poor();
    Poor();
    Poor();
    EXPECT_EQ(state->modeCounter, 4);
    EXPECT_EQ(state->convergeTimer, 8000);
    EXPECT_EQ(state->adaptState, AdaptSlow);
    Poor();  // net 5 poor
    EXPECT_EQ(state->mode, ModeTraining);
    EXPECT_EQ(state->modeCounter, 0);
    EXPECT_EQ(state->convergeTimer, 80);
    EXPECT_EQ(state->adaptState, AdaptFast);
}

TEST_F(UpdateControlTest, ConvergedHoldsAfterFivePoorFramesInARow)
{
    FullTimerIn(ModeConverged);
    for (int f = 0; f < 4; ++f) {
        Poor();
    }
    EXPECT_EQ(state->modeCounter, 4);
    Good();
    EXPECT_EQ(state->mode, ModeConverged);
    EXPECT_EQ(state->modeCounter, 0);
    for (int f = 0; f < 4; ++f) {
        Poor();
    }
    EXPECT_EQ(state->mode, ModeConverged);
    Poor();
    EXPECT_EQ(state->mode, ModeHold);
    EXPECT_EQ(state->modeCounter, 5);
    EXPECT_EQ(state->adaptState, AdaptSlow);
}

TEST_F(UpdateControlTest, HoldLastsWhileTheReferenceStaysActive)
{
    FullTimerIn(ModeHold);
    state->modeCounter = 5;
    for (int f = 0; f < 500; ++f) {
        const std::int16_t ref = static_cast<std::int16_t>(f % 2 == 0 ? -37 : kLoudRef);
        Frame(ref, kQuietNear, kGoodError);
        ASSERT_EQ(state->mode, ModeHold) << "frame " << f;
        ASSERT_EQ(state->adaptState, AdaptSlow) << "frame " << f;
    }
    // A poor frame in hold clears the counter.
    Poor();
    EXPECT_EQ(state->modeCounter, 0);
    // Only both sides falling quiet ends it; training then judges at once (timer kept).
    Frame(-38, -41, kGoodError);
    EXPECT_EQ(state->mode, ModeIdle);
    Poor();
    EXPECT_EQ(state->mode, ModeTraining);
    EXPECT_EQ(state->modeCounter, 1);
    EXPECT_EQ(state->adaptState, AdaptSlow);
}

TEST_F(UpdateControlTest, HoldEntersEvenDuringTraining)
{
    state->mode = ModeTraining;
    state->convergeTimer = 1200;
    Frame(-50, -30, kGoodError);
    EXPECT_EQ(state->mode, ModeHold);
    EXPECT_EQ(state->convergeTimer, 1200);
    // An active reference does not bring hold back to training.
    Good();
    EXPECT_EQ(state->mode, ModeHold);
    EXPECT_EQ(state->convergeTimer, 1280);
    EXPECT_EQ(state->adaptState, AdaptSlow);
}

}  // namespace
