#include "evidence/SampleSums.h"

namespace tarnwell {

// One clone per instruction set, chosen once by the loader from the CPU; "default" is the plain
// loop. The widening of each sample to 64 bits is most of the cost, and the wider sets do it in
// fewer steps.
__attribute__((target_clones("avx512f", "avx2", "default"))) SampleSums SumSamples(
    const std::int16_t* samples, int count)
{
    std::int64_t sum = 0;
    std::int64_t square = 0;
    for (int i = 0; i < count; ++i) {
        const std::int32_t x = samples[i];
        sum += x;
        square += x * x;  // at most 2^30
    }
    return {sum, square};
}

}  // namespace tarnwell
