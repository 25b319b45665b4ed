// The command line: settings as the window starts, usage errors, runs of the real binary (exit
// statuses as scripts see them, 0, 1 and 2; streams), the progress line and the --json object's
// non-finite values and text that is not UTF-8. Whole runs are pinned by the golden tests.
#include <sys/wait.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <tuple>

#include "cli/CliUi.h"
#include "cli/JsonReport.h"
#include "engine/TestMessages.h"
#include "support/SyntheticCaptures.h"

using namespace tarnwell;

using namespace std::string_literals;
using nlohmann::json;
using Args = std::vector<std::string>;

namespace {

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

std::string Slurp(const std::string& path)
{
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

// The real binary through the shell: stdin from /dev/null, stdout and stderr into files.
Outcome RunBinary(const Args& args)
{
    const testcaptures::TempDir dir;
    std::string command = "'"s + TARNWELL_CLI_PATH + "'";
    for (const auto& a : args) {
        command += " '" + a + "'";
    }
    command += " </dev/null >'" + dir.File("out") + "' 2>'" + dir.File("err") + "'";
    const int wstatus = std::system(command.c_str());
    return {WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1, Slurp(dir.File("out")), Slurp(dir.File("err"))};
}

// Writes 6 s of half-second noise bursts at about -15 dBm0 (100 ms ERL blocks between -20 and
// -10 dBm0) and its noisy echo; returns the options naming them and dir's out.pcm, then extra.
Args WriteCaptures(const testcaptures::TempDir& dir, int delay, double lossDb, Args extra = {})
{
    const testcaptures::Samples tx = testcaptures::Bursts(48000, 2848.0, 4000, 0.0, 7);
    testcaptures::WritePcm(dir.File("tx.pcm"), tx);
    testcaptures::WritePcm(dir.File("rx.pcm"), testcaptures::Echo(tx, delay, lossDb, 8.0, 11));
    extra.insert(extra.begin(),
                 {"--tx", dir.File("tx.pcm"), "--rx", dir.File("rx.pcm"), "--out", dir.File("out.pcm")});
    return extra;
}

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

}  // namespace

TEST(CommandLineParse, DefaultsAreTheWindowAfterStartAndOptionsOverrideThem)
{
    // device, delay, tail, NLP enable, NLP diff, NLP shift, high-pass, output, json
    using Fields = std::tuple<int, int, int, int, int, int, int, std::string, bool>;
    const std::pair<Args, Fields> cases[] = {
        {{}, {0, 100, 64, 1, 6, 3, 1, "./out.pcm", false}},
        {{"--device", "7"}, {7, 180, 64, 1, 6, 3, 1, "./out.pcm", false}},  // the one row with delay 180
        {{"--device", "2", "--delay", "0"}, {2, 0, 128, 1, 6, 3, 1, "./out.pcm", false}},  // 0 overrides too
        {{"--tail", "512", "--device", "9"}, {9, 80, 512, 1, 6, 3, 1, "./out.pcm", false}},
        {{"--delay", "-1", "--tail", "1025", "--nlp-diff", "101", "--nlp-shift=-5"},  // for the engine
         {0, -1, 1025, 1, 101, -5, 1, "./out.pcm", false}},
        {{"--delay", "8000", "--tail", "1024", "--high-pass", "off", "--out", "x.pcm", "--json"},
         {0, 8000, 1024, 1, 6, 3, 0, "x.pcm", true}},
    };
    for (auto [args, fields] : cases) {
        args.insert(args.begin(), {"tarnwell-cli", "--tx", "t", "--rx", "r"});
        std::vector<const char*> argv;
        for (const auto& a : args) {
            argv.push_back(a.c_str());
        }
        std::ostringstream sink;
        const ParsedCommandLine parsed = ParseCommandLine(static_cast<int>(argv.size()), argv.data(), sink, sink);
        ASSERT_TRUE(parsed.options) << ::testing::PrintToString(args);
        const TestSettings& s = parsed.options->settings;
        EXPECT_EQ(Fields(parsed.options->deviceType, s.delay, s.tail, s.nlpEnable, s.nlpDiff, s.nlpShift,
                         s.highPass, s.outPath, parsed.options->json),
                  fields)
            << ::testing::PrintToString(args);
    }
}

TEST(CliBinary, UsageErrorsExitWithTwoAndSayWhyAndHelpExitsWithZero)
{
    const Args cases[] = {{"--rx", "r"}, {"--tx", "t"}, {"--tx", "t", "--rx", "r", "--device", "10"},
                          {"--tx", "t", "--rx", "r", "--device=-1"}, {"--tx", "t", "--rx", "r", "--high-pass", "yes"},
                          {"--tx", "t", "--rx", "r", "--tail", "2147483648"}};  // the last: not a 32-bit value
    for (const auto& args : cases) {
        const Outcome outcome = RunBinary(args);
        EXPECT_EQ(std::tie(outcome.status, outcome.out), std::make_tuple(2, ""s)) << outcome.err;
        EXPECT_THAT(outcome.err, ::testing::HasSubstr("--help")) << ::testing::PrintToString(args);
    }
    const testcaptures::TempDir dir;
    const Outcome help = RunBinary({"--help", "--tx", "t", "--rx", "r", "--out", dir.File("out.pcm")});
    EXPECT_EQ(help.status, 0);
    EXPECT_THAT(help.out, ::testing::HasSubstr("Vestra D - E1/T1"));  // the device rows
    EXPECT_FALSE(std::filesystem::exists(dir.File("out.pcm")));
}

TEST(CliBinary, RefusedRunExitsWithOneTheErlGateWithZeroAndNoProgressReachesAFile)
{
    const testcaptures::TempDir dir;
    const Outcome refused = RunBinary(WriteCaptures(dir, 110, 12.0, {"--nlp-shift", "11"}));
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out, "Status                  Test failed\n");
    EXPECT_EQ(refused.err, testmessages::kCheckSettings + "\n"s);
    EXPECT_FALSE(std::filesystem::exists(dir.File("out.pcm")));  // refused before opening it

