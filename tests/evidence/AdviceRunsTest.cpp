// Whole runs on generated captures the batch tests lack, each with the settings finding a user
// reads first: what to set, or why there is nothing to set and what to fix in the capture.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sndfile.h>

#include "evidence/Findings.h"
#include "evidence/WhitenedEvidence.h"
#include "support/SilentUi.h"
#include "support/SyntheticCaptures.h"
#include "ui/Report.h"
#include "ui/RunRequest.h"

using namespace tarnwell;
using namespace tarnwell::testcaptures;

namespace {

constexpr int kCount = 80000;  // 10 s

void WriteStereo(const std::string& path, const Samples& left, const Samples& right)
{
    Samples frames;
    for (std::size_t i = 0; i < left.size(); ++i) {
        frames.push_back(left[i]);
        frames.push_back(right[i]);
    }
    SF_INFO info{};
    info.samplerate = 8000;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr);
    sf_writef_short(file, frames.data(), static_cast<sf_count_t>(left.size()));
    sf_close(file);
}

enum class Layout { kTwoFiles, kOneFile, kStereoRxFirst };

struct RunCase {
    const char* name;
    int echoAt;  // 0: Rx holds Tx's own samples
    int deviceType;
    int bulkDelay;  // -1: the row's preset
    int tail;
    Layout layout;
    const char* settings;  // a regular expression the settings finding must match whole
    const char* also;      // a finding that must stand behind it
};

struct PortRun {
    std::vector<Finding> findings;
    Advice advice;
};

PortRun RunPort(const RunCase& c, int bulkDelay, int tail)
{
    const TempDir dir;
    RunRequest request = DefaultRunRequest(c.deviceType);
    TestSettings& s = request.settings;
    s.delay = bulkDelay >= 0 ? bulkDelay : s.delay;
    s.tail = tail >= 0 ? tail : s.tail;
    s.outPath = dir.File("out.pcm");
    const Samples tx = Bursts(kCount, 2848.0, 1200, 0.0, 11);
    const Samples rx = c.echoAt > 0 ? Echo(tx, c.echoAt, 12.0, 20.0) : tx;
    s.txPath = s.rxPath = dir.File("port.wav");
    if (c.layout == Layout::kStereoRxFirst) {  // as a batch or the window reads it: Tx in channel 0
        WriteStereo(s.txPath, rx, tx);
        s.txChannel = 0;
    } else {
        s.txPath = s.rxPath = dir.File("port.pcm");
        WritePcm(s.txPath, tx);
    }
    if (c.layout == Layout::kTwoFiles) {
        s.rxPath = dir.File("rx.pcm");
        WritePcm(s.rxPath, rx);
    }
    SilentUi ui;
    TestResults results;
    AnalysisRecord analysis;
    const bool ran = RunAndReport(s, c.deviceType, ui, results, kVerdictWords, &analysis).has_value();
    AddWhitenedEvidence(analysis);
    return {MakeFindings(s, c.deviceType, ran, results, analysis),
            RunAdvice(s, c.deviceType, ran, results, analysis)};
}

const RunCase kCases[] = {
    {"echo_beyond_a_fixed_delay", 1300, 0, -1, -1, Layout::kTwoFiles,
     "Vestra A - FXO fixes the bulk delay at 100, so a tail of 1249, above the canceller's 1024, would be "
     "needed to cover the echo at 1300 smp .*; device rows that can: 2 \\(Vestra A - ISDN\\), 5 \\(Vestra B "
     "- FXS\\), 7 \\(Vestra C - FXO\\), 8 \\(Vestra C - ISDN\\), 9 \\(Vestra D - E1/T1\\)",
     "tail-above-max"},
    {"echo_before_a_fixed_delay", 60, 1, -1, -1, Layout::kTwoFiles,
     "Vestra A - FXS fixes the bulk delay at 80, after the echo's start at 60 smp, so no tail covers .*; "
     "device rows that can: 2 .*",
     "delay-window"},
    {"reversed_stereo", 110, 0, -1, -1, Layout::kStereoRxFirst,
     "No setting until the captures are the right way round: .*; give --tx-channel 1", "swapped"},
    // An echo at 1263 on E1/T1: older findings sent 80/128 to bulk delay 288, then to tail 1024,
    // then back to "raise the bulk delay". One step now, and 288/1024 is kept.
    {"the_circle_at_its_start", 1263, 9, -1, -1, Layout::kTwoFiles,
     "Set bulk delay 1250 and tail 64: they cover the echo at 1263 smp and the 48 smp after it that the tail "
     "needs",
     "delay-window"},
    {"the_circle_at_288_1024", 1263, 9, 288, 1024, Layout::kTwoFiles,
     "Keep bulk delay 288 and tail 1024: they cover 99 % of the echo path .*", "tail-above-max"},
    {"same_file_as_both", 0, 0, -1, -1, Layout::kOneFile,
     "No setting to advise: Tx and Rx hold the same 80000 samples \\(one file given as both\\), .*",
     "identical-captures"},
    {"identical_samples_in_two_files", 0, 0, -1, -1, Layout::kTwoFiles,
     "No setting to advise: Tx and Rx hold the same 80000 samples \\(two files with the same samples\\), .*",
     "identical-captures"},
};

class AdviceRuns : public ::testing::TestWithParam<RunCase> {};

TEST_P(AdviceRuns, TheSettingsFindingComesFirstAndEveryOtherAgreesWithIt)
{
    const RunCase& c = GetParam();
    const PortRun run = RunPort(c, c.bulkDelay, c.tail);
    ASSERT_FALSE(run.findings.empty());
    const Finding& first = run.findings.front();
    EXPECT_EQ(first.code, "settings");
    EXPECT_THAT(first.text, ::testing::MatchesRegex(c.settings));
    bool also = false;
    for (const Finding& f : run.findings) {
        also = also || f.code == c.also;
        // Two files are exchanged; one file's channels are named.
        if (c.layout != Layout::kTwoFiles) {
            EXPECT_EQ(f.text.find("exchange"), std::string::npos) << f.text;
        }
        if (std::string(c.also) == "identical-captures") {
            EXPECT_NE(f.code, "no-echo") << "identical captures are not an absent echo";
        }
        EXPECT_TRUE(f.bulkDelayMove == Move::None || f.bulkDelayMove == first.bulkDelayMove) << f.text;
        EXPECT_TRUE(f.tailMove == Move::None || f.tailMove == first.tailMove) << f.text;
    }
    EXPECT_TRUE(also) << c.also;
    // Following the advice once leaves nothing more to set.
    if (run.advice.kind == Advice::Kind::Set) {
        const PortRun next = RunPort(c, run.advice.bulkDelay, run.advice.tail);
        EXPECT_THAT(next.findings.front().text, ::testing::StartsWith("Keep bulk delay"))
            << next.findings.front().text;
    }
}

INSTANTIATE_TEST_SUITE_P(Ports, AdviceRuns, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<RunCase>& info) { return info.param.name; });

}  // namespace
