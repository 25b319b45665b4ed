// The per-bin loops of the whitened evidence: cross-spectra and powers summed in double from
// single-precision transforms, and the phase transform's division by the magnitude. Each bin's
// arithmetic is written out as in a plain loop (no fused operations), and correctly rounded in
// a lane of any width, so the clones the CPU picks give the plain loop's bits.
#pragma once

#include <complex>

namespace tarnwell {

// sum[k] += conj(x[k]) r[k], in double, for k < bins.
void AddConjProduct(const std::complex<float>* x, const std::complex<float>* r, std::complex<double>* sum,
                    int bins);
// power[k] += |x[k]|^2, in double, for k < bins.
void AddPower(const std::complex<float>* x, double* power, int bins);
// sum[k] += add[k] for k < bins.
void AddSpectrum(const std::complex<double>* add, std::complex<double>* sum, int bins);
// out[k] = cross[k] / |cross[k]| in single for low <= k <= high (0 where |cross[k]| is 0); the
// count of bins that were not 0.
int Whiten(const std::complex<double>* cross, int low, int high, std::complex<float>* out);

}  // namespace tarnwell