    // An echo only 3 dB down stops the run at the ERL gate, which still returns true.
    const Outcome gated = RunBinary(WriteCaptures(dir, 110, 3.0));
    EXPECT_EQ(gated.status, 0);
    EXPECT_EQ(gated.err, testmessages::kErlGate + "\n"s);  // and no progress line
}

TEST(CliUi, ProgressIsDrawnOncePerPercentAndErasedBeforeMessagesAndAtTheEnd)
{
    std::ostringstream err;
    {
        CliUi ui(err, true);
        ui.SetStatus(testmessages::kPleaseWait);
        const int count = 30'000'000;  // position * 100 overflows a 32-bit int
        ui.SetProgressRange(count);
        ui.SetProgressPos(0);
        ui.SetProgressPos(80);  // still 0 %
        ui.ShowMessage("note");
        ui.SetProgressPos(count - 80);
    }
    EXPECT_EQ(err.str(), "\r\x1b[KPlease wait, processing...\r\x1b[KPlease wait, processing... 0%\r\x1b[Knote\n"
                         "\r\x1b[KPlease wait, processing... 99%\r\x1b[K");
}

TEST(JsonReport, AFalseResultHasANullReportAndPathsThatAreNotUtf8GetReplacementCharacters)
{
    CliOptions options;
    options.settings.txPath = "captures/\xff.pcm";
    const json parsed = json::parse(DumpJson(JsonReport(options, CliRun{}, "Test failed", {"first", "second"})));
    EXPECT_EQ(parsed["settings"]["txPath"], "captures/\xEF\xBF\xBD.pcm");
    EXPECT_EQ(parsed["messages"], json::array({"first", "second"}));
    EXPECT_EQ(std::tie(parsed["ok"], parsed["report"]), std::make_tuple(false, nullptr));
}

TEST(JsonReport, TrueResultKeepsEveryBitAndNonFiniteValuesAndFillsTheReport)
{
    CliRun run;
    run.ok = true;
    run.results = {92, 25.253333333333334, 12.5, -20.000000000000004, -kInf, kNaN, 1, 1, 0, 1};
    run.report = MakeReport(run.results, 0);
    const json parsed = json::parse(DumpJson(JsonReport(CliOptions{}, run, "Finished", {})));
    EXPECT_EQ(parsed["results"],
              json::parse(R"({"delay":92,"cancellation":25.253333333333334,"erl":12.5,)"
                          R"("txLevel":-20.000000000000004,"rxLevel":"-Infinity","residualLevel":"NaN",)"
                          R"("delayOk":1,"erlOk":1,"levelsOk":0,"residualOk":1})"));
    // Delay 92 lies below row 0's preset of 100, so the minimal tail is 50.
    json report = {{"realDelay", "92 smp, OK"}, {"erl", "12.50 dB, OK"},
                   {"residual", "25.25 / nan dBm, OK"}, {"levels", "-inf / -20.00 dBm, CHECK"},
                   {"minimalTail", 50}, {"txGainDecrease", run.report->txGainDecrease}};
    EXPECT_EQ(parsed["report"], report);
}
