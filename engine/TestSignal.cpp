#include "engine/TestSignal.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <utility>

#include <fcntl.h>

#include "engine/G711.h"
#include "engine/OutputFile.h"

namespace tarnwell::testsignal {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kZeroDbm0Rms = 16016.759;  // 0 dBm0 on BlockLevel's scale: 1 / sqrt(3.89807986822619e-9)
constexpr int kRamp = 16;                   // 2 ms fade in and out of each active part

// One half-period at unit scale: voiced part, noise part, pause.
std::vector<double> HalfPeriod()
{
    std::vector<double> x(kHalfPeriod, 0.0);
    for (int n = 0; n < kVoiced; ++n) {
        double v = 0.0;
        for (int k = 1; k * 125 < 3400; ++k) {
            v += std::cos(2.0 * kPi * 125.0 * k * n / 8000.0 + 0.7 * k * k) / k;
        }
        x[static_cast<std::size_t>(n)] = v;
    }
    // Pseudo-noise from a 16-bit maximal-length shift register, then shaped like speech: a
    // zero at 0 Hz and 4 kHz, and a pole that tilts the spectrum down by about 6 dB per octave.
    std::uint16_t lfsr = 0xACE1;
    double previous1 = 0.0;
    double previous2 = 0.0;
    double shaped = 0.0;
    for (int n = 0; n < kNoise; ++n) {
        const unsigned bit = ((lfsr >> 0) ^ (lfsr >> 2) ^ (lfsr >> 3) ^ (lfsr >> 5)) & 1U;
        lfsr = static_cast<std::uint16_t>((lfsr >> 1) | (bit << 15));
        const double white = (lfsr & 1U) != 0 ? 1.0 : -1.0;
        shaped = (white - previous2) + 0.8 * shaped;
        previous2 = previous1;
        previous1 = white;
        x[static_cast<std::size_t>(kVoiced + n)] = shaped;
    }
    for (const auto& [start, length] : {std::pair{0, kVoiced}, std::pair{kVoiced, kNoise}}) {
        for (int i = 0; i < kRamp; ++i) {
            const double gain = 0.5 - 0.5 * std::cos(kPi * (i + 0.5) / kRamp);
            x[static_cast<std::size_t>(start + i)] *= gain;
            x[static_cast<std::size_t>(start + length - 1 - i)] *= gain;
        }
    }
    return x;
}

}  // namespace

std::vector<std::int16_t> Make(int seconds, double levelDbm0)
{
    const std::vector<double> half = HalfPeriod();
    // Each active part at the level on its own, so neither hides in the other.
    double gains[2] = {};
    for (int part = 0; part < 2; ++part) {
        const int start = part == 0 ? 0 : kVoiced;
        const int length = part == 0 ? kVoiced : kNoise;
        double energy = 0.0;
        for (int n = start; n < start + length; ++n) {
            energy += half[static_cast<std::size_t>(n)] * half[static_cast<std::size_t>(n)];
        }
        gains[part] = kZeroDbm0Rms * std::pow(10.0, levelDbm0 / 20.0) / std::sqrt(energy / length);
    }
    const int count = seconds * 8000;
    const int active = seconds >= 4 ? count - kQuietTail : count;
    std::vector<std::int16_t> out(static_cast<std::size_t>(count), 0);
    for (int n = 0; n < active; ++n) {
        const int at = n % kHalfPeriod;
        const double sign = (n / kHalfPeriod) % 2 == 0 ? 1.0 : -1.0;
        const double v = sign * gains[at < kVoiced ? 0 : 1] * half[static_cast<std::size_t>(at)];
        out[static_cast<std::size_t>(n)] = static_cast<std::int16_t>(
            std::lround(std::fmax(-32768.0, std::fmin(32767.0, v))));
    }
    return out;
}

Coding CodingFor(const std::string& path, const std::string& format)
{
    std::string extension = std::filesystem::path(path).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension == ".wav") {
        return Coding::kPcm16;  // OutputFile gives it its header
    }
    if (format != "by-name") {
        return format == "alaw" ? Coding::kALaw : format == "ulaw" ? Coding::kULaw : Coding::kPcm16;
    }
    if (extension == ".al" || extension == ".alaw") {
        return Coding::kALaw;
    }
    if (extension == ".ul" || extension == ".ulaw") {
        return Coding::kULaw;
    }
    return Coding::kPcm16;
}

bool Write(const std::string& path, const std::vector<std::int16_t>& samples, Coding coding, std::string& why)
{
    OutputFile file(FileHandle::OpenOutput(path, O_WRONLY | O_CREAT | O_TRUNC, 0666, &why), path);
    if (!file.Handle().IsOpen()) {
        return false;
    }
    bool written = false;
    errno = 0;
    if (coding == Coding::kPcm16) {
        std::vector<std::uint8_t> bytes;
        bytes.reserve(samples.size() * 2);
        for (const std::int16_t s : samples) {
            const auto u = static_cast<std::uint16_t>(s);
            bytes.push_back(static_cast<std::uint8_t>(u & 0xFF));
            bytes.push_back(static_cast<std::uint8_t>(u >> 8));
        }
        written = file.WriteAll(bytes.data(), bytes.size());
    } else {
        std::vector<std::uint8_t> codes(samples.size());
        std::transform(samples.begin(), samples.end(), codes.begin(),
                       coding == Coding::kALaw ? g711::LinearToALaw : g711::LinearToULaw);
        written = file.WriteAll(codes.data(), codes.size());
    }
    if (!written || !file.Finish()) {
        why = errno != 0 ? std::strerror(errno) : "cannot be written";
        file.Discard();
        return false;
    }
    file.Close();
    return true;
}

}  // namespace tarnwell::testsignal
