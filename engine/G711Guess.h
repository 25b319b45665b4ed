// G711Guess: whether a headerless capture that would be read as 16-bit PCM holds A-law or
// µ-law bytes instead. 16-bit little-endian PCM has bytes of two kinds, low bytes spread flat
// and high bytes close to 0x00 or 0xFF; G.711 bytes are all of one kind, so the bytes at even
// and odd offsets share one histogram, and only the G.711 reading of them is a smooth signal.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/TestSettings.h"

namespace tarnwell {

struct ByteStatistics {
    double histogramDistance = 1.0;  // total variation between even- and odd-offset bytes, 0..1
    double pcmSmoothness = 0.0;      // lag-1 correlation of the bytes read as 16-bit PCM
    double aLawSmoothness = 0.0;     // ... read as A-law
    double uLawSmoothness = 0.0;     // ... read as µ-law
};

ByteStatistics MeasureBytes(const std::uint8_t* bytes, std::size_t size);

// kALaw or kULaw when the bytes look like that law rather than 16-bit PCM, else kPcm16.
HeaderlessFormat GuessG711(const std::uint8_t* bytes, std::size_t size);

}  // namespace tarnwell
