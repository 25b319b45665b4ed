// G.711 expansion: one A-law or µ-law byte to a 16-bit linear sample, as the recommendation's
// tables give it (the same values sox and libsndfile decode to). A-law spans ±32256, µ-law ±32124.
#pragma once

#include <array>
#include <cstdint>

namespace tarnwell::g711 {

// A-law: even bits inverted (0x55), then a 3-bit segment and a 4-bit step; the sign bit set
// means positive. Each step is centred in its interval, hence the half-step added.
constexpr std::int16_t ALawToLinear(std::uint8_t code)
{
    const int a = code ^ 0x55;
    const int segment = (a & 0x70) >> 4;
    int magnitude = (a & 0x0F) << 4;
    if (segment == 0) {
        magnitude += 8;
    } else {
        magnitude = (magnitude + 0x108) << (segment - 1);
    }
    return static_cast<std::int16_t>((a & 0x80) != 0 ? magnitude : -magnitude);
}

// µ-law: every bit inverted, then a biased (0x84) magnitude shifted by the segment; the sign
// bit set (after inversion) means negative.
constexpr std::int16_t ULawToLinear(std::uint8_t code)
{
    const int u = ~code & 0xFF;
    const int magnitude = (((u & 0x0F) << 3) + 0x84) << ((u & 0x70) >> 4);
    return static_cast<std::int16_t>((u & 0x80) != 0 ? 0x84 - magnitude : magnitude - 0x84);
}

// Compression, the classic way: the magnitude's segment found by its leading bit, the step
// truncated within it. Each code's own value compresses back to that code (pinned below).
constexpr std::uint8_t LinearToALaw(std::int16_t sample)
{
    int pcm = sample >> 3;  // 13-bit magnitude
    int mask = 0xD5;
    if (pcm < 0) {
        mask = 0x55;
        pcm = -pcm - 1;
    }
    int segment = 0;
    while (segment < 8 && pcm > (0x20 << segment) - 1) {
        ++segment;
    }
    if (segment >= 8) {
        return static_cast<std::uint8_t>(0x7F ^ mask);
    }
    const int step = segment < 2 ? (pcm >> 1) & 0x0F : (pcm >> segment) & 0x0F;
    return static_cast<std::uint8_t>(((segment << 4) | step) ^ mask);
}

constexpr std::uint8_t LinearToULaw(std::int16_t sample)
{
    constexpr int kClip = 8159;  // 14-bit magnitude that the largest code stands for
    int pcm = sample >> 2;
    int mask = 0xFF;
    if (pcm < 0) {
        pcm = -pcm;
        mask = 0x7F;
    }
    pcm = (pcm > kClip ? kClip : pcm) + (0x84 >> 2);
    int segment = 0;
    while (segment < 8 && pcm > (0x40 << segment) - 1) {
        ++segment;
    }
    if (segment >= 8) {
        return static_cast<std::uint8_t>(0x7F ^ mask);
    }
    return static_cast<std::uint8_t>(((segment << 4) | ((pcm >> (segment + 1)) & 0x0F)) ^ mask);
}

using Table = std::array<std::int16_t, 256>;

template <std::int16_t (*Decode)(std::uint8_t)>
constexpr Table MakeTable()
{
    Table table{};
    for (int code = 0; code < 256; ++code) {
        table[static_cast<std::size_t>(code)] = Decode(static_cast<std::uint8_t>(code));
    }
    return table;
}

inline constexpr Table kALaw = MakeTable<ALawToLinear>();
inline constexpr Table kULaw = MakeTable<ULawToLinear>();

static_assert(kALaw[0xD5] == 8 && kALaw[0x55] == -8 && kALaw[0xAA] == 32256 && kALaw[0x2A] == -32256);
constexpr bool RoundTrips()
{
    for (int code = 0; code < 256; ++code) {
        const auto c = static_cast<std::uint8_t>(code);
        if (LinearToALaw(kALaw[c]) != c || (code != 0x7F && LinearToULaw(kULaw[c]) != c)) {
            return false;
        }
    }
    return LinearToULaw(0) == 0xFF && LinearToALaw(32767) == 0xAA && LinearToULaw(-32768) == 0x00;
}
static_assert(RoundTrips(), "every code's value compresses back to the code");

static_assert(kULaw[0xFF] == 0 && kULaw[0x7F] == 0 && kULaw[0x80] == 32124 && kULaw[0x00] == -32124);

}  // namespace tarnwell::g711
