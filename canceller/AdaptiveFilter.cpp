// The canceller's adaptive FIR filter: normalised LMS in 16/32-bit integers, where the
// window energy is stood in for by its absolute sum E times the peak (via the normaliser).
#include <cassert>
#include <cstdint>

#include "canceller/EchoCanceller.h"
#include "canceller/FixedPoint.h"
#include "canceller/NormalisedStep.h"

namespace tarnwell {

std::int16_t EchoCanceller::FilterFrame(CancellerState& state, const std::int16_t* nearEnd,
                                        const std::int16_t* reference, std::int16_t* output) const
{
    using fixedpoint::Magnitude;
    using fixedpoint::MultiplyRoundQ15;

    assert(state.tail >= 0 && state.tail <= kMaxTail);
    assert(state.adaptState >= AdaptSlow && state.adaptState <= AdaptFast);
    assert(fixedpoint::Disjoint(nearEnd, output, kFrameLength));

    const int tail = state.tail;
    const std::int16_t* x = reference;  // x[-tail] .. x[79] are valid
    std::int32_t* c = state.coefficients;
    const int shift = state.adaptState;
    const std::int32_t normaliser = state.normaliser;
    const bool adapting = state.adaptFlag == 1;

    std::int16_t step = state.step;  // worked out at the previous frame's last sample

    std::int32_t windowSum = WindowSumBefore(x, tail);

    for (int i = 0; i < kFrameLength; ++i) {
        // Constant-time window update: E covers x[i - T + 1] .. x[i].
        windowSum += Magnitude(x[i]) - Magnitude(x[i - tail]);

        // One pass over the taps: the update uses the sample tap j met one sample ago
        // (the step lags the error by one sample), the estimate the current one.
        const std::int16_t* previous = x + i - 1;
        const std::int16_t* current = x + i;
        const std::int16_t mu = step;
        std::int32_t estimate = 0;
        for (int j = 0; j < tail; ++j) {
            c[j] = fixedpoint::SaturatingAdd32(c[j], MultiplyRoundQ15(previous[-j], mu));
            const std::int16_t w = fixedpoint::SaturateInt16(c[j] >> 4);
            estimate += MultiplyRoundQ15(current[-j], w);
        }

        const std::int16_t error = fixedpoint::SaturateSymmetric16(nearEnd[i] - estimate);
        output[i] = error;

        step = adapting ? NextStep(error, windowSum, shift, normaliser) : std::int16_t{0};
    }
    return step;
}

}  // namespace tarnwell
