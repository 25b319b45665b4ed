#include "engine/LevelKernel.h"

namespace tarnwell {

// One clone per instruction set, chosen once by the loader from the CPU; "default" is the
// plain loop, and the file is built to vectorise the others.
__attribute__((target_clones("avx512f", "avx2", "default"))) void DivideByCount(
    const std::int16_t* samples, int count, double n, double* quotients, double* squareQuotients)
{
    for (int i = 0; i < count; ++i) {
        const std::int32_t x = samples[i];
        quotients[i] = x / n;
        squareQuotients[i] = static_cast<double>(x * x) / n;  // x*x <= 2^30, exact in int32
    }
}

}  // namespace tarnwell
