#include "evidence/Fft.h"

#include <fftw3.h>

#include <cassert>
#include <map>
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

struct SizePlans {
    Plan forward;
    Plan inverse;
};

}  // namespace

// One pair of plans per size for the life of the program: planning costs several transforms'
// worth of time, and a run makes the same two sizes each time. Each object runs them on its
// own buffers (the new-array interface; fftwf_malloc gives every buffer the same alignment).
struct RealFft::Plans {
    fftwf_plan_s* forward = nullptr;
    fftwf_plan_s* inverse = nullptr;
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
    // fftwf_complex and std::complex<float> share their layout.
    spectrum_ = static_cast<std::complex<float>*>(complexBuffer_.get());
    auto* complexData = static_cast<fftwf_complex*>(complexBuffer_.get());
    plans_ = std::make_unique<Plans>();
    {
        const std::lock_guard<std::mutex> hold(PlannerLock());
        static std::map<int, SizePlans> cache;
        SizePlans& plans = cache[size];
        // FFTW_ESTIMATE: no timing runs, so plans do not touch the buffers. Only a missing plan is
        // made: resetting a held one would call the destroyer, which takes this lock.
        if (!plans.forward) {
            plans.forward.reset(fftwf_plan_dft_r2c_1d(size, real_.get(), complexData, FFTW_ESTIMATE));
        }
        if (!plans.inverse) {
            plans.inverse.reset(fftwf_plan_dft_c2r_1d(size, complexData, real_.get(), FFTW_ESTIMATE));
        }
        plans_->forward = plans.forward.get();
        plans_->inverse = plans.inverse.get();
    }
    if (plans_->forward == nullptr || plans_->inverse == nullptr) {
        throw std::bad_alloc();
    }
}

RealFft::~RealFft() = default;

void RealFft::Forward()
{
    fftwf_execute_dft_r2c(plans_->forward, real_.get(), static_cast<fftwf_complex*>(complexBuffer_.get()));
}

void RealFft::Inverse()
{
    fftwf_execute_dft_c2r(plans_->inverse, static_cast<fftwf_complex*>(complexBuffer_.get()), real_.get());
}

}  // namespace tarnwell
