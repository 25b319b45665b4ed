// The frame loop both vector tap loops share: the same sample loop as FilterFrame, with the
// pass over the taps handed to a Taps type (TapLoopAvx2.cpp, TapLoopAvx512.cpp). Each of
// those files instantiates it inside one function compiled for its instruction set and
// flattened, so everything below becomes that function's own code: none of it is emitted
// on its own, where a CPU without the instructions could reach it.
//
// Taps provides kWidth (16-bit lanes per vector), the frame's set-up and copy-back
//   SetUp(scratch, coefficients, x, tail)   fills the FrameScratch below (every vector up to
//                                           the end of the last one the taps touch); true
//                                           when the window holds -32768
//   CopyBack(coefficients, scratch, tail)   the first `tail` coefficients back in tap order,
//                                           nothing past them
//   WindowSumBefore(x, tail)                WindowSumBefore's value
// and three passes over the first `tail` taps of sample i, each returning the estimate, on
// the coefficient and weight copies below:
//   Update<Fix, Keep>(coefficients, weights, previous, current, tail, step)
//       c[j] += round(previous[j] * step / 2^15), estimate = sum of
//       round(current[j] * SaturateInt16(c[j] >> 4) / 2^15); with Keep the weights are stored
//   Estimate<Fix>(weights, current, tail)               from the stored weights
//   EstimateFromCoefficients<Fix>(coefficients, current, tail)
// A zero step changes nothing, so such a sample only estimates. In a frame that does not adapt
// only sample 0 can have a step (the one carried in): it stores the weights, and the other 79
// read them. In a frame that adapts, storing the weights at every sample would cost more than
// working them out again for the few samples without a step.
// Fix: the window holds -32768, so a weight of -32768 may meet it and the 16-bit rounded
// product (-32768 * -32768 -> 32768) must be corrected.
#pragma once

#include <cassert>
#include <cstdint>

#include "canceller/CancellerState.h"
#include "canceller/FixedPoint.h"
#include "canceller/NormalisedStep.h"

namespace tarnwell::taploop {

// Where tap j sits in the coefficient copy of a loop with Width 16-bit lanes. The loops widen
// the 16-bit updates to 32 bits with in-lane unpacks, which send words 0-3 and 4-7 of every
// 128-bit lane to two different vectors, and narrow the coefficients back with an in-lane
// pack, which puts them together again in tap order. Stored this way, the coefficients meet
// their updates with no lane-crossing shuffle.
template <int Width>
constexpr int BlockPosition(int tap)
{
    const int block = tap / Width;
    const int word = tap % Width;
    const int lane = word / 8;
    const int within = word % 8;
    return block * Width + (within / 4) * (Width / 2) + lane * 4 + within % 4;
}

static_assert(BlockPosition<16>(3) == 3 && BlockPosition<16>(4) == 8 && BlockPosition<16>(8) == 4);
static_assert(BlockPosition<32>(31) == 31 && BlockPosition<32>(20) == 24 && BlockPosition<32>(35) == 35);

// One frame's working copies; taps past the tail, up to a whole vector, are kept at zero.
struct FrameScratch {
    alignas(64) std::int32_t coefficients[kMaxTail];  // BlockPosition order
    alignas(64) std::int16_t weights[kMaxTail];       // SaturateInt16(c >> 4), tap order
    // reversed[n] = x[79 - n]: at sample i tap j meets x[i - 1 - j] (update) at
    // reversed[80 - i + j] and x[i - j] (estimate) at reversed[79 - i + j], so the taps run
    // forwards through memory. Filled in whole vectors, zero past x[-tail]; 80 is not a
    // whole number of 32-lane vectors, hence the room past kMaxTail + kFrameLength.
    alignas(64) std::int16_t reversed[(kMaxTail + kFrameLength + 31) / 32 * 32];
};
static_assert(kMaxTail % 32 == 0, "whole vectors of either width");

template <class Taps, bool Fix, bool Adapting>
std::int16_t RunSamples(FrameScratch& scratch, const CancellerState& state, const std::int16_t* nearEnd,
                        const std::int16_t* x, std::int16_t* output)
{
    using fixedpoint::Magnitude;

    const int tail = state.tail;
    const int shift = state.adaptState;
    const std::int32_t normaliser = state.normaliser;
    std::int16_t step = state.step;

    std::int32_t windowSum = Taps::WindowSumBefore(x, tail);

    for (int i = 0; i < kFrameLength; ++i) {
        windowSum += Magnitude(x[i]) - Magnitude(x[i - tail]);

        const std::int16_t* previous = scratch.reversed + kFrameLength - i;
        const std::int16_t* current = previous - 1;
        std::int32_t estimate = 0;
        if (step != 0) {
            estimate = Taps::template Update<Fix, !Adapting>(scratch.coefficients, scratch.weights, previous,
                                                             current, tail, step);
        } else if (Adapting) {
            estimate = Taps::template EstimateFromCoefficients<Fix>(scratch.coefficients, current, tail);
        } else {
            estimate = Taps::template Estimate<Fix>(scratch.weights, current, tail);
        }

        const std::int16_t error = fixedpoint::SaturateSymmetric16(nearEnd[i] - estimate);
        output[i] = error;

        step = Adapting ? NextStep(error, windowSum, shift, normaliser) : std::int16_t{0};
    }
    return step;
}

// FilterFrame's contract and results, for a state whose coefficients are ClearOfLimits.
template <class Taps>
std::int16_t RunFrame(CancellerState& state, const std::int16_t* nearEnd, const std::int16_t* reference,
                      std::int16_t* output)
{
    assert(state.tail >= 0 && state.tail <= kMaxTail);
    assert(state.adaptState >= AdaptSlow && state.adaptState <= AdaptFast);
    assert(fixedpoint::Disjoint(nearEnd, output, kFrameLength));

    const int tail = state.tail;
    const std::int16_t* x = reference;

    FrameScratch scratch;
    const bool fullScaleNegative = Taps::SetUp(scratch, state.coefficients, x, tail);

    const bool adapting = state.adaptFlag == 1;
    std::int16_t step = 0;
    if (fullScaleNegative) {
        step = adapting ? RunSamples<Taps, true, true>(scratch, state, nearEnd, x, output)
                        : RunSamples<Taps, true, false>(scratch, state, nearEnd, x, output);
    } else {
        step = adapting ? RunSamples<Taps, false, true>(scratch, state, nearEnd, x, output)
                        : RunSamples<Taps, false, false>(scratch, state, nearEnd, x, output);
    }

    Taps::CopyBack(state.coefficients, scratch, tail);
    return step;
}

}  // namespace tarnwell::taploop
