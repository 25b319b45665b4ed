// Replacement of the global allocation functions for the engine test program (see
// AllocationProbe.h). Everything goes to malloc/free, so a sanitizer still sees every block.
#include "AllocationProbe.h"

#include <array>
#include <cstdlib>
#include <new>

namespace {

constexpr std::size_t kTrackedBlocks = 256;
std::array<void*, kTrackedBlocks> largeBlocks{};  // live large blocks; nullptr = free slot
int liveLarge = 0;
int attempted = 0;
int failFrom = 0;

void* Allocate(std::size_t size)
{
    const bool large = size >= allocationprobe::kLargeBytes;
    if (large) {
        ++attempted;
        if (failFrom > 0 && attempted >= failFrom) {
            throw std::bad_alloc();
        }
    }
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    if (large) {
        for (auto& slot : largeBlocks) {
            if (slot == nullptr) {
                slot = block;
                ++liveLarge;
                break;
            }
        }
    }
    return block;
}

void Free(void* block) noexcept
{
    if (block == nullptr) {
        return;
    }
    for (auto& slot : largeBlocks) {
        if (slot == block) {
            slot = nullptr;
            --liveLarge;
            break;
        }
    }
    std::free(block);
}

}  // namespace

namespace allocationprobe {
int LiveLargeBlocks() { return liveLarge; }
int LargeAllocationsAttempted() { return attempted; }
void FailLargeAllocationsFrom(int which)
{
    attempted = 0;
    failFrom = which;
}
}  // namespace allocationprobe

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    try {
        return Allocate(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    try {
        return Allocate(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void operator delete(void* block) noexcept { Free(block); }
void operator delete[](void* block) noexcept { Free(block); }
void operator delete(void* block, std::size_t) noexcept { Free(block); }
void operator delete[](void* block, std::size_t) noexcept { Free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { Free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { Free(block); }
