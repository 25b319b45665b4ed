// Parsing and in-process runs of the command line: defaults as the window starts, usage
// errors, the status sequence and the plain report.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "cli/CliUi.h"
#include "cli/CommandLine.h"
#include "engine/TestMessages.h"
#include "tests/cli/CliTestSupport.h"

using clitest::Captures;
using clitest::RunInProcess;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

namespace {

ParsedCommandLine Parse(std::vector<std::string> args, std::string* err = nullptr)
{
    args.insert(args.begin(), "tarnwell-cli");
    std::vector<const char*> argv;
    for (const auto& a : args) {
        argv.push_back(a.c_str());
    }
    std::ostringstream out;
    std::ostringstream errStream;
    ParsedCommandLine parsed = ParseCommandLine(static_cast<int>(argv.size()), argv.data(), out, errStream);
    if (err != nullptr) {
        *err = errStream.str();
    }
    return parsed;
}

}  // namespace

TEST(CommandLineParse, DefaultsAreTheWindowAfterStart)
{
    const ParsedCommandLine parsed = Parse({"--tx", "t.pcm", "--rx", "r.pcm"});
    ASSERT_TRUE(parsed.options);
    const TestSettings& s = parsed.options->settings;
    EXPECT_EQ(s.txPath, "t.pcm");
    EXPECT_EQ(s.rxPath, "r.pcm");
    EXPECT_EQ(s.outPath, "./out.pcm");
    EXPECT_EQ(parsed.options->deviceType, 0);
    EXPECT_EQ(s.delay, 100);  // row 0 of the device presets
    EXPECT_EQ(s.tail, 64);
    EXPECT_EQ(s.nlpEnable, 1);
    EXPECT_EQ(s.nlpDiff, 6);
    EXPECT_EQ(s.nlpShift, 3);
    EXPECT_EQ(s.highPass, 1);
    EXPECT_FALSE(parsed.options->json);
}

TEST(CommandLineParse, DeviceRowPicksPresetsAndExplicitValuesOverrideThem)
{
    // Row 7 is the one row whose delay preset is 180; row 2 has a tail of 128.
    auto row7 = Parse({"--tx", "t", "--rx", "r", "--device", "7"});
    ASSERT_TRUE(row7.options);
    EXPECT_EQ(row7.options->settings.delay, 180);
    EXPECT_EQ(row7.options->settings.tail, 64);

    auto row2 = Parse({"--tx", "t", "--rx", "r", "--device", "2", "--delay", "0"});
    ASSERT_TRUE(row2.options);
    EXPECT_EQ(row2.options->settings.delay, 0);  // explicit, even though it equals the type's zero
    EXPECT_EQ(row2.options->settings.tail, 128);

    // The override holds whichever order the options come in.
    auto tailFirst = Parse({"--tail", "512", "--tx", "t", "--rx", "r", "--device", "9"});
    ASSERT_TRUE(tailFirst.options);
    EXPECT_EQ(tailFirst.options->settings.tail, 512);
    EXPECT_EQ(tailFirst.options->settings.delay, 80);
    EXPECT_EQ(tailFirst.options->deviceType, 9);
}

TEST(CommandLineParse, EveryOptionReachesItsSetting)
{
    auto parsed = Parse({"--tx", "t", "--rx", "r", "--nlp-diff", "12", "--nlp-shift", "10",
                         "--high-pass", "off", "--out", "/tmp/x.pcm", "--json", "--tail", "1024",
                         "--delay", "8000"});
    ASSERT_TRUE(parsed.options);
    const TestSettings& s = parsed.options->settings;
    EXPECT_EQ(s.nlpDiff, 12);
    EXPECT_EQ(s.nlpShift, 10);
    EXPECT_EQ(s.highPass, 0);
    EXPECT_EQ(s.outPath, "/tmp/x.pcm");
    EXPECT_EQ(s.tail, 1024);
    EXPECT_EQ(s.delay, 8000);
    EXPECT_EQ(s.nlpEnable, 1);
    EXPECT_TRUE(parsed.options->json);
}

