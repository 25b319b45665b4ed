// Test signals for the G.168-style tests, as doubles in sample units (full scale 32767) at
// 8000 samples/s, each at a given level in dBm0 on the scale the report's levels use (a mean
// square of 256,536,560 reads 0 dBm0); the G.711 round trip of the echo channel; and the
// level meter that the tests' limits are judged with.
#pragma once

#include <cstdint>
#include <vector>

namespace tarnwell::g168 {

inline constexpr int kSampleRate = 8000;
inline constexpr double kZeroDbm0MeanSquare = 256536560.0;
inline constexpr double kMeterFloorDbm0 = -100.0;  // silence reads this, not minus infinity
inline constexpr int kMeterWindow = 320;           // samples: the meter averages 40 ms

// A composite source signal of this tool's own making: a period of 48 ms of voiced sound
// (harmonics of 150 Hz falling 6 dB per octave), 200 ms of speech-shaped noise and 102 ms of
// silence, every other period inverted. Its level is that of the sounding part. The seed
// gives independent signals for the far and the near end.
std::vector<double> CompositeSource(int count, double levelDbm0, std::uint32_t seed);

// Noise shaped like room noise (Hoth): flat to about 450 Hz, then falling 6 dB per octave.
std::vector<double> HothNoise(int count, double levelDbm0, std::uint32_t seed);

// The sum of sines at the given frequencies (one, or a DTMF pair), together at levelDbm0.
std::vector<double> Tones(int count, double levelDbm0, const std::vector<double>& hertz);

// The µ-law value nearest to a sample: a G.711 encode and decode.
std::int16_t ULawRoundTrip(double sample);

// Level in dBm0 of each kMeterWindow-sample window (the last partial window dropped).
std::vector<double> MeterLevels(const std::vector<double>& samples);
std::vector<double> MeterLevels(const std::vector<std::int16_t>& samples);

}  // namespace tarnwell::g168
