// The canceller's three records: CancellerConfig (settings of one instance), CancellerState
// (everything an instance remembers, one flat fixed-size record, no allocation) and
// FrameReport (what one frame reports to the caller).
//
// Scales, once for the whole canceller:
//   samples (reference, near end, output)  int16, sample units (Q15 of full scale)
//   coefficients                           int32, Q19; the filter uses c >> 4, saturated to
//                                          the int16 range, as a Q15 weight
//   step                                   int16, Q15, within +-32767; tap j changes by
//                                          round(x * step / 2^15)
//   frame levels (ref, near, error)        whole dB relative to a mean square of 32767^2
//   residualLevel                          dBm0 (BlockLevel), the one value on that scale
#pragma once

#include <cstdint>

namespace tarnwell {

inline constexpr int kMaxTail = 1024;                                           // taps
inline constexpr int kMaxBulkDelay = 8000;                                      // samples
inline constexpr int kFrameLength = 80;                                         // samples, 10 ms at 8 kHz
inline constexpr int kHistoryLength = kMaxTail + kMaxBulkDelay + kFrameLength;  // 9104

// Adaptation speeds; the value is also the left shift of the error in the step formula.
inline constexpr std::int16_t AdaptSlow = 13;
inline constexpr std::int16_t AdaptNormal = 15;
inline constexpr std::int16_t AdaptFast = 16;

// Control modes.
inline constexpr std::int16_t ModeIdle = -1;
inline constexpr std::int16_t ModeHold = 0;
inline constexpr std::int16_t ModeTraining = 1;
inline constexpr std::int16_t ModeConverged = 2;

struct CancellerConfig {
    std::int32_t tail = 0;       // taps, 0..1024
    std::int32_t bulkDelay = 0;  // samples, 0..8000
    std::int32_t nlpEnable = 0;  // 0 or 1
    std::int32_t nlpDiff = 0;    // dB, 0..100; negative selects 10
    std::int32_t nlpShift = 0;   // right shift, 0..10; negative selects 3
    // Outside a normal run (the G.168-style tests): 1 keeps the weights as they are. The NLP
    // is switched off by nlpEnable 0.
    std::int32_t freezeAdaptation = 0;  // 0 or 1
};

struct CancellerState {
    std::int32_t coefficients[kMaxTail] = {};   // Q19 tap weights; first `tail` used
    std::int16_t history[kHistoryLength] = {};  // reference, oldest first; see ProcessFrame
    std::int16_t step = 0;                      // Q15 step carried to the next frame's first sample
    std::int16_t nlpEnable = 0;                 // 0 or 1
    std::int16_t normaliser = 1;                // 32767 / reference peak, at least 1
    std::int16_t nlpShift = 0;                  // NLP right shift, bits
    std::int16_t bulkDelay = 0;                 // samples
    std::int16_t tail = 0;                      // taps in use, even
    std::int16_t adaptState = AdaptNormal;      // 13, 15 or 16
    std::int16_t adaptFlag = 0;                 // 1: this frame may adapt
    std::int16_t convergeTimer = 0;             // samples of active reference, 0..8000 in 80s
    std::int16_t mode = ModeIdle;               // -1 idle, 0 hold, 1 training, 2 converged
    std::int16_t modeCounter = 0;               // training: poor minus good; converged: poor in a row; -5..5
    std::int16_t nlpDiff = 0;                   // NLP threshold, dB
    std::int16_t adaptationFrozen = 0;          // 1: no step, the weights stay as they are
};

struct FrameReport {
    std::int32_t valid = 0;         // 1 when the frame ends in AdaptNormal or AdaptFast
    double cancellation = 0.0;      // nearLevel - errorLevel, frame level scale, dB
    double residualLevel = 0.0;     // BlockLevel of the final output frame, dBm0
    std::int32_t nlpActed = 0;      // 1 when the NLP attenuated the frame (before any bypass)
    std::int32_t nearEndAlone = 0;  // 1 when the near end was active with a quiet reference
};

}  // namespace tarnwell
