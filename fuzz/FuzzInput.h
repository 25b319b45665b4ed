// FuzzInput: reads typed values off the fuzzer's bytes, front to back; past the end every
// value is 0, so any input, even an empty one, makes a complete case.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tarnwell::fuzz {

class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    template <typename T>
    T Take()
    {
        T value{};
        const std::size_t n = size_ - used_ < sizeof(T) ? size_ - used_ : sizeof(T);
        if (n > 0) {
            std::memcpy(&value, data_ + used_, n);
        }
        used_ += n;
        return value;
    }

    // A value in lo..hi, both included.
    int Range(int lo, int hi)
    {
        const auto span = static_cast<std::uint32_t>(hi - lo) + 1U;
        return lo + static_cast<int>(Take<std::uint32_t>() % span);
    }

    const std::uint8_t* Rest() const { return data_ + used_; }
    std::size_t RestSize() const { return size_ - used_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t used_ = 0;
};

}  // namespace tarnwell::fuzz
