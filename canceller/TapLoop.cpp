// Choosing the tap loop, and the one check that lets the vector loops drop the saturating add.
#include "canceller/TapLoop.h"

#include <cstdlib>
#include <cstring>
#include <limits>

#include "canceller/EchoCanceller.h"

namespace tarnwell::taploop {

namespace {

// The largest change of a coefficient in one frame: |round(x * step / 2^15)| <= 32767 for
// |x| <= 32768 and |step| <= 32767, once per sample.
constexpr std::int32_t kFrameDriftLimit = 32767 * kFrameLength;

}  // namespace

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
    constexpr std::int32_t hi = std::numeric_limits<std::int32_t>::max() - kFrameDriftLimit;
    constexpr std::int32_t lo = std::numeric_limits<std::int32_t>::min() + kFrameDriftLimit;
    bool clear = true;
    for (int j = 0; j < tail; ++j) {
        clear &= coefficients[j] >= lo && coefficients[j] <= hi;
    }
    return clear;
}

std::int16_t FilterFrame(Loop loop, const EchoCanceller& canceller, CancellerState& state,
                         const std::int16_t* nearEnd, const std::int16_t* reference,
                         std::int16_t* output)
{
    // The vector loops take the carried step as a 16-bit factor, which -32768 (outside the
    // step's range, so only a hand-made state has it) would overflow.
    if (loop != Loop::Plain && Supported(loop) &&
        state.step != std::numeric_limits<std::int16_t>::min() &&
        ClearOfLimits(state.coefficients, state.tail)) {
        if (loop == Loop::Avx512) {
            return FilterFrameAvx512(state, nearEnd, reference, output);
        }
        return FilterFrameAvx2(state, nearEnd, reference, output);
    }
    return canceller.FilterFrame(state, nearEnd, reference, output);
}

}  // namespace tarnwell::taploop
