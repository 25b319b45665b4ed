// Initialisation, frame level and frame processing of the canceller. The adaptive filter
// is in AdaptiveFilter.cpp, the adaptation control in AdaptationControl.cpp.
#include "canceller/EchoCanceller.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdint>
#include <iterator>

#include "canceller/CancellerThresholds.h"
#include "canceller/FixedPoint.h"
#include "canceller/TapLoop.h"

namespace tarnwell {

namespace {

// The double nearest to 1/32767^2: a constant +-32767 signal reads 0 dB.
constexpr double kFullScaleInverse = 1.0 / (32767.0 * 32767.0);
static_assert(kFullScaleInverse == 9.313794206365304e-10);

constexpr std::int16_t kDefaultNlpShift = 3;  // about 18 dB of NLP attenuation
constexpr std::int16_t kDefaultNlpDiff = 10;  // dB

// The low 16 bits of v, taken as signed (modular since C++20).
constexpr std::int16_t Low16(std::int32_t v) { return static_cast<std::int16_t>(v); }

}  // namespace

void EchoCanceller::InitCanceller(CancellerState& state, CancellerConfig& config) const
{
    std::fill(std::begin(state.coefficients), std::end(state.coefficients), 0);
    std::fill(std::begin(state.history), std::end(state.history), std::int16_t{0});
    state.bulkDelay = Low16(config.bulkDelay);
    // The remainder takes the sign of the dividend: an odd tail is rounded up to even.
    state.tail = Low16(config.tail + config.tail % 2);
    state.nlpEnable = Low16(config.nlpEnable);
    if (config.nlpShift < 0) {
        config.nlpShift = kDefaultNlpShift;
    }
    if (config.nlpDiff < 0) {
        config.nlpDiff = kDefaultNlpDiff;
    }
    state.nlpShift = Low16(config.nlpShift);
    state.nlpDiff = Low16(config.nlpDiff);
    state.adaptationFrozen = Low16(config.freezeAdaptation);
    state.step = 0;
    state.normaliser = 1;
    state.adaptState = AdaptNormal;
    state.convergeTimer = 0;
    state.mode = ModeIdle;
    state.modeCounter = 0;
}

int EchoCanceller::FrameEnergyLevel(const std::int16_t* samples, int count) const
{
    // Starting at 1 keeps the logarithm finite for silence. Every square is exact in
    // 32 bits and the sum is exact in a double for any frame length used here.
    double sum = 1.0;
    for (int i = 0; i < count; ++i) {
        const std::int32_t x = samples[i];
        sum += x * x;
    }
    const double meanSquare = (sum / count) * kFullScaleInverse;
    // Subtracting a half then truncating rounds the negative levels to the nearest dB.
    const double level = 10.0 * std::log10(meanSquare) - 0.5;
    return static_cast<int>(level);
}

void EchoCanceller::ProcessFrame(CancellerState& state, const std::int16_t* nearEnd,
                                 const std::int16_t* reference, std::int16_t* output, std::int16_t count,
                                 FrameReport& report) const
{
    // The filter and the history are laid out for whole 80-sample frames.
    assert(count == kFrameLength);
    assert(state.tail >= 0 && state.tail <= kMaxTail);
    assert(state.bulkDelay >= 0 && state.bulkDelay <= kMaxBulkDelay);
    assert(fixedpoint::Disjoint(nearEnd, output, count));
    assert(fixedpoint::Disjoint(reference, output, count));

    const int tail = state.tail;
    const int delay = state.bulkDelay;

    // Bulk delay: the new reference goes behind the T + D samples kept from earlier frames,
    // so the frame the filter aligns with the near end starts at position T.
    std::copy(reference, reference + count, state.history + tail + delay);
    const std::int16_t* delayed = state.history + tail;

    const std::int16_t refLevel = Low16(FrameEnergyLevel(delayed, count));
    const std::int16_t nearLevel = Low16(FrameEnergyLevel(nearEnd, count));

    // The reference well above the near end: the frame may adapt, and the NLP may act on it.
    const std::int16_t farEndAlone = (refLevel - nearLevel > kAdaptMarginDb) ? 1 : 0;
    state.adaptFlag = farEndAlone;
    if (state.adaptationFrozen != 0) {
        state.adaptFlag = 0;
        state.step = 0;  // nor does the step carried from the last frame move a weight
    }

    // Step normaliser from the peak of the whole filter window, once per frame.
    const std::int32_t peak = taploop::PeakMagnitude(taploop::Active(), state.history, count + tail);
    if (peak != 0) {
        state.normaliser = Low16(fixedpoint::kSymmetricMax16 / peak);
    }
    if (state.normaliser <= 0) {
        state.normaliser = 1;  // only a peak of 32768 gets here
    }
    if (refLevel < kNlpReferenceFloorFrameDb || state.convergeTimer == kTimerFullSamples) {
        state.normaliser = 1;
    }

    state.step = taploop::FilterFrame(taploop::Active(), *this, state, nearEnd, delayed, output);

    const std::int16_t errorLevel = Low16(FrameEnergyLevel(output, count));

    UpdateControl(state, refLevel, nearLevel, errorLevel, state.adaptFlag);
    report.nearEndAlone = IsNearEndAlone(refLevel, nearLevel) ? 1 : 0;

    if (state.adaptState == AdaptNormal || state.adaptState == AdaptFast) {
        report.valid = 1;
    }

    state.adaptFlag = Low16(state.nlpEnable * farEndAlone);

    if (refLevel > kNlpReferenceFloorFrameDb && state.adaptFlag == 1) {
        report.cancellation = nearLevel - errorLevel;
        if (errorLevel < nearLevel - state.nlpDiff) {
            report.nlpActed = 1;
            // Arithmetic shift: about 6 dB per bit, negative samples round toward -infinity.
            for (int i = 0; i < count; ++i) {
                output[i] = Low16(output[i] >> state.nlpShift);
            }
        }
    }

    // A frame that cancellation made louder leaves the canceller unchanged.
    if (nearLevel < errorLevel) {
        std::copy(nearEnd, nearEnd + count, output);
    }

    if (report.valid != 0) {
        report.residualLevel = BlockLevel(output, count);
    }

    // Keep the most recent T + D reference samples, oldest first; the ranges overlap and
    // the move goes downwards, which std::copy handles front to back.
    std::copy(state.history + count, state.history + count + tail + delay, state.history);
}

}  // namespace tarnwell
