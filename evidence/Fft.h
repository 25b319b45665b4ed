// A real transform of one size in single precision, forward (real to half spectrum) and
// inverse, over buffers that this object owns and frees on every way out, and FFTW3 plans made
// once per size for the program's life and shared. Single precision: the evidence needs 16-bit
// samples' dynamic range, not double's, and it halves the cost. Planning is not thread-safe in
// FFTW and the batch runs ports on threads, so plans are made and destroyed under one lock;
// running a plan on an object's own buffers is thread-safe.
#pragma once

#include <complex>
#include <memory>

namespace tarnwell {

class RealFft {
public:
    explicit RealFft(int size);  // size: even, at least 2
    ~RealFft();
    RealFft(const RealFft&) = delete;
    RealFft& operator=(const RealFft&) = delete;

    int Size() const { return size_; }
    int Bins() const { return size_ / 2 + 1; }

    // Fill Real() with size samples, then Forward() leaves bins 0..size/2 in Spectrum().
    float* Real() { return real_.get(); }
    std::complex<float>* Spectrum() { return spectrum_; }
    void Forward();
    // Fill Spectrum(), then Inverse() leaves the unscaled inverse (size times the mean) in Real().
    void Inverse();

private:
    struct Freer {
        void operator()(void* p) const;
    };
    struct Plans;
    int size_;
    std::unique_ptr<float, Freer> real_;
    std::unique_ptr<void, Freer> complexBuffer_;
    std::complex<float>* spectrum_ = nullptr;
    std::unique_ptr<Plans> plans_;
};

}  // namespace tarnwell
