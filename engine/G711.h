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
static_assert(kULaw[0xFF] == 0 && kULaw[0x7F] == 0 && kULaw[0x80] == 32124 && kULaw[0x00] == -32124);

}  // namespace tarnwell::g711
