// TestSignal: a composite source signal to play into a port, at 8000 samples/s. Each 350 ms
// half-period is a voiced part (48.625 ms, harmonics of 125 Hz with a falling spectrum), a
// spectrally shaped pseudo-noise part (200 ms) and a pause (101.375 ms); every second half-period
// has its polarity inverted. The active parts sit at the given level, so that the ERL's 100 ms
// blocks fall inside -20..-10 dBm0 at the default -15; the last 2 s (of a signal of 4 s or more)
// are silent, so that the near end can be heard alone.
#pragma once

#include <cstdint>
#include <vector>

namespace tarnwell::testsignal {

inline constexpr int kVoiced = 389;  // samples
inline constexpr int kNoise = 1600;
inline constexpr int kPause = 811;
inline constexpr int kHalfPeriod = kVoiced + kNoise + kPause;
static_assert(kHalfPeriod == 2800, "350 ms at 8000 samples/s");
inline constexpr int kQuietTail = 16000;  // the near end alone, 2 s

// seconds of signal whose active parts are at levelDbm0 (dBm0, on the run's level scale).
std::vector<std::int16_t> Make(int seconds, double levelDbm0);

}  // namespace tarnwell::testsignal
