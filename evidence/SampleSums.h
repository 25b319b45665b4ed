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

}  // namespace tarnwell
