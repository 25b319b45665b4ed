// DspToolkit: the stateless numeric operations every stage of the echo test shares.
// BlockLevel gives a block's level in dB on the dBm0 scale (10*log10(variance*C));
// BlockCorrelation the normalised cross-correlation of two blocks (means not removed);
// HighPassFilter and UpperBandFilter run a fixed elliptic IIR over a whole buffer.
// Degenerate blocks give non-finite results, which flow on to the callers unchanged.
#pragma once

#include <cstdint>

namespace tarnwell {

// The dBm0 scale C: a block of variance v (sample units squared) lies at 10*log10(v*C) dBm0.
inline constexpr double kLevelScale = 3.89807986822619e-9;

class DspToolkit {
public:
    virtual ~DspToolkit() = default;

    // Level of count samples on the dBm0 scale; -inf for silence or count <= 0.
    double BlockLevel(const std::int16_t* samples, int count) const;

    // BlockLevel of two blocks of count samples at once, the same bits as two calls; faster,
    // as the two blocks' sums run side by side.
    void BlockLevelPair(const std::int16_t* first, const std::int16_t* second, int count, double& firstLevel,
                        double& secondLevel) const;

    // Cosine of the angle between two blocks of count samples; NaN if either is silent.
    double BlockCorrelation(const std::int16_t* first, const std::int16_t* second, int count) const;

    // Third-order elliptic high-pass, 200..4000 Hz passband, >= 50 dB down below 50 Hz.
    // Starts from rest; destination holds count samples and may be source itself.
    void HighPassFilter(const std::int16_t* source, std::int16_t* destination, int count) const;

    // HighPassFilter on two buffers of count samples, each in place; faster than one after
    // the other.
    void HighPassFilterPair(std::int16_t* one, std::int16_t* other, int count) const;

    // Ninth-order elliptic high-pass, 1800..4000 Hz passband, >= 80 dB down below 1607 Hz.
    void UpperBandFilter(const std::int16_t* source, std::int16_t* destination, int count) const;

    // The same filter over source[0 .. end), keeping only outputs first .. end - 1, which go to
    // destination[0 .. end - first): for a caller that reads no other part of the output.
    void UpperBandFilter(const std::int16_t* source, std::int16_t* destination, int first, int end) const;
};

}  // namespace tarnwell
