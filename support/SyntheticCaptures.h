// Seeded synthetic captures for the tests and the benchmarks: a noise-like Tx whose level
// is known, an Rx that carries its echo at a known delay and loss, and small file helpers
// (a temporary folder that removes itself, raw 16-bit little-endian reads and writes).
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <system_error>
#include <vector>

namespace tarnwell::testcaptures {

using Samples = std::vector<std::int16_t>;

inline std::int16_t ClampSample(double v)
{
    const double r = std::round(v);
    return static_cast<std::int16_t>(r > 32767.0 ? 32767.0 : (r < -32768.0 ? -32768.0 : r));
}

// Noise of roughly the given rms (sum of four uniforms, so nearly Gaussian), same bits for
// the same seed on every machine. An rms of 2848 reads about -15 dBm0.
inline Samples Noise(int count, double rms, std::uint32_t seed)
{
    std::mt19937 generator(seed);
    Samples out(static_cast<std::size_t>(count));
    // Each uniform on [-0.5, 0.5) has variance 1/12; four of them 1/3.
    const double scale = rms * std::sqrt(3.0);
    for (auto& s : out) {
        double sum = 0.0;
        for (int k = 0; k < 4; ++k) {
            sum += static_cast<double>(generator()) / 4294967296.0 - 0.5;
        }
        s = ClampSample(sum * scale);
    }
    return out;
}

// Speech-like Tx: noise bursts of burstLength samples separated by gaps of the same length
// filled with quiet noise of rms quietRms (0 gives digital silence).
inline Samples Bursts(int count, double rms, int burstLength, double quietRms, std::uint32_t seed)
{
    Samples loud = Noise(count, rms, seed);
    Samples quiet = Noise(count, quietRms, seed + 1);
    for (int i = 0; i < count; ++i) {
        if ((i / burstLength) % 2 == 1) {
            loud[static_cast<std::size_t>(i)] = quietRms > 0.0 ? quiet[static_cast<std::size_t>(i)] : 0;
        }
    }
    return loud;
}

// The echo of tx: delayed by delay samples (zeros before), attenuated by lossDb, plus
// optional line noise of rms noiseRms.
inline Samples Echo(const Samples& tx, int delay, double lossDb, double noiseRms = 0.0,
                    std::uint32_t seed = 99)
{
    const double gain = std::pow(10.0, -lossDb / 20.0);
    Samples noise = noiseRms > 0.0 ? Noise(static_cast<int>(tx.size()), noiseRms, seed)
                                   : Samples(tx.size(), 0);
    Samples out(tx.size(), 0);
    for (std::size_t i = 0; i < tx.size(); ++i) {
        const double echo = i >= static_cast<std::size_t>(delay)
                                ? tx[i - static_cast<std::size_t>(delay)] * gain
                                : 0.0;
        out[i] = ClampSample(echo + noise[i]);
    }
    return out;
}

inline void WritePcm(const std::filesystem::path& path, const Samples& samples)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    for (std::int16_t s : samples) {
        const auto u = static_cast<std::uint16_t>(s);
        const char bytes[2] = {static_cast<char>(u & 0xFF), static_cast<char>(u >> 8)};
        file.write(bytes, 2);
    }
}

inline Samples ReadPcm(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    Samples out;
    char bytes[2];
    while (file.read(bytes, 2)) {
        const auto u = static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[0]) |
                                                  (static_cast<unsigned char>(bytes[1]) << 8));
        out.push_back(static_cast<std::int16_t>(u));
    }
    return out;
}

// A fresh folder under the system's temporary directory, removed with its contents.
class TempDir {
public:
    TempDir()
    {
        static int serial = 0;
        std::random_device entropy;
        path_ = std::filesystem::temp_directory_path() /
                ("tarnwell-test-" + std::to_string(entropy()) + "-" + std::to_string(++serial));
        std::filesystem::create_directories(path_);
    }
    ~TempDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string File(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

}  // namespace tarnwell::testcaptures
