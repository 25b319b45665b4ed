// The two pieces of the normalised LMS step that the plain and the vector frame loops share:
// the window's absolute sum E and the step that an error gives the next sample.
#pragma once

#include <cstdint>

#include "canceller/CancellerThresholds.h"
#include "canceller/FixedPoint.h"

namespace tarnwell {

// E before sample 0: 1 (so that it is never zero) plus |x[-tail]| .. |x[-1]|. Each sample
// then adds |x[i]| and drops |x[i - tail]|.
inline std::int32_t WindowSumBefore(const std::int16_t* x, int tail)
{
    std::int32_t sum = 1;
    for (int k = -tail; k < 0; ++k) {
        sum += fixedpoint::Magnitude(x[k]);
    }
    return sum;
}

// The step for the next sample from this sample's error: error * 2^shift / (E / 16), the
// quotient truncated toward zero, times the normaliser, saturated; 0 while E is too small to
// trust. |error| * 2^16 stays below 2^31.
inline std::int16_t NextStep(std::int16_t error, std::int32_t windowSum, int shift, std::int32_t normaliser)
{
    if (windowSum <= kMinWindowSum) {
        return 0;
    }
    const std::int32_t q = (error * (std::int32_t{1} << shift)) / (windowSum >> 4);
    return fixedpoint::SaturateSymmetric16(static_cast<std::int64_t>(q) * normaliser);
}

}  // namespace tarnwell
