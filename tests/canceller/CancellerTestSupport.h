// Shared setup for the canceller tests: a freshly initialised state on the heap (the record
// is some 22 kB) and small frame builders.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "canceller/CancellerState.h"
#include "canceller/EchoCanceller.h"

namespace cancellertest {

using Frame = std::array<std::int16_t, kFrameLength>;

inline std::unique_ptr<CancellerState> MakeState(int tail, int bulkDelay, int nlpDiff = 10,
                                                 int nlpShift = 3, int nlpEnable = 1)
{
    auto state = std::make_unique<CancellerState>();
    CancellerConfig config{tail, bulkDelay, nlpEnable, nlpDiff, nlpShift};
    EchoCanceller().InitCanceller(*state, config);
    return state;
}

inline Frame Constant(std::int16_t value)
{
    Frame f;
    f.fill(value);
    return f;
}

// +value, -value, +value, ... (a square wave at half the sampling rate).
inline Frame Alternating(std::int16_t value)
{
    Frame f;
    for (int i = 0; i < kFrameLength; ++i) {
        f[static_cast<std::size_t>(i)] = static_cast<std::int16_t>(i % 2 == 0 ? value : -value);
    }
    return f;
}

// A Q15 weight w stored as a Q19 coefficient.
constexpr std::int32_t Q19(std::int32_t q15Weight)
{
    return q15Weight * 16;
}

}  // namespace cancellertest
