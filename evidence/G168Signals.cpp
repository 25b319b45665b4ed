#include "evidence/G168Signals.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <random>

#include "engine/G711.h"

namespace tarnwell::g168 {

namespace {

constexpr int kVoicedSamples = 384;   // 48 ms
constexpr int kNoiseSamples = 1600;   // 200 ms
constexpr int kPeriodSamples = 2800;  // 350 ms, the rest silent
constexpr double kPitchHz = 150.0;

// Uniform on [-0.5, 0.5), the same bits for a seed on every machine.
double Uniform(std::mt19937& generator) { return static_cast<double>(generator()) / 4294967296.0 - 0.5; }

// Scales the samples for which sounding is true to levelDbm0 (their mean square).
void ScaleTo(std::vector<double>& samples, double levelDbm0, const std::vector<bool>& sounding)
{
    double sum = 0.0;
    int count = 0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (sounding[i]) {
            sum += samples[i] * samples[i];
            ++count;
        }
    }
    if (sum <= 0.0) {
        return;
    }
    const double gain = std::sqrt(kZeroDbm0MeanSquare * std::pow(10.0, levelDbm0 / 10.0) / (sum / count));
    for (double& s : samples) {
        s *= gain;
    }
}

// One-pole low-pass at about 450 Hz, then a first difference blended in to take off the
// lowest frequencies: the shape of both noises.
std::vector<double> ShapedNoise(int count, std::uint32_t seed, double lowPassPole)
{
    std::mt19937 generator(seed);
    std::vector<double> out(static_cast<std::size_t>(count));
    double state = 0.0;
    for (double& s : out) {
        state = Uniform(generator) + lowPassPole * state;
        s = state;
    }
    return out;
}

constexpr double kRoomNoisePole = 0.7;    // -ln(0.7) * 8000 / 2 pi: about 450 Hz
constexpr double kSpeechNoisePole = 0.8;  // about 280 Hz, with the slope of voiced speech

}  // namespace

std::vector<double> CompositeSource(int count, double levelDbm0, std::uint32_t seed)
{
    std::vector<double> out(static_cast<std::size_t>(std::max(count, 0)), 0.0);
    std::vector<bool> sounding(out.size(), false);
    const std::vector<double> noise = ShapedNoise(count, seed, kSpeechNoisePole);
    std::mt19937 generator(seed + 1);
    std::array<double, 22> phases{};  // harmonics below 3400 Hz
    for (double& p : phases) {
        p = (Uniform(generator) + 0.5) * 2.0 * std::numbers::pi;
    }
    for (int n = 0; n < count; ++n) {
        const int period = n / kPeriodSamples;
        const int at = n % kPeriodSamples;
        const double sign = period % 2 == 0 ? 1.0 : -1.0;
        double value = 0.0;
        if (at < kVoicedSamples) {
            const double t = static_cast<double>(at) / kSampleRate;
            for (std::size_t h = 0; h < phases.size(); ++h) {
                const double k = static_cast<double>(h + 1);
                value += std::sin(2.0 * std::numbers::pi * kPitchHz * k * t + phases[h]) / k;
            }
            value *= 1.0 / 6.0;  // about the noise part's level before scaling
        } else if (at < kVoicedSamples + kNoiseSamples) {
            value = noise[static_cast<std::size_t>(n)];
        } else {
            continue;
        }
        out[static_cast<std::size_t>(n)] = sign * value;
        sounding[static_cast<std::size_t>(n)] = true;
    }
    ScaleTo(out, levelDbm0, sounding);
    return out;
}

std::vector<double> HothNoise(int count, double levelDbm0, std::uint32_t seed)
{
    std::vector<double> out = ShapedNoise(count, seed, kRoomNoisePole);
    ScaleTo(out, levelDbm0, std::vector<bool>(out.size(), true));
    return out;
}

std::vector<double> Tones(int count, double levelDbm0, const std::vector<double>& hertz)
{
    std::vector<double> out(static_cast<std::size_t>(std::max(count, 0)), 0.0);
    for (int n = 0; n < count; ++n) {
        for (const double f : hertz) {
            out[static_cast<std::size_t>(n)] += std::sin(2.0 * std::numbers::pi * f * n / kSampleRate);
        }
    }
    ScaleTo(out, levelDbm0, std::vector<bool>(out.size(), true));
    return out;
}

std::int16_t ULawRoundTrip(double sample)
{
    // The 255 distinct µ-law values in ascending order; the nearest one is the round trip.
    static const std::vector<std::int16_t> values = [] {
        std::vector<std::int16_t> v(g711::kULaw.begin(), g711::kULaw.end());
        std::sort(v.begin(), v.end());
        v.erase(std::unique(v.begin(), v.end()), v.end());
        return v;
    }();
    const auto above = std::lower_bound(values.begin(), values.end(), sample,
                                        [](std::int16_t v, double s) { return v < s; });
    if (above == values.begin()) {
        return *above;
    }
    if (above == values.end()) {
        return values.back();
    }
    const auto below = above - 1;
    return sample - *below <= *above - sample ? *below : *above;
}

namespace {

template <typename T>
std::vector<double> Levels(const std::vector<T>& samples)
{
    std::vector<double> levels;
    for (std::size_t start = 0; start + kMeterWindow <= samples.size(); start += kMeterWindow) {
        double sum = 0.0;
        for (std::size_t i = start; i < start + kMeterWindow; ++i) {
            const double s = samples[i];
            sum += s * s;
        }
        const double meanSquare = sum / kMeterWindow;
        levels.push_back(meanSquare > 0.0
                             ? std::max(kMeterFloorDbm0, 10.0 * std::log10(meanSquare / kZeroDbm0MeanSquare))
                             : kMeterFloorDbm0);
    }
    return levels;
}

}  // namespace

std::vector<double> MeterLevels(const std::vector<double>& samples) { return Levels(samples); }
std::vector<double> MeterLevels(const std::vector<std::int16_t>& samples) { return Levels(samples); }

}  // namespace tarnwell::g168
