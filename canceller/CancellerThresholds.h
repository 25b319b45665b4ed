// The canceller's level thresholds and timers in one place, each name carrying its scale.
// Frame levels are whole dB relative to a mean square of 32767^2 (FrameEnergyLevel); the
// timer counts samples of active reference.
#pragma once

#include <cstdint>

namespace tarnwell {

// Reference activity, frame level scale.
inline constexpr int kActiveReferenceFrameDb = -36;  // at or above: active, the frame is judged
inline constexpr int kQuietReferenceFrameDb = -38;   // at or below: quiet (-37 is neither)
// Below this the peak normaliser is dropped; at or below it the NLP does not act.
inline constexpr int kNlpReferenceFloorFrameDb = -40;
inline constexpr int kActiveNearEndFrameDb = -39;  // near end at or above, reference quiet: hold
inline constexpr int kQuietNearEndFrameDb = -41;   // near end at or below, reference quiet: idle

// Near-end speech alone: the reference quiet and the near end active. The canceller holds.
constexpr bool IsNearEndAlone(int refLevel, int nearLevel)
{
    return refLevel <= kQuietReferenceFrameDb && nearLevel >= kActiveNearEndFrameDb;
}

// Frame quality, frame level scale.
inline constexpr int kLoudReferenceFrameDb = -14;      // from here a fixed residual bound applies
inline constexpr int kUnjudgedReferenceFrameDb = -15;  // the one level between the two rules
inline constexpr int kLoudResidualGoodFrameDb = -35;   // residual bound for a loud reference
inline constexpr int kEchoLossGoodDb = 20;             // dB below a quieter reference

inline constexpr int kAdaptMarginDb = 5;  // reference over near end needed to adapt

// Convergence timer, samples of active reference.
inline constexpr std::int16_t kTimerStepSamples = 80;    // one frame
inline constexpr std::int16_t kTimerHalfSamples = 4000;  // fast until here, then normal
inline constexpr std::int16_t kTimerFullSamples = 8000;  // one second: quality counting begins
inline constexpr std::int16_t kModeCounterLimit = 5;     // net poor or good frames to change mode

// Below this absolute window sum (sample units) the reference gives no trustworthy step.
inline constexpr std::int32_t kMinWindowSum = 10000;

static_assert(kQuietReferenceFrameDb < kActiveReferenceFrameDb - 1, "one level lies between");
static_assert(kQuietNearEndFrameDb < kActiveNearEndFrameDb - 1, "one level lies between");
static_assert(kUnjudgedReferenceFrameDb == kLoudReferenceFrameDb - 1);
static_assert(kTimerFullSamples == 2 * kTimerHalfSamples && kTimerHalfSamples % kTimerStepSamples == 0);

}  // namespace tarnwell
