// Replacement of the global allocation functions for the engine test program. Every block
// goes to malloc/free, so a sanitizer still sees it. All forms are replaced: a sanitizer's
// own new[] or sized delete would otherwise pair with these malloc'd blocks.
#include "AllocationProbe.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <new>

using namespace tarnwell;

namespace {

std::array<void*, 256> largeBlocks{};  // live large blocks; nullptr = free slot
int liveLarge = 0;
int attempted = 0;
int failFrom = 0;

void* Allocate(std::size_t size)
{
    const bool large = size >= allocationprobe::kLargeBytes;
    if (large && ++attempted >= failFrom && failFrom > 0) {
        throw std::bad_alloc();
    }
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    auto slot = large ? std::find(largeBlocks.begin(), largeBlocks.end(), nullptr) : largeBlocks.end();
    if (slot != largeBlocks.end()) {
        *slot = block;
        ++liveLarge;
    }
    return block;
}

void* AllocateOrNull(std::size_t size) noexcept
{
    try {
        return Allocate(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void Free(void* block) noexcept
{
    if (block == nullptr) {
        return;
    }
    if (auto slot = std::find(largeBlocks.begin(), largeBlocks.end(), block); slot != largeBlocks.end()) {
        *slot = nullptr;
        --liveLarge;
    }
    std::free(block);
}

}  // namespace

namespace tarnwell::allocationprobe {
int LiveLargeBlocks() { return liveLarge; }
int LargeAllocationsAttempted() { return attempted; }
void FailLargeAllocationsFrom(int which)
{
    attempted = 0;
    failFrom = which;
}
}  // namespace tarnwell::allocationprobe

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return AllocateOrNull(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return AllocateOrNull(size); }
void operator delete(void* block) noexcept { Free(block); }
void operator delete[](void* block) noexcept { Free(block); }
void operator delete(void* block, std::size_t) noexcept { Free(block); }
void operator delete[](void* block, std::size_t) noexcept { Free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { Free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { Free(block); }
