// EchoCanceller: a frame-based fixed-point line echo canceller (NLMS filter of up to 1024
// taps behind a bulk delay of up to 8000 samples, adaptation control, NLP and bypass).
// The object holds no state: every operation works on the caller's CancellerState.
#pragma once

#include <cstdint>

#include "canceller/CancellerState.h"
#include "engine/DspToolkit.h"

namespace tarnwell {

class EchoCanceller : public DspToolkit {
public:
    ~EchoCanceller() override = default;

    // Resets the state from the configuration; negative nlpShift/nlpDiff take their
    // defaults (3 and 10), written back into the caller's configuration.
    void InitCanceller(CancellerState& state, CancellerConfig& config) const;

    // Whole dB relative to a mean square of 32767^2; -109 for 80 zero samples. count > 0.
    int FrameEnergyLevel(const std::int16_t* samples, int count) const;

    // Cancels one frame: nearEnd (Rx) and reference (Tx) in, count (80) output samples out.
    // The caller clears the report before every call.
    void ProcessFrame(CancellerState& state, const std::int16_t* nearEnd, const std::int16_t* reference,
                      std::int16_t* output, std::int16_t count, FrameReport& report) const;

    // Adaptive FIR over one frame. reference points into state.history at position tail,
    // valid from reference[-tail] to reference[79]. Returns the step for the next frame.
    std::int16_t FilterFrame(CancellerState& state, const std::int16_t* nearEnd,
                             const std::int16_t* reference, std::int16_t* output) const;

    // Freezes or releases the weights from the next frame on (the G.168-style tests); the
    // control, the NLP and the bypass go on as before.
    void FreezeAdaptation(CancellerState& state, bool frozen) const;

    // Once per frame: updates mode, modeCounter, convergeTimer and adaptState.
    void UpdateControl(CancellerState& state, std::int16_t refLevel, std::int16_t nearLevel,
                       std::int16_t errorLevel, std::int16_t adaptFlag) const;
};

}  // namespace tarnwell
