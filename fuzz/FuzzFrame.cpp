// ProcessFrame from a random in-range state: the canceller's invariants hold after every
// frame, and the vector tap loop gives the plain loop's bits.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "canceller/EchoCanceller.h"
#include "canceller/TapLoop.h"
#include "fuzz/FuzzInput.h"

using namespace tarnwell;

namespace {

void Check(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

void RandomState(fuzz::FuzzInput& in, CancellerState& s)
{
    s.tail = static_cast<std::int16_t>(2 * in.Range(0, kMaxTail / 2));
    s.bulkDelay = static_cast<std::int16_t>(in.Range(0, kMaxBulkDelay));
    for (int j = 0; j < s.tail; ++j) {
        s.coefficients[j] = in.Take<std::int32_t>();
    }
    for (auto& x : s.history) {
        x = in.Take<std::int16_t>();
    }
    s.step = static_cast<std::int16_t>(in.Range(-32767, 32767));
    s.nlpEnable = static_cast<std::int16_t>(in.Range(0, 1));
    s.normaliser = static_cast<std::int16_t>(in.Range(1, 32767));
    s.nlpShift = static_cast<std::int16_t>(in.Range(0, 10));
    s.nlpDiff = static_cast<std::int16_t>(in.Range(0, 100));
    const std::int16_t speeds[] = {AdaptSlow, AdaptNormal, AdaptFast};
    s.adaptState = speeds[in.Range(0, 2)];
    s.convergeTimer = static_cast<std::int16_t>(80 * in.Range(0, 100));
    s.mode = static_cast<std::int16_t>(in.Range(-1, 2));
    s.modeCounter = static_cast<std::int16_t>(in.Range(-4, 4));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::FuzzInput in(data, size);
    const EchoCanceller canceller;
    auto state = std::make_unique<CancellerState>();
    RandomState(in, *state);
    const int frames = in.Range(1, 4);
    for (int f = 0; f < frames; ++f) {
        std::int16_t nearEnd[kFrameLength];
        std::int16_t reference[kFrameLength];
        for (int i = 0; i < kFrameLength; ++i) {
            nearEnd[i] = in.Take<std::int16_t>();
            reference[i] = in.Take<std::int16_t>();
        }
        // The filter alone, plain against the chosen loop, from the same state.
        auto plain = std::make_unique<CancellerState>(*state);
        auto vector = std::make_unique<CancellerState>(*state);
        std::int16_t plainOut[kFrameLength];
        std::int16_t vectorOut[kFrameLength];
        const std::int16_t plainStep = canceller.FilterFrame(*plain, nearEnd, plain->history + plain->tail,
                                                             plainOut);
        const std::int16_t vectorStep = taploop::FilterFrame(taploop::Active(), canceller, *vector, nearEnd,
                                                             vector->history + vector->tail, vectorOut);
        Check(plainStep == vectorStep);
        Check(std::memcmp(plainOut, vectorOut, sizeof plainOut) == 0);
        Check(std::memcmp(plain->coefficients, vector->coefficients, sizeof plain->coefficients) == 0);

        std::int16_t output[kFrameLength];
        FrameReport report{};
        canceller.ProcessFrame(*state, nearEnd, reference, output, kFrameLength, report);
        for (int i = 0; i < kFrameLength; ++i) {
            // Only the bypass can pass the near end's -32768 through.
            Check(output[i] != -32768 || nearEnd[i] == -32768);
        }
        Check(state->step >= -32767 && state->step <= 32767);
        Check(state->adaptState == AdaptSlow || state->adaptState == AdaptNormal ||
              state->adaptState == AdaptFast);
        Check(state->mode >= ModeIdle && state->mode <= ModeConverged);
        Check(state->convergeTimer >= 0 && state->convergeTimer <= 8000 && state->convergeTimer % 80 == 0);
        Check(state->modeCounter >= -5 && state->modeCounter <= 5);
        Check(state->normaliser >= 1);
        Check(report.valid == 0 || report.valid == 1);
    }
    return 0;
}
