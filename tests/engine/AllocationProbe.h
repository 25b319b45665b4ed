// A test-only view of the program's allocator: the engine tests replace the global operator
// new/delete (AllocationProbe.cpp) so that they can count the large blocks still alive and
// make a chosen large allocation throw std::bad_alloc, in a plain and a sanitizer build alike.
#pragma once

#include <cstddef>

namespace allocationprobe {

// Blocks of at least this many bytes are "large": the sample buffers of a run, not the small
// strings and nodes of the test framework.
inline constexpr std::size_t kLargeBytes = 64 * 1024;

// Number of large blocks allocated and not yet freed.
int LiveLargeBlocks();

// From now on the which-th large allocation (1 = the next one) throws std::bad_alloc, and so
// does every large one after it while the failure is armed; 0 disarms.
void FailLargeAllocationsFrom(int which);

// Large allocations attempted since the last FailLargeAllocationsFrom call.
int LargeAllocationsAttempted();

// Arms the failure for one scope and disarms it on the way out.
class ScopedFailure {
public:
    explicit ScopedFailure(int which) { FailLargeAllocationsFrom(which); }
    ~ScopedFailure() { FailLargeAllocationsFrom(0); }
    ScopedFailure(const ScopedFailure&) = delete;
    ScopedFailure& operator=(const ScopedFailure&) = delete;
};

}  // namespace allocationprobe
