// Helpers shared by the engine tests: a TestUi that records every call, signals of known
// level, a count of the open file descriptors and a run checked for files left open.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <numbers>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/EchoTester.h"
#include "engine/TestUi.h"
#include "support/SyntheticCaptures.h"

namespace tarnwell::enginetest {

using testcaptures::Samples;

// Records the run's calls to its user, in order.
class RecordingUi : public TestUi {
public:
    void SetStatus(const std::string& text) override { calls.push_back("status: " + text); statuses.push_back(text); }
    void ShowMessage(const std::string& text) override { calls.push_back("message: " + text); messages.push_back(text); }
    void SetProgressRange(int count) override { calls.push_back("range: " + std::to_string(count)); }
    void SetProgressPos(int position) override { calls.push_back("pos: " + std::to_string(position)); }

    std::vector<std::string> calls;
    std::vector<std::string> statuses;
    std::vector<std::string> messages;
};

// Entries of /proc/self/fd: the same before and after a run that closed what it opened.
inline int OpenDescriptorCount()
{
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}

// round(peak * sin(2 pi f n / 8000 + phase)), n from 0.
inline Samples Tone(int count, double frequency, double peak, double phase = 0.0)
{
    Samples out(static_cast<std::size_t>(count));
    for (int n = 0; n < count; ++n) {
        out[static_cast<std::size_t>(n)] = testcaptures::ClampSample(
            peak * std::sin(2.0 * std::numbers::pi * frequency * n / 8000.0 + phase));
    }
    return out;
}

// +a, -a, +a, ...: mean exactly 0 and variance a*a, so its level is 20*log10(a) - 84.0915 dB.
inline Samples Alternating(int count, int amplitude)
{
    Samples out(static_cast<std::size_t>(count), static_cast<std::int16_t>(amplitude));
    for (std::size_t n = 1; n < out.size(); n += 2) {
        out[n] = static_cast<std::int16_t>(-amplitude);
    }
    return out;
}

// Copies part into whole from index start.
inline void Place(Samples& whole, const Samples& part, int start)
{
    std::copy(part.begin(), part.end(), whole.begin() + start);
}

// One run on a fresh engine, ui and results, checked for files left open whichever way it
// ended (memory left allocated is the sanitizer build's to find).
inline bool RunLeavingNothingBehind(const TestSettings& settings, TestResults& results, RecordingUi& ui)
{
    ui = RecordingUi();
    results = TestResults{};
    const int descriptors = OpenDescriptorCount();
    const bool result = EchoTester().RunTest(settings, results, ui);
    EXPECT_EQ(OpenDescriptorCount(), descriptors) << "a file was left open";
    return result;
}

}  // namespace tarnwell::enginetest
