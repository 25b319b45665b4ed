// SampleBuffer: an owned, zero-filled array of signed 16-bit samples, freed when it goes out
// of scope or on Release(). Construction throws std::bad_alloc when the memory is not there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace tarnwell {

class SampleBuffer {
public:
    SampleBuffer() = default;
    // A negative count gives an empty buffer.
    explicit SampleBuffer(int count)
        : count_(count > 0 ? count : 0),
          samples_(std::make_unique<std::int16_t[]>(static_cast<std::size_t>(count_)))
    {
    }

    std::int16_t* data() { return samples_.get(); }
    const std::int16_t* data() const { return samples_.get(); }
    int size() const { return count_; }
    std::size_t ByteSize() const { return static_cast<std::size_t>(count_) * sizeof(std::int16_t); }

    void Release() noexcept
    {
        samples_.reset();
        count_ = 0;
    }

private:
    int count_ = 0;
    std::unique_ptr<std::int16_t[]> samples_;
};

}  // namespace tarnwell
