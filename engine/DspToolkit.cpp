#include "engine/DspToolkit.h"

#include <cmath>
#include <cstdint>

namespace {
// The double nearest to 1/256536560: a variance of 256,536,560 reads 0 dBm0.
constexpr double kLevelScale = 3.89807986822619e-9;
}  // namespace

double DspToolkit::BlockLevel(const std::int16_t* samples, int count) const
{
    // Running sums of x/N and x*x/N, each term divided before it is added: the rounding
    // of this order is part of the measure, so it must not be rearranged.
    const double n = count;
    double mean = 0.0;
    double meanSquare = 0.0;
    for (int i = 0; i < count; ++i) {
        const std::int32_t x = samples[i];
        mean += x / n;
        meanSquare += static_cast<double>(x * x) / n;
    }
    const double variance = meanSquare - mean * mean;
    return 10.0 * std::log(variance * kLevelScale) / std::log(10.0);
}

double DspToolkit::BlockCorrelation(const std::int16_t* first, const std::int16_t* second,
                                    int count) const
{
    double sff = 0.0;
    double sss = 0.0;
    double sfs = 0.0;
    const double n = count;
    for (int i = 0; i < count; ++i) {
        const double f = first[i];
        const double s = second[i];
        sff += f * f;
        sss += s * s;
        sfs += f * s;
    }
    return sfs / ((std::sqrt(sss / n) * std::sqrt(sff / n)) * n);
}
