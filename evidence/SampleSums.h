// The sum and the sum of squares of 16-bit samples, exact (the sums of plain 64-bit integers),
// for the evidence's Tx activity and block powers.
#pragma once

#include <cstdint>

namespace tarnwell {

struct SampleSums {
    std::int64_t sum = 0;
    std::int64_t square = 0;
};

SampleSums SumSamples(const std::int16_t* samples, int count);

// The variance of count samples (their mean removed, as the run's levels do), sample units
// squared; times kLevelScale, their power re 0 dBm0.
double BlockVariance(const std::int16_t* samples, int count);

// out[i] += weight * samples[i] for i < count. With 16-bit samples and 16-bit weights scaled
// by a power of two, each product is exact in double, and so is every sum within 2^53 steps.
void AddWeightedSamples(const double* samples, double weight, double* out, int count);

}  // namespace tarnwell
