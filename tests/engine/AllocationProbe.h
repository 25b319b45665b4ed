// Test-only view of the allocator: AllocationProbe.cpp replaces the global operator
// new/delete so that the engine tests can count the large blocks still alive and make a
// chosen large allocation throw std::bad_alloc, in a plain and a sanitizer build alike.
#pragma once

#include <cstddef>

namespace tarnwell::allocationprobe {

// "Large" blocks are the sample buffers of a run, not the test framework's small ones.
inline constexpr std::size_t kLargeBytes = 64 * 1024;

int LiveLargeBlocks();            // allocated and not yet freed
int LargeAllocationsAttempted();  // since the last FailLargeAllocationsFrom call

// The which-th large allocation from now (1 = the next) and every later one throw; 0 disarms.
void FailLargeAllocationsFrom(int which);

class ScopedFailure {
public:
    explicit ScopedFailure(int which) { FailLargeAllocationsFrom(which); }
    ~ScopedFailure() { FailLargeAllocationsFrom(0); }
    ScopedFailure(const ScopedFailure&) = delete;
    ScopedFailure& operator=(const ScopedFailure&) = delete;
};

}  // namespace tarnwell::allocationprobe
