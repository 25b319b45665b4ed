// Fixed-point helpers of the canceller: Q15 rounding and the saturations, one contract each.
// Every caller keeps its operands inside the stated ranges; nothing here can overflow.
//
// With TARNWELL_FIXED_DEBUG (the sanitizer build) every helper checks its operands and its
// result against those ranges and, when one is out, prints the caller's file and line and
// aborts. Operands then arrive 64 bits wide, so that a value a caller let grow past its type
// is caught rather than truncated on the way in. Other builds compile to the same code as
// without the checks.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>

#ifdef TARNWELL_FIXED_DEBUG
#include <cstdio>
#include <cstdlib>
#include <source_location>
#endif

namespace tarnwell {

namespace fixedpoint {

inline constexpr std::int32_t kQ15Half = 16384;         // 0.5 in Q15
inline constexpr std::int32_t kSymmetricMax16 = 32767;  // largest magnitude of an error or step

inline constexpr std::int64_t kMin16 = std::numeric_limits<std::int16_t>::min();
inline constexpr std::int64_t kMax16 = std::numeric_limits<std::int16_t>::max();
inline constexpr std::int64_t kMin32 = std::numeric_limits<std::int32_t>::min();
inline constexpr std::int64_t kMax32 = std::numeric_limits<std::int32_t>::max();

#ifdef TARNWELL_FIXED_DEBUG

using Arg16 = std::int64_t;  // an operand that must fit int16
using Arg32 = std::int64_t;  // an operand that must fit int32
using Caller = std::source_location;

[[noreturn]] inline void OutOfRange(const char* helper, const char* what, std::int64_t value, std::int64_t lo,
                                    std::int64_t hi, const Caller& caller)
{
    std::fprintf(stderr, "%s:%u: %s: %s %lld is outside %lld..%lld\n", caller.file_name(),
                 static_cast<unsigned>(caller.line()), helper, what, static_cast<long long>(value),
                 static_cast<long long>(lo), static_cast<long long>(hi));
    std::abort();
}

constexpr void CheckRange(std::int64_t value, std::int64_t lo, std::int64_t hi, const char* helper,
                          const char* what, const Caller& caller)
{
    if (value < lo || value > hi) {
        OutOfRange(helper, what, value, lo, hi, caller);
    }
}

#else

using Arg16 = std::int16_t;
using Arg32 = std::int32_t;

// Nothing to name where nothing is checked.
struct Caller {
    static constexpr Caller current() { return {}; }
};

constexpr void CheckRange(std::int64_t, std::int64_t, std::int64_t, const char*, const char*, Caller) {}

#endif

// Product of two 16-bit factors taken back to Q15, half a unit rounding up:
// (a * b + 16384) >> 15 with an arithmetic shift. Exact for every pair: the largest
// product, (-32768)^2 = 2^30, leaves room for the half in 32 bits.
constexpr std::int32_t MultiplyRoundQ15(Arg16 a, Arg16 b, Caller caller = Caller::current())
{
    CheckRange(a, kMin16, kMax16, "MultiplyRoundQ15", "a", caller);
    CheckRange(b, kMin16, kMax16, "MultiplyRoundQ15", "b", caller);
    const std::int32_t product = static_cast<std::int32_t>(static_cast<std::int16_t>(a)) *
                                 static_cast<std::int16_t>(b);
    const std::int32_t result = (product + kQ15Half) >> 15;
    CheckRange(result, -kSymmetricMax16, kSymmetricMax16 + 1, "MultiplyRoundQ15", "result", caller);
    return result;
}

// Clamps to -32767..32767: the error and the step never take the value -32768.
constexpr std::int16_t SaturateSymmetric16(std::int64_t v, Caller caller = Caller::current())
{
    static_cast<void>(caller);  // any v is in range, and so is every result below
    if (v > kSymmetricMax16) {
        return kSymmetricMax16;
    }
    if (v < -kSymmetricMax16) {
        return -kSymmetricMax16;
    }
    return static_cast<std::int16_t>(v);
}

// Clamps to the full int16 range -32768..32767.
constexpr std::int16_t SaturateInt16(Arg32 v, Caller caller = Caller::current())
{
    CheckRange(v, kMin32, kMax32, "SaturateInt16", "v", caller);
    constexpr std::int32_t lo = std::numeric_limits<std::int16_t>::min();
    constexpr std::int32_t hi = std::numeric_limits<std::int16_t>::max();
    const std::int32_t result = std::min(std::max(static_cast<std::int32_t>(v), lo), hi);
    CheckRange(result, kMin16, kMax16, "SaturateInt16", "result", caller);
    return static_cast<std::int16_t>(result);
}

// a + b clamped to the int32 range; the sum is formed in 64 bits, so it never overflows.
constexpr std::int32_t SaturatingAdd32(Arg32 a, Arg32 b, Caller caller = Caller::current())
{
    CheckRange(a, kMin32, kMax32, "SaturatingAdd32", "a", caller);
    CheckRange(b, kMin32, kMax32, "SaturatingAdd32", "b", caller);
    const std::int64_t sum = static_cast<std::int64_t>(static_cast<std::int32_t>(a)) +
                             static_cast<std::int32_t>(b);
    const std::int64_t result = std::min(std::max(sum, kMin32), kMax32);
    CheckRange(result, kMin32, kMax32, "SaturatingAdd32", "result", caller);
    return static_cast<std::int32_t>(result);
}

// Absolute value of a sample, widened: |-32768| is 32768.
constexpr std::int32_t Magnitude(Arg16 x, Caller caller = Caller::current())
{
    CheckRange(x, kMin16, kMax16, "Magnitude", "x", caller);
    const std::int32_t wide = static_cast<std::int16_t>(x);
    const std::int32_t result = wide < 0 ? -wide : wide;
    CheckRange(result, 0, kMax16 + 1, "Magnitude", "result", caller);
    return result;
}

// True when the count samples from a and from b do not overlap; for the contract checks.
inline bool Disjoint(const std::int16_t* a, const std::int16_t* b, std::ptrdiff_t count)
{
    const std::less<const std::int16_t*> before;
    return !before(a, b + count) || !before(b, a + count);
}

static_assert(MultiplyRoundQ15(16384, 1) == 1, "a half rounds up");
static_assert(MultiplyRoundQ15(16383, 1) == 0);
static_assert(MultiplyRoundQ15(-16384, 1) == 0, "a negative half rounds up too");
static_assert(MultiplyRoundQ15(-16385, 1) == -1);
static_assert(MultiplyRoundQ15(-32768, -32768) == 32768, "the one product beyond int16");
static_assert(MultiplyRoundQ15(-32768, 32767) == -32767);
static_assert(MultiplyRoundQ15(32767, 32767) == 32766);

static_assert(SaturateSymmetric16(-32768) == -32767);
static_assert(SaturateSymmetric16(32768) == 32767);
static_assert(SaturateSymmetric16(-32767) == -32767);
static_assert(SaturateSymmetric16(-10484) == -10484);
static_assert(SaturateSymmetric16(std::int64_t{1} << 40) == 32767);

static_assert(SaturateInt16(32768) == 32767);
static_assert(SaturateInt16(-32768) == -32768);
static_assert(SaturateInt16(-32769) == -32768);
static_assert(SaturateInt16(1234) == 1234);

static_assert(SaturatingAdd32(std::numeric_limits<std::int32_t>::max(), 1) ==
              std::numeric_limits<std::int32_t>::max());
static_assert(SaturatingAdd32(std::numeric_limits<std::int32_t>::min(), -1) ==
              std::numeric_limits<std::int32_t>::min());
static_assert(SaturatingAdd32(std::numeric_limits<std::int32_t>::max(), -1) ==
              std::numeric_limits<std::int32_t>::max() - 1);
static_assert(SaturatingAdd32(-5, 3) == -2);

static_assert(Magnitude(-32768) == 32768);
static_assert(Magnitude(-1) == 1);
static_assert(Magnitude(7) == 7);

}  // namespace fixedpoint

}  // namespace tarnwell
