// Choosing the tap loop, and the one check that lets the vector loops drop the saturating add.
#include "canceller/TapLoop.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>

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

std::string RequestError(const char* request)
{
    if (request == nullptr || *request == '\0') {
        return {};
    }
    for (Loop loop : {Loop::Plain, Loop::Avx2, Loop::Avx512}) {
        if (std::strcmp(request, Name(loop)) == 0) {
            return {};
        }
    }
    return std::string("TARNWELL_TAP_LOOP: unknown loop '") + request + "' (plain, avx2, avx512)";
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

void RequireSameFrame(const char* loop, long frame, const FrameResult& vector, const FrameResult& plain)
{
    const auto report = [&](const char* what, long index, long got, long expected) {
        std::fprintf(stderr,
                     "tarnwell: the %s tap loop differs from the plain loop at frame %ld of this thread: "
                     "%s[%ld] is %ld, the plain loop's %ld\n",
                     loop, frame, what, index, got, expected);
        std::abort();
    };
    const auto out = std::mismatch(vector.output, vector.output + kFrameLength, plain.output);
    if (out.first != vector.output + kFrameLength) {
        report("output", out.first - vector.output, *out.first, *out.second);
    }
    const auto tap = std::mismatch(vector.coefficients, vector.coefficients + kMaxTail, plain.coefficients);
    if (tap.first != vector.coefficients + kMaxTail) {
        report("coefficients", tap.first - vector.coefficients, *tap.first, *tap.second);
    }
    if (vector.step != plain.step) {
        report("step", 0, vector.step, plain.step);
    }
}

namespace {

std::int16_t RunVector(Loop loop, CancellerState& state, const std::int16_t* nearEnd,
                       const std::int16_t* reference, std::int16_t* output)
{
    if (loop == Loop::Avx512) {
        return FilterFrameAvx512(state, nearEnd, reference, output);
    }
    return FilterFrameAvx2(state, nearEnd, reference, output);
}

#ifdef TARNWELL_CHECK_TAP_LOOP
// The vector frame, then the plain loop from a copy of the state the vector loop started
// from; the reference is read from the copy's history when it lies in the state's own.
std::int16_t RunVectorChecked(Loop loop, const EchoCanceller& canceller, CancellerState& state,
                              const std::int16_t* nearEnd, const std::int16_t* reference,
                              std::int16_t* output)
{
    thread_local long frame = 0;
    ++frame;
    auto plain = std::make_unique<CancellerState>(state);
    const std::less_equal<const std::int16_t*> notAfter;
    const bool inHistory = notAfter(state.history, reference) &&
                           notAfter(reference, state.history + kHistoryLength);
    const std::int16_t* plainReference = inHistory ? plain->history + (reference - state.history) : reference;
    std::int16_t plainOutput[kFrameLength];
    const std::int16_t plainStep = canceller.FilterFrame(*plain, nearEnd, plainReference, plainOutput);
    const std::int16_t step = RunVector(loop, state, nearEnd, reference, output);
    RequireSameFrame(Name(loop), frame, {output, step, state.coefficients},
                     {plainOutput, plainStep, plain->coefficients});
    return step;
}
#endif

}  // namespace

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
                         const std::int16_t* nearEnd, const std::int16_t* reference, std::int16_t* output)
{
    // The vector loops take the carried step as a 16-bit factor, which -32768 (outside the
    // step's range, so only a hand-made state has it) would overflow.
    if (loop != Loop::Plain && Supported(loop) && state.step != std::numeric_limits<std::int16_t>::min() &&
        (loop == Loop::Avx512 ? ClearOfLimitsAvx512(state.coefficients, state.tail)
                              : ClearOfLimitsAvx2(state.coefficients, state.tail))) {
#ifdef TARNWELL_CHECK_TAP_LOOP
        return RunVectorChecked(loop, canceller, state, nearEnd, reference, output);
#else
        return RunVector(loop, state, nearEnd, reference, output);
#endif
    }
    return canceller.FilterFrame(state, nearEnd, reference, output);
}

}  // namespace tarnwell::taploop
