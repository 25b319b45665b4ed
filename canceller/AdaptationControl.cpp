// Adaptation control: from the three frame levels, the mode (idle, training, converged,
// hold), the convergence timer, the poor/good frame counter and the next frame's speed.
#include <cstdint>

#include "canceller/EchoCanceller.h"

namespace tarnwell {

namespace {

constexpr int kActiveReference = -36;    // reference at or above: active, frame judged
constexpr int kQuietReference = -38;     // reference at or below: quiet (-37 is neither)
constexpr int kActiveNearEnd = -39;      // near end at or above, reference quiet: hold
constexpr int kQuietNearEnd = -41;       // near end at or below, reference quiet: idle
constexpr int kLoudReference = -14;      // from here a fixed residual bound applies
constexpr int kUnjudgedReference = -15;  // the one level between the two rules
constexpr int kLoudResidualGood = -35;   // residual bound for a loud reference
constexpr int kEchoLossGood = 20;        // dB below a quieter reference
constexpr std::int16_t kTimerStep = 80;  // one frame
constexpr std::int16_t kTimerHalf = 4000;
constexpr std::int16_t kTimerFull = 8000;
constexpr std::int16_t kCounterLimit = 5;

enum class Quality { Good, Poor, NotJudged };

Quality JudgeFrame(int refLevel, int errorLevel)
{
    if (refLevel >= kLoudReference) {
        return errorLevel <= kLoudResidualGood ? Quality::Good : Quality::Poor;
    }
    if (refLevel == kUnjudgedReference) {
        return Quality::NotJudged;
    }
    return errorLevel <= refLevel - kEchoLossGood ? Quality::Good : Quality::Poor;
}

}  // namespace

void EchoCanceller::UpdateControl(CancellerState& state, std::int16_t refLevel,
                                  std::int16_t nearLevel, std::int16_t errorLevel,
                                  std::int16_t adaptFlag) const
{
    // Activity.
    if (refLevel >= kActiveReference) {
        if (state.mode == ModeIdle) {
            state.mode = ModeTraining;
        }
    } else if (refLevel <= kQuietReference) {
        if (nearLevel >= kActiveNearEnd) {
            state.mode = ModeHold;
        } else if (nearLevel <= kQuietNearEnd) {
            state.mode = ModeIdle;
            state.modeCounter = 0;
        }
    }

    state.adaptState = AdaptNormal;

    if (refLevel >= kActiveReference) {
        const Quality quality = JudgeFrame(refLevel, errorLevel);
        if (quality == Quality::Poor) {
            state.adaptState = AdaptSlow;
            if (state.convergeTimer == kTimerFull) {
                if (state.mode == ModeConverged) {
                    ++state.modeCounter;
                    if (state.modeCounter >= kCounterLimit) {
                        state.mode = ModeHold;
                    }
                } else if (state.mode == ModeTraining) {
                    ++state.modeCounter;
                    if (state.modeCounter >= kCounterLimit) {
                        state.convergeTimer = 0;  // training failed: start it again
                        state.modeCounter = 0;
                    }
                } else if (state.mode == ModeHold) {
                    state.modeCounter = 0;
                }
            }
        } else if (quality == Quality::Good) {
            if (state.convergeTimer == kTimerFull) {
                if (state.mode == ModeConverged) {
                    state.modeCounter = 0;
                } else if (state.mode == ModeTraining) {
                    --state.modeCounter;
                    if (state.modeCounter <= -kCounterLimit) {
                        state.modeCounter = 0;
                        state.mode = ModeConverged;
                    }
                }
            }
        }

        if (state.convergeTimer < kTimerHalf) {
            state.convergeTimer += kTimerStep;
            state.adaptState = AdaptFast;
        } else if (state.convergeTimer < kTimerFull) {
            state.convergeTimer += kTimerStep;
            state.adaptState = AdaptNormal;
        }
    }

    if (adaptFlag == 0 || state.mode == ModeHold) {
        state.adaptState = AdaptSlow;
    }
}

}  // namespace tarnwell
