// Choosing the tap loop, and the one check that lets the vector loops drop the saturating add.
#include "canceller/TapLoop.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "canceller/EchoCanceller.h"
#include "canceller/FixedPoint.h"

namespace tarnwell::taploop {

bool Supported(Loop loop)
{
#if defined(__x86_64__) || defined(__i386__)
    switch (loop) {
    case Loop::Plain:
        return true;
    case Loop::Avx2:
        return __builtin_cpu_supports("avx2");
    case Loop::Avx512:
        return __builtin_cpu_supports("avx512bw");
    }
    return false;
#else
    return loop == Loop::Plain;
#endif
}

const char* Name(Loop loop)
{
    switch (loop) {
    case Loop::Plain:
        return "plain";
    case Loop::Avx2:
        return "avx2";
    case Loop::Avx512:
        return "avx512";
    }
    return "?";
}

Loop Choose(const char* request)
{
    constexpr Loop kWidestFirst[] = {Loop::Avx512, Loop::Avx2, Loop::Plain};
    if (request != nullptr) {
        for (Loop loop : kWidestFirst) {
            if (std::strcmp(request, Name(loop)) == 0 && Supported(loop)) {
                return loop;
            }
        }
    }
    for (Loop loop : kWidestFirst) {
        if (Supported(loop)) {
            return loop;
        }
    }
    return Loop::Plain;
}

Loop Active()
{
    static const Loop chosen = Choose(std::getenv("TARNWELL_TAP_LOOP"));
    return chosen;
}

bool ClearOfLimits(const std::int32_t* coefficients, int tail)
{
    bool clear = true;
    for (int j = 0; j < tail; ++j) {
        clear &= coefficients[j] >= kLowestClear && coefficients[j] <= kHighestClear;
    }
    return clear;
}

std::int32_t PeakMagnitude(const std::int16_t* samples, int count)
{
    std::int32_t peak = 0;
    for (int n = 0; n < count; ++n) {
        peak = std::max(peak, fixedpoint::Magnitude(samples[n]));
    }
    return peak;
}

std::int32_t PeakMagnitude(Loop loop, const std::int16_t* samples, int count)
{
    if (loop == Loop::Avx512 && Supported(loop)) {
        return PeakMagnitudeAvx512(samples, count);
    }
    if (loop == Loop::Avx2 && Supported(loop)) {
        return PeakMagnitudeAvx2(samples, count);
    }
    return PeakMagnitude(samples, count);
}

std::int16_t FilterFrame(Loop loop, const EchoCanceller& canceller, CancellerState& state,
                         const std::int16_t* nearEnd, const std::int16_t* reference,
                         std::int16_t* output)
{
    // The vector loops take the carried step as a 16-bit factor, which -32768 (outside the
    // step's range, so only a hand-made state has it) would overflow.
    if (loop != Loop::Plain && Supported(loop) &&
        state.step != std::numeric_limits<std::int16_t>::min()) {
        if (loop == Loop::Avx512 && ClearOfLimitsAvx512(state.coefficients, state.tail)) {
            return FilterFrameAvx512(state, nearEnd, reference, output);
        }
        if (loop == Loop::Avx2 && ClearOfLimitsAvx2(state.coefficients, state.tail)) {
            return FilterFrameAvx2(state, nearEnd, reference, output);
        }
    }
    return canceller.FilterFrame(state, nearEnd, reference, output);
}

}  // namespace tarnwell::taploop
