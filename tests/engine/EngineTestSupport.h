// The headers and helpers the engine tests share.
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <numbers>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "engine/DspToolkit.h"
#include "engine/EchoTester.h"
#include "engine/PassStatistics.h"
#include "engine/TestThresholds.h"
#include "engine/TestUi.h"
#include "support/SyntheticCaptures.h"

namespace tarnwell::enginetest {

using testcaptures::Samples;

// The texts the user reads, written out: users search for them.
namespace msg {
constexpr const char* kCheckFiles = "Check the files";
constexpr const char* kCheckSize = "Check the size of input files (must be more than 5 sec.)";
constexpr const char* kLowActivity = "Insufficient voice activity in Tx file (possibly empty captures)";
constexpr const char* kNoMemory = "Not enough memory for the captures";
constexpr const char* kTooLarge = "Input files are too large";
constexpr const char* kDelayFailed = "Echo delay estimation failed (possibly no echo in the capture)";
constexpr const char* kErlGate = "Echo Return Loss (ERL) is less than 6 dB. Cancellation stopped";
constexpr const char* kCannotWrite = "Cannot write the output file";
}  // namespace msg

// Records the run's calls to its user, in order.
class RecordingUi : public TestUi {
public:
    void SetStatus(const std::string& text) override { calls.push_back("status: " + text); }
    void ShowMessage(const std::string& text) override { calls.push_back("message: " + text); }
    void SetProgressRange(int count) override { calls.push_back("range: " + std::to_string(count)); }
    void SetProgressPos(int position) override { calls.push_back("pos: " + std::to_string(position)); }
    std::vector<std::string> calls;
};

inline std::vector<std::string> FailureShown(const std::string& message)
{
    return {"status: Test failed", "message: " + message};
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

// +a, -a, +a, ...: mean exactly 0 and variance a*a.
inline Samples Alternating(int count, int amplitude)
{
    Samples out(static_cast<std::size_t>(count), static_cast<std::int16_t>(amplitude));
    for (std::size_t n = 1; n < out.size(); n += 2) {
        out[n] = static_cast<std::int16_t>(-amplitude);
    }
    return out;
}

inline void Place(Samples& whole, const Samples& part, int start)
{
    std::ranges::copy(part, whole.begin() + start);
}

// One run on a fresh ui and results, checked for files left open whichever way it ended.
inline bool RunLeavingNothingBehind(const TestSettings& settings, TestResults& results, RecordingUi& ui)
{
    using Fds = std::filesystem::directory_iterator;
    const auto openFiles = [] { return std::distance(Fds("/proc/self/fd"), Fds()); };
    ui = RecordingUi();
    results = TestResults{};
    const auto before = openFiles();
    const bool result = EchoTester().RunTest(settings, results, ui);
    EXPECT_EQ(openFiles(), before) << "a file was left open";
    return result;
}

}  // namespace tarnwell::enginetest
