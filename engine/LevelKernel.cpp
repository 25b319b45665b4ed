#include "engine/LevelKernel.h"

#include "canceller/CpuClones.h"

namespace tarnwell {

// The file is built to vectorise the clones.
TARNWELL_CPU_CLONES void DivideByCount(const std::int16_t* samples, int count, double n, double* quotients,
                                       double* squareQuotients)
{
    for (int i = 0; i < count; ++i) {
        const std::int32_t x = samples[i];
        quotients[i] = x / n;
        squareQuotients[i] = static_cast<double>(x * x) / n;  // x*x <= 2^30, exact in int32
    }
}

TARNWELL_CPU_CLONES ProductSums SumProducts(const std::int16_t* first, const std::int16_t* second, int count)
{
    std::int64_t ff = 0;
    std::int64_t ss = 0;
    std::int64_t fs = 0;
    for (int i = 0; i < count; ++i) {
        const std::int32_t f = first[i];
        const std::int32_t s = second[i];
        ff += f * f;  // at most 2^30 each
        ss += s * s;
        fs += f * s;
    }
    return {ff, ss, fs};
}

}  // namespace tarnwell
