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
#include <sndfile.h>

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
    void AddDetail(const std::string& line) override { details.push_back(line); }
    std::vector<std::string> calls;
    std::vector<std::string> details;  // apart: a refusal's calls are compared whole
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

// Frames (interleaved when channels > 1) written with libsndfile, or G.711 codes as they are.
inline void WriteSound(const std::string& path, int format, int channels, const Samples& frames,
                       int rate = 8000, const std::string* codes = nullptr)
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    if (codes != nullptr) {
        sf_write_raw(file, codes->data(), static_cast<sf_count_t>(codes->size()));
    } else {
        sf_writef_short(file, frames.data(), static_cast<sf_count_t>(frames.size()) / channels);
    }
    sf_close(file);
}

inline void Place(Samples& whole, const Samples& part, int start)
{
    std::ranges::copy(part, whole.begin() + start);
}

// One run on a fresh ui and results, checked for files left open whichever way it ended.
inline bool RunLeavingNothingBehind(const TestSettings& settings, TestResults& results, RecordingUi& ui,
                                    AnalysisRecord* analysis = nullptr)
{
    using Fds = std::filesystem::directory_iterator;
    const auto openFiles = [] { return std::distance(Fds("/proc/self/fd"), Fds()); };
    ui = RecordingUi();
    results = TestResults{};
    const auto before = openFiles();
    const bool result = EchoTester().RunTest(settings, results, ui, analysis);
    EXPECT_EQ(openFiles(), before) << "a file was left open";
    return result;
}

inline const std::string kPrevious = "previous output";

// A run's files and settings and what it shows the user.
class RunFixture : public ::testing::Test {
protected:
    void WriteCaptures(const Samples& tx, const Samples& rx)
    {
        testcaptures::WritePcm(settings.txPath, tx);
        testcaptures::WritePcm(settings.rxPath, rx);
    }

    bool Run(AnalysisRecord* analysis = nullptr)
    {
        return RunLeavingNothingBehind(settings, results, ui, analysis);
    }

    // "Test failed" and the one message alone (a prefix when it ends in "("), results untouched,
    // and the output file (when it is neither missing nor a capture) emptied.
    void ExpectFails(const std::string& message, bool outputEmptied = true)
    {
        if (outputEmptied) {
            std::ofstream(settings.outPath) << kPrevious;
        }
        EXPECT_FALSE(Run());
        if (message.ends_with("(")) {
            ASSERT_EQ(ui.calls.size(), 2u) << ::testing::PrintToString(ui.calls);
            EXPECT_EQ(ui.calls[0], "status: Test failed");
            EXPECT_TRUE(ui.calls[1].starts_with("message: " + message)) << ui.calls[1];
        } else {
            EXPECT_EQ(ui.calls, FailureShown(message));
        }
        EXPECT_EQ(std::tie(results.delay, results.erl, results.delayOk, results.erlOk),
                  std::make_tuple(0, 0.0, 0, 0));
        EXPECT_TRUE(!outputEmptied || std::filesystem::file_size(settings.outPath) == 0);
    }

    testcaptures::TempDir dir;
    TestSettings settings{.txPath = dir.File("tx.pcm"),
                          .rxPath = dir.File("rx.pcm"),
                          .outPath = dir.File("out.pcm"),
                          .tail = 512,
                          .nlpEnable = 1,
                          .nlpDiff = 10,
                          .nlpShift = 3};
    TestResults results;
    RecordingUi ui;
};

}  // namespace tarnwell::enginetest
