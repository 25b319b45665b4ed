// TestSignal: a composite source signal to play into a port, at 8000 samples/s. Each 350 ms
// half-period is a voiced part (48.625 ms, harmonics of 125 Hz with a falling spectrum), a
// spectrally shaped pseudo-noise part (200 ms) and a pause (101.375 ms); every second half-period
// has its polarity inverted. The active parts sit at the given level, so that the ERL's 100 ms
// blocks fall inside -20..-10 dBm0 at the default -15; the last 2 s (of a signal of 4 s or more)
// are silent, so that the near end can be heard alone.
#pragma once

#include <cstdint>
#include <string>
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

// How a signal file is written: 16-bit little-endian PCM (a .wav name gets its header), A-law
// or µ-law bytes.
enum class Coding { kPcm16, kALaw, kULaw };

// The coding for a file's name: format "by-name" reads the extension (.al/.alaw A-law,
// .ul/.ulaw µ-law, anything else 16-bit PCM); "pcm", "alaw" or "ulaw" says it. A .wav name
// is 16-bit PCM whatever format says.
Coding CodingFor(const std::string& path, const std::string& format);

// Writes samples to path in coding, creating or truncating it; false with the reason alone
// in why (the caller names the file). A file that could not be written whole is emptied.
bool Write(const std::string& path, const std::vector<std::int16_t>& samples, Coding coding,
           std::string& why);

}  // namespace tarnwell::testsignal