TEST(CommandLineParse, OutOfRangeSettingsAreLeftToTheEngine)
{
    auto parsed = Parse({"--tx", "t", "--rx", "r", "--delay", "-1", "--tail", "1025",
                         "--nlp-diff", "101", "--nlp-shift=-5"});
    ASSERT_TRUE(parsed.options);
    EXPECT_EQ(parsed.options->settings.delay, -1);
    EXPECT_EQ(parsed.options->settings.tail, 1025);
    EXPECT_EQ(parsed.options->settings.nlpDiff, 101);
    EXPECT_EQ(parsed.options->settings.nlpShift, -5);
}

TEST(CommandLineParse, UsageErrorsExitWithTwoAndSayWhy)
{
    const std::vector<std::vector<std::string>> cases = {
        {"--rx", "r"},                                     // no Tx
        {"--tx", "t"},                                     // no Rx
        {"--tx", "t", "--rx", "r", "--device", "10"},      // past the last row
        {"--tx", "t", "--rx", "r", "--device=-1"},
        {"--tx", "t", "--rx", "r", "--high-pass", "yes"},  // only on or off
        {"--tx", "t", "--rx", "r", "--delay", "abc"},
        {"--tx", "t", "--rx", "r", "--tail", "2147483648"},  // not a 32-bit value
        {"--tx", "t", "--rx", "r", "--verbose"},
        {"--tx", "t", "--rx", "r", "extra"},
        {"--tx", "t", "--rx", "r", "--delay"},
    };
    for (const auto& args : cases) {
        std::string err;
        const ParsedCommandLine parsed = Parse(args, &err);
        SCOPED_TRACE(::testing::PrintToString(args));
        EXPECT_FALSE(parsed.options);
        EXPECT_EQ(parsed.exitStatus, kExitUsage);
        EXPECT_THAT(err, Not(IsEmpty()));
    }
}

TEST(CommandLineParse, HelpExitsWithZeroWithoutRunning)
{
    testcaptures::TempDir dir;
    const std::string out = dir.File("out.pcm");
    const clitest::Outcome help = RunInProcess({"--help", "--out", out});
    EXPECT_EQ(help.status, kExitOk);
    EXPECT_THAT(help.out, HasSubstr("--nlp-shift"));
    EXPECT_THAT(help.out, HasSubstr("Vestra D - E1/T1"));
    EXPECT_FALSE(std::filesystem::exists(out));
}

TEST(CommandLineRun, SettingsOutOfRangeEndInTestFailedWithTheSettingsMessage)
{
    Captures captures(110, 12.0);
    auto args = captures.Args();
    args.insert(args.end(), {"--tail", "1025"});
    const clitest::Outcome outcome = RunInProcess(args);
    EXPECT_EQ(outcome.status, kExitRunFailed);
    EXPECT_EQ(outcome.out, "Status                  Test failed\n");
    EXPECT_EQ(outcome.err, std::string(TestMessages::kCheckSettings) + "\n");
    EXPECT_FALSE(std::filesystem::exists(captures.out));  // the engine refused before opening
}

TEST(CommandLineRun, MissingCaptureFailsWithCheckTheFiles)
{
    Captures captures(110, 12.0);
    auto args = captures.Args();
    args[3] = captures.dir.File("missing.pcm");
    const clitest::Outcome outcome = RunInProcess(args);
    EXPECT_EQ(outcome.status, kExitRunFailed);
    EXPECT_EQ(outcome.out, "Status                  Test failed\n");
    EXPECT_EQ(outcome.err, std::string(TestMessages::kCheckFiles) + "\n");
}

