#include "evidence/Fft.h"

#include <fftw3.h>

#include <cassert>
#include <mutex>
#include <new>

namespace tarnwell {

namespace {

std::mutex& PlannerLock()
{
    static std::mutex lock;
    return lock;
}

struct PlanDestroyer {
    void operator()(fftwf_plan_s* plan) const
    {
        const std::lock_guard<std::mutex> hold(PlannerLock());
        fftwf_destroy_plan(plan);
    }
};

using Plan = std::unique_ptr<fftwf_plan_s, PlanDestroyer>;

}  // namespace

struct RealFft::Plans {
    Plan forward;
    Plan inverse;
};

void RealFft::Freer::operator()(void* p) const { fftwf_free(p); }

RealFft::RealFft(int size) : size_(size)
{
    assert(size >= 2 && size % 2 == 0);
    const auto bins = static_cast<std::size_t>(Bins());
    real_.reset(static_cast<float*>(fftwf_malloc(sizeof(float) * static_cast<std::size_t>(size))));
    complexBuffer_.reset(fftwf_malloc(sizeof(fftwf_complex) * bins));
    if (!real_ || !complexBuffer_) {
        throw std::bad_alloc();
    }
    // fftwf_complex and std::complex<double> share their layout.
    spectrum_ = static_cast<std::complex<float>*>(complexBuffer_.get());
    auto* complexData = static_cast<fftwf_complex*>(complexBuffer_.get());
    plans_ = std::make_unique<Plans>();
    {
        // FFTW_ESTIMATE: no timing runs, so plans are cheap and do not touch the buffers.
        const std::lock_guard<std::mutex> hold(PlannerLock());
        plans_->forward.reset(fftwf_plan_dft_r2c_1d(size, real_.get(), complexData, FFTW_ESTIMATE));
        plans_->inverse.reset(fftwf_plan_dft_c2r_1d(size, complexData, real_.get(), FFTW_ESTIMATE));
    }
    if (!plans_->forward || !plans_->inverse) {
        throw std::bad_alloc();
    }
}

RealFft::~RealFft() = default;

void RealFft::Forward() { fftwf_execute(plans_->forward.get()); }

void RealFft::Inverse() { fftwf_execute(plans_->inverse.get()); }

}  // namespace tarnwell
