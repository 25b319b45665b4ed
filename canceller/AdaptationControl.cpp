// Adaptation control: from the three frame levels, the mode (idle, training, converged,
// hold), the convergence timer, the poor/good frame counter and the next frame's speed.
#include <cstdint>

#include "canceller/CancellerThresholds.h"
#include "canceller/EchoCanceller.h"

namespace tarnwell {

namespace {

enum class Quality { Good, Poor, NotJudged };

Quality JudgeFrame(int refLevel, int errorLevel)
{
    if (refLevel >= kLoudReferenceFrameDb) {
        return errorLevel <= kLoudResidualGoodFrameDb ? Quality::Good : Quality::Poor;
    }
    if (refLevel == kUnjudgedReferenceFrameDb) {
        return Quality::NotJudged;
    }
    return errorLevel <= refLevel - kEchoLossGoodDb ? Quality::Good : Quality::Poor;
}

}  // namespace

void EchoCanceller::FreezeAdaptation(CancellerState& state, bool frozen) const
{
    state.adaptationFrozen = frozen ? 1 : 0;
}

void EchoCanceller::UpdateControl(CancellerState& state, std::int16_t refLevel, std::int16_t nearLevel,
                                  std::int16_t errorLevel, std::int16_t adaptFlag) const
{
    // Activity.
    if (refLevel >= kActiveReferenceFrameDb) {
        if (state.mode == ModeIdle) {
            state.mode = ModeTraining;
        }
    } else if (IsNearEndAlone(refLevel, nearLevel)) {
        state.mode = ModeHold;
    } else if (refLevel <= kQuietReferenceFrameDb && nearLevel <= kQuietNearEndFrameDb) {
        state.mode = ModeIdle;
        state.modeCounter = 0;
    }

    state.adaptState = AdaptNormal;

    if (refLevel >= kActiveReferenceFrameDb) {
        const Quality quality = JudgeFrame(refLevel, errorLevel);
        if (quality == Quality::Poor) {
            state.adaptState = AdaptSlow;
            if (state.convergeTimer == kTimerFullSamples) {
                if (state.mode == ModeConverged) {
                    ++state.modeCounter;
                    if (state.modeCounter >= kModeCounterLimit) {
                        state.mode = ModeHold;
                    }
                } else if (state.mode == ModeTraining) {
                    ++state.modeCounter;
                    if (state.modeCounter >= kModeCounterLimit) {
                        state.convergeTimer = 0;  // training failed: start it again
                        state.modeCounter = 0;
                    }
                } else if (state.mode == ModeHold) {
                    state.modeCounter = 0;
                }
            }
        } else if (quality == Quality::Good) {
            if (state.convergeTimer == kTimerFullSamples) {
                if (state.mode == ModeConverged) {
                    state.modeCounter = 0;
                } else if (state.mode == ModeTraining) {
                    --state.modeCounter;
                    if (state.modeCounter <= -kModeCounterLimit) {
                        state.modeCounter = 0;
                        state.mode = ModeConverged;
                    }
                }
            }
        }

        if (state.convergeTimer < kTimerHalfSamples) {
            state.convergeTimer += kTimerStepSamples;
            state.adaptState = AdaptFast;
        } else if (state.convergeTimer < kTimerFullSamples) {
            state.convergeTimer += kTimerStepSamples;
            state.adaptState = AdaptNormal;
        }
    }

    if (adaptFlag == 0 || state.mode == ModeHold) {
        state.adaptState = AdaptSlow;
    }
}

}  // namespace tarnwell