TEST(CommandLineRun, CompleteRunPrintsTheSixRowsAndFinished)
{
    Captures captures(110, 12.0);
    const clitest::Outcome outcome = RunInProcess(captures.Args());
    ASSERT_EQ(outcome.status, kExitOk) << outcome.out << outcome.err;
    EXPECT_EQ(outcome.err, "");
    std::istringstream lines(outcome.out);
    std::vector<std::string> rows;
    for (std::string line; std::getline(lines, line);) {
        rows.push_back(line);
    }
    ASSERT_EQ(rows.size(), 7u) << outcome.out;
    // Row 0: delay preset 100, tail 64, so 110 lies in the window; the minimal tail is
    // 110 - 100 + 49.
    EXPECT_EQ(rows[0], "Real Delay              110 smp, OK");
    EXPECT_THAT(rows[1], ::testing::MatchesRegex("ERL                     1[12]\\.[0-9][0-9] dB, OK"));
    EXPECT_THAT(rows[2], ::testing::StartsWith("Residual level          "));
    EXPECT_THAT(rows[3], ::testing::StartsWith("Rx / Tx level avg.      "));
    EXPECT_EQ(rows[4], "Minimal tail (samples)  59");
    EXPECT_THAT(rows[5], ::testing::StartsWith("Tx gain decrease (dB)   "));
    EXPECT_EQ(rows[6], "Status                  Finished");
    EXPECT_EQ(std::filesystem::file_size(captures.out), 48000u / 80u * 160u);
}

TEST(CommandLineRun, ErlGateReportsDelayAndErlAndEndsFinished)
{
    Captures captures(110, 3.0);  // an echo only 3 dB down stops the run at the gate
    clitest::Outcome outcome = RunInProcess(captures.Args());
    ASSERT_EQ(outcome.status, kExitOk) << outcome.out << outcome.err;
    EXPECT_EQ(outcome.err, std::string(TestMessages::kErlGate) + "\n");
    EXPECT_THAT(outcome.out, HasSubstr("Real Delay              110 smp, OK\n"));
    EXPECT_THAT(outcome.out, ::testing::ContainsRegex("ERL                     [23]\\.[0-9][0-9] dB, CHECK\n"));
    EXPECT_THAT(outcome.out, HasSubstr("Residual level          Not Available\n"));
    EXPECT_THAT(outcome.out, HasSubstr("Rx / Tx level avg.      Not Available\n"));
    EXPECT_THAT(outcome.out, HasSubstr("Tx gain decrease (dB)   0\n"));
    EXPECT_THAT(outcome.out, ::testing::EndsWith("Status                  Finished\n"));
    EXPECT_EQ(std::filesystem::file_size(captures.out), 0u);
}

TEST(CliUi, KeepsTheLastStatusAndEveryMessageInOrder)
{
    std::ostringstream err;
    CliUi ui(err, false);
    ui.SetStatus("one");
    ui.ShowMessage("first");
    ui.SetStatus("two");
    ui.ShowMessage("second");
    ui.SetProgressRange(100);
    ui.SetProgressPos(50);
    EXPECT_EQ(ui.Status(), "two");
    EXPECT_THAT(ui.Messages(), ElementsAre("first", "second"));
    EXPECT_EQ(err.str(), "first\nsecond\n");  // no progress drawn when not asked
}

TEST(CliUi, ProgressIsDrawnOncePerPercentAndErasedAtTheEnd)
{
    std::ostringstream err;
    {
        CliUi ui(err, true);
        ui.SetStatus(TestMessages::kPleaseWait);
        // A capture this long makes position * 100 overflow a 32-bit int.
        const int count = 30'000'000;
        ui.SetProgressRange(count);
        ui.SetProgressPos(0);
        ui.SetProgressPos(80);  // still 0 %: not drawn again
        ui.SetProgressPos(count - 80);
    }
    EXPECT_EQ(err.str(), std::string("\r\x1b[KPlease wait, processing...") +
                             "\r\x1b[KPlease wait, processing... 0%" +
                             "\r\x1b[KPlease wait, processing... 99%" + "\r\x1b[K");
}
