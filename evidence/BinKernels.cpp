#include "evidence/BinKernels.h"

#include <cmath>

#include "canceller/CpuClones.h"

namespace tarnwell {

// The arrays are read as interleaved real and imaginary parts, as std::complex lays them out,
// so that the compiler sees plain loads.
TARNWELL_CPU_CLONES void AddConjProduct(const std::complex<float>* x, const std::complex<float>* r,
                                        std::complex<double>* sum, int bins)
{
    const auto* xs = reinterpret_cast<const float*>(x);
    const auto* rs = reinterpret_cast<const float*>(r);
    auto* s = reinterpret_cast<double*>(sum);
    for (int k = 0; k < bins; ++k) {
        const double a = xs[2 * k];
        const double b = xs[2 * k + 1];
        const double c = rs[2 * k];
        const double d = rs[2 * k + 1];
        s[2 * k] += a * c + b * d;
        s[2 * k + 1] += a * d - b * c;
    }
}

TARNWELL_CPU_CLONES void AddPower(const std::complex<float>* x, double* power, int bins)
{
    const auto* xs = reinterpret_cast<const float*>(x);
    for (int k = 0; k < bins; ++k) {
        const double a = xs[2 * k];
        const double b = xs[2 * k + 1];
        power[k] += a * a + b * b;
    }
}

TARNWELL_CPU_CLONES void AddSpectrum(const std::complex<double>* add, std::complex<double>* sum, int bins)
{
    const auto* a = reinterpret_cast<const double*>(add);
    auto* s = reinterpret_cast<double*>(sum);
    for (int i = 0; i < 2 * bins; ++i) {
        s[i] += a[i];
    }
}

TARNWELL_CPU_CLONES int Whiten(const std::complex<double>* cross, int low, int high, std::complex<float>* out)
{
    const auto* c = reinterpret_cast<const double*>(cross);
    auto* o = reinterpret_cast<float*>(out);
    int used = 0;
    for (int k = low; k <= high; ++k) {
        const auto re = static_cast<float>(c[2 * k]);
        const auto im = static_cast<float>(c[2 * k + 1]);
        const float norm = re * re + im * im;
        // A plain select the compiler can turn into vector square roots.
        const float inverse = norm > 0.0F ? 1.0F / std::sqrt(norm) : 0.0F;
        o[2 * k] = re * inverse;
        o[2 * k + 1] = im * inverse;
        used += norm > 0.0F ? 1 : 0;
    }
    return used;
}

}  // namespace tarnwell
