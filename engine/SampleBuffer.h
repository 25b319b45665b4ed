// SampleBuffer: an owned array of signed 16-bit samples, zero-filled unless made for
// overwriting, freed when it goes out of scope or on Release(). Construction throws
// std::bad_alloc when the memory is not there.
#pragma once

#include <bit>
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

    // A buffer whose every sample the caller writes before reading: filling a capture's worth
    // of zeros first would only cost a pass over memory.
    static SampleBuffer ForOverwrite(int count)
    {
        SampleBuffer buffer;
        buffer.count_ = count > 0 ? count : 0;
        buffer.samples_ = std::make_unique_for_overwrite<std::int16_t[]>(
            static_cast<std::size_t>(buffer.count_));
        return buffer;
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

// Turns samples between the files' little-endian order and the machine's, in place; a
// no-op on little-endian machines.
inline void ConvertLittleEndian(std::int16_t* samples, int count)
{
    if constexpr (std::endian::native == std::endian::big) {
        for (int i = 0; i < count; ++i) {
            const auto u = static_cast<std::uint16_t>(samples[i]);
            samples[i] = static_cast<std::int16_t>(static_cast<std::uint16_t>((u << 8) | (u >> 8)));
        }
    }
}

}  // namespace tarnwell
