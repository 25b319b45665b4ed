// The adaptive filter's tap loop in three forms that give the same bits: the plain loop
// (EchoCanceller::FilterFrame, the reference) and two vector loops, AVX2 and AVX-512BW. The loop is chosen
// once per process from the CPU; TARNWELL_TAP_LOOP=plain|avx2|avx512 forces one, though never one the CPU
// lacks (that request falls back to the CPU's own choice). With TARNWELL_CHECK_TAP_LOOP (the sanitizer build)
// every vector frame is also run through the plain loop and compared.
#pragma once

#include <cstdint>
#include <string>
#include <limits>

#include "canceller/CancellerState.h"

namespace tarnwell {

class EchoCanceller;

namespace taploop {

enum class Loop { Plain, Avx2, Avx512 };

bool Supported(Loop loop);
const char* Name(Loop loop);

// The loop this process uses.
Loop Active();

// The widest loop the CPU runs, or the one named (plain, avx2, avx512) when the CPU runs it.
Loop Choose(const char* request);

// Empty when TARNWELL_TAP_LOOP is unset, empty or names a loop; otherwise the message that
// refuses it, for the front ends to show before they run anything.
std::string RequestError(const char* request);
// The largest change of a coefficient in one frame: |round(x * step / 2^15)| <= 32767 for
// |x| <= 32768 and |step| <= 32767, once per sample.
inline constexpr std::int32_t kFrameDriftLimit = 32767 * kFrameLength;
inline constexpr std::int32_t kLowestClear = std::numeric_limits<std::int32_t>::min() + kFrameDriftLimit;
inline constexpr std::int32_t kHighestClear = std::numeric_limits<std::int32_t>::max() - kFrameDriftLimit;

// True when no coefficient of the first `tail` can reach an int32 limit within one frame, so
// that the vector loops may add without saturating: each lies within kLowestClear ..
// kHighestClear. The plain form, and the vector forms the dispatch below uses.
bool ClearOfLimits(const std::int32_t* coefficients, int tail);
bool ClearOfLimitsAvx2(const std::int32_t* coefficients, int tail);
bool ClearOfLimitsAvx512(const std::int32_t* coefficients, int tail);

// The largest |samples[n]| of the first `count` (32768 for -32768), 0 for none: the plain
// form, the vector forms, and the one `loop`'s instruction set runs.
std::int32_t PeakMagnitude(const std::int16_t* samples, int count);
std::int32_t PeakMagnitudeAvx2(const std::int16_t* samples, int count);
std::int32_t PeakMagnitudeAvx512(const std::int16_t* samples, int count);
std::int32_t PeakMagnitude(Loop loop, const std::int16_t* samples, int count);

// EchoCanceller::FilterFrame with the given loop; the plain loop where the vector loops may
// not go (a coefficient near a limit, a loop the CPU lacks). Same contract and results.
std::int16_t FilterFrame(Loop loop, const EchoCanceller& canceller, CancellerState& state,
                         const std::int16_t* nearEnd, const std::int16_t* reference, std::int16_t* output);

// What one frame of a tap loop leaves: its output, the next step and the coefficients.
struct FrameResult {
    const std::int16_t* output;  // kFrameLength samples
    std::int16_t step;
    const std::int32_t* coefficients;  // kMaxTail, Q19
};

// Aborts, naming the loop, the frame and the first difference, unless the two frames agree.
void RequireSameFrame(const char* loop, long frame, const FrameResult& vector, const FrameResult& plain);

// The vector loops themselves, for the dispatch above: the caller has checked the CPU and
// ClearOfLimits.
std::int16_t FilterFrameAvx2(CancellerState& state, const std::int16_t* nearEnd,
                             const std::int16_t* reference, std::int16_t* output);
std::int16_t FilterFrameAvx512(CancellerState& state, const std::int16_t* nearEnd,
                               const std::int16_t* reference, std::int16_t* output);

}  // namespace taploop

}  // namespace tarnwell
