// Shared setup for the canceller tests: a fresh state on the heap (the record is some
// 22 kB) and small frame builders.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "canceller/CancellerState.h"
#include "canceller/EchoCanceller.h"

namespace tarnwell::cancellertest {

using Frame = std::array<std::int16_t, kFrameLength>;

inline std::unique_ptr<CancellerState> MakeState(int tail, int bulkDelay, int nlpDiff = 10, int nlpShift = 3,
                                                 int nlpEnable = 1)
{
    auto state = std::make_unique<CancellerState>();
    CancellerConfig config{tail, bulkDelay, nlpEnable, nlpDiff, nlpShift};
    EchoCanceller().InitCanceller(*state, config);
    return state;
}

// value + offset everywhere, or +value, -value, ... (plus offset) when alternating.
inline Frame Constant(int value, bool alternating = false, int offset = 0)
{
    Frame f;
    for (std::size_t i = 0; i < f.size(); ++i) {
        f[i] = static_cast<std::int16_t>((alternating && i % 2 == 1 ? -value : value) + offset);
    }
    return f;
}

constexpr std::int32_t Q19(std::int32_t q15Weight) { return q15Weight * 16; }  // Q15 weight as coefficient

}  // namespace tarnwell::cancellertest
