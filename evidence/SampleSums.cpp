#include "evidence/SampleSums.h"

#include "canceller/CpuClones.h"

namespace tarnwell {

namespace {
constexpr int kChunk = 32768;  // samples whose partial sums below fit in 32 bits
}  // namespace

// Widening every sample to 64 bits is slow; instead each sample splits into a high byte
// h (-128..127) and a low one l (0..255), x = 256 h + l, so x^2 = 65536 h^2 + 512 h l + l^2, and
// the three sums of 16-bit products stay within 32 bits over a chunk (at most 2^14, 32640 and
// 65025 a sample), which the vector units multiply and add pairwise. Exact, as integers are.
TARNWELL_CPU_CLONES SampleSums SumSamples(const std::int16_t* samples, int count)
{
    SampleSums out;
    for (int from = 0; from < count; from += kChunk) {
        const int to = count - from < kChunk ? count : from + kChunk;
        std::int32_t sum = 0;
        std::int32_t highs = 0;
        std::int32_t crosses = 0;
        std::int32_t lows = 0;
        for (int i = from; i < to; ++i) {
            const std::int16_t x = samples[i];
            const auto high = static_cast<std::int16_t>(x >> 8);
            const auto low = static_cast<std::int16_t>(x & 255);
            sum += x;
            highs += high * high;
            crosses += high * low;
            lows += low * low;
        }
        out.sum += sum;
        out.square += 65536 * static_cast<std::int64_t>(highs) + 512 * static_cast<std::int64_t>(crosses) +
                      lows;
    }
    return out;
}

double BlockVariance(const std::int16_t* samples, int count)
{
    const SampleSums s = SumSamples(samples, count);
    const double mean = static_cast<double>(s.sum) / count;
    return static_cast<double>(s.square) / count - mean * mean;
}

TARNWELL_CPU_CLONES void AddWeightedSamples(const double* samples, double weight, double* out, int count)
{
    for (int i = 0; i < count; ++i) {
        out[i] += weight * samples[i];
    }
}

}  // namespace tarnwell
