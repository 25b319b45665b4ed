// Fixed-point helpers of the canceller: Q15 rounding and the saturations, one contract each.
// Every caller keeps its operands inside the stated ranges; nothing here can overflow.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>

namespace tarnwell {

namespace fixedpoint {

inline constexpr std::int32_t kQ15Half = 16384;           // 0.5 in Q15
inline constexpr std::int32_t kSymmetricMax16 = 32767;    // largest magnitude of an error or step

// Product of two 16-bit factors taken back to Q15, half a unit rounding up:
// (a * b + 16384) >> 15 with an arithmetic shift. Exact for every pair: the largest
// product, (-32768)^2 = 2^30, leaves room for the half in 32 bits.
constexpr std::int32_t MultiplyRoundQ15(std::int16_t a, std::int16_t b)
{
    const std::int32_t product = static_cast<std::int32_t>(a) * b;
    return (product + kQ15Half) >> 15;
}

// Clamps to -32767..32767: the error and the step never take the value -32768.
constexpr std::int16_t SaturateSymmetric16(std::int64_t v)
{
    if (v > kSymmetricMax16) {
        return kSymmetricMax16;
    }
    if (v < -kSymmetricMax16) {
        return -kSymmetricMax16;
    }
    return static_cast<std::int16_t>(v);
}

// Clamps to the full int16 range -32768..32767.
constexpr std::int16_t SaturateInt16(std::int32_t v)
{
    constexpr std::int32_t lo = std::numeric_limits<std::int16_t>::min();
    constexpr std::int32_t hi = std::numeric_limits<std::int16_t>::max();
    return static_cast<std::int16_t>(std::min(std::max(v, lo), hi));
}

// a + b clamped to the int32 range; the sum is formed in 64 bits, so it never overflows.
constexpr std::int32_t SaturatingAdd32(std::int32_t a, std::int32_t b)
{
    constexpr std::int64_t lo = std::numeric_limits<std::int32_t>::min();
    constexpr std::int64_t hi = std::numeric_limits<std::int32_t>::max();
    const std::int64_t sum = static_cast<std::int64_t>(a) + b;
    return static_cast<std::int32_t>(std::min(std::max(sum, lo), hi));
}

// Absolute value of a sample, widened: |-32768| is 32768.
constexpr std::int32_t Magnitude(std::int16_t x)
{
    const std::int32_t wide = x;
    return wide < 0 ? -wide : wide;
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
