#include "engine/G711Guess.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "engine/G711.h"

namespace tarnwell {

namespace {

// Lag-1 correlation of a signal about its mean; 0 for a constant one.
template <typename Sample>
double Smoothness(std::size_t count, Sample sample)
{
    if (count < 2) {
        return 0.0;
    }
    double mean = 0.0;
    for (std::size_t i = 0; i < count; ++i) {
        mean += sample(i);
    }
    mean /= static_cast<double>(count);
    double energy = 0.0;
    double lagged = 0.0;
    double previous = sample(0) - mean;
    energy += previous * previous;
    for (std::size_t i = 1; i < count; ++i) {
        const double x = sample(i) - mean;
        energy += x * x;
        lagged += x * previous;
        previous = x;
    }
    return energy > 0.0 ? lagged / energy : 0.0;
}

}  // namespace

ByteStatistics MeasureBytes(const std::uint8_t* bytes, std::size_t size)
{
    ByteStatistics stats;
    const std::size_t pairs = size / 2;
    if (pairs == 0) {
        return stats;
    }
    std::array<double, 256> even{};
    std::array<double, 256> odd{};
    for (std::size_t i = 0; i < pairs; ++i) {
        even[bytes[2 * i]] += 1.0;
        odd[bytes[2 * i + 1]] += 1.0;
    }
    double distance = 0.0;
    for (std::size_t b = 0; b < 256; ++b) {
        distance += std::fabs(even[b] - odd[b]);
    }
    stats.histogramDistance = distance / (2.0 * static_cast<double>(pairs));
    stats.pcmSmoothness = Smoothness(pairs, [bytes](std::size_t i) {
        return static_cast<double>(
            static_cast<std::int16_t>(static_cast<std::uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8))));
    });
    stats.aLawSmoothness = Smoothness(
        2 * pairs, [bytes](std::size_t i) { return static_cast<double>(g711::kALaw[bytes[i]]); });
    stats.uLawSmoothness = Smoothness(
        2 * pairs, [bytes](std::size_t i) { return static_cast<double>(g711::kULaw[bytes[i]]); });
    return stats;
}

HeaderlessFormat GuessG711(const std::uint8_t* bytes, std::size_t size)
{
    // 16-bit PCM of speech, tones at any level and noise up to -8 dBFS rms keeps its even and
    // odd bytes at least 0.22 apart, and reads as G.711 no smoother than 0.26; G.711 speech
    // stays within 0.05 and reads as its own law at 0.92 or more.
    constexpr double kSameHistogram = 0.15;
    constexpr double kSmooth = 0.5;
    constexpr std::size_t kFewestBytes = 8000;  // one second of G.711
    if (size < kFewestBytes) {
        return HeaderlessFormat::kPcm16;
    }
    const ByteStatistics s = MeasureBytes(bytes, size);
    const double best = std::max(s.aLawSmoothness, s.uLawSmoothness);
    if (s.histogramDistance >= kSameHistogram || best <= kSmooth || best <= s.pcmSmoothness) {
        return HeaderlessFormat::kPcm16;
    }
    return s.aLawSmoothness >= s.uLawSmoothness ? HeaderlessFormat::kALaw : HeaderlessFormat::kULaw;
}

}  // namespace tarnwell
