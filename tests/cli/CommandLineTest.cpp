// The command line: parsing in-process, then the real binary as a script sees it (exit
// statuses, streams, file errors, interrupts, --plots and the --json analysis). Whole runs are
// pinned by the golden tests.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <sstream>
#include <thread>
#include <tuple>

#include "CliCall.h"
#include "cli/JsonReport.h"
#include "cli/CommandLine.h"
#include "support/SyntheticCaptures.h"

using namespace tarnwell;
using namespace std::string_literals;
using nlohmann::json;
using testcaptures::TempDir;
using ::testing::HasSubstr;
using namespace clicall;
namespace fs = std::filesystem;

namespace {

std::string Quoted(const Args& args)
{
    std::string line;
    for (const auto& a : args) {
        line += " '" + a + "'";
    }
    return line;
}

// The binary through the shell with `options` (shell words), stdin from /dev/null, stdout to
// `to` (or kept when empty), stderr kept.
Outcome RunCli(const TempDir& dir, const std::string& options, const std::string& to = "",
               const std::string& prefix = "")
{
    const std::string out = to.empty() ? "'" + dir.File("stdout") + "'" : to;
    const std::string command = prefix + "'" + TARNWELL_CLI_PATH + "' " + options + " </dev/null >" + out +
                                " 2>'" + dir.File("err") + "'";
    const int wstatus = std::system(command.c_str());
    return {WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1, to.empty() ? Slurp(dir.File("stdout")) : "",
            Slurp(dir.File("err"))};
}

// The captures' options; `count` samples of half-second bursts at about -15 dBm0 and their
// echo 110 samples later, 12 dB down, or the shipped samples when count is 0.
std::string Captures(const TempDir& dir, int count = 48000)
{
    if (count == 0) {
        for (const char* name : {"tx.pcm", "rx.pcm"}) {
            fs::copy_file(fs::path(TARNWELL_SAMPLES_DIR) / name, dir.File(name),
                          fs::copy_options::skip_existing);
        }
    } else {
        const testcaptures::Samples tx = testcaptures::Bursts(count, 2848.0, 4000, 0.0, 7);
        testcaptures::WritePcm(dir.File("tx.pcm"), tx);
        testcaptures::WritePcm(dir.File("rx.pcm"), testcaptures::Echo(tx, 110, 12.0, 8.0, 11));
    }
    return Quoted({"--tx", dir.File("tx.pcm"), "--rx", dir.File("rx.pcm"), "--out", dir.File("out.pcm")});
}

}  // namespace

TEST(CommandLineParse, DefaultsAreTheWindowAfterStartAndOptionsOverrideThem)
{
    // device, delay, tail, NLP enable, NLP diff, NLP shift, high-pass, output, json
    using Fields = std::tuple<int, int, int, int, int, int, int, std::string, bool>;
    const std::pair<Args, Fields> cases[] = {
        {{}, {0, 100, 64, 1, 6, 3, 1, "./out.pcm", false}},
        {{"--device", "2", "--delay", "0"}, {2, 0, 128, 1, 6, 3, 1, "./out.pcm", false}},  // 0 overrides too
        // Every bound is a value.
        {{"--delay", "8000", "--tail", "0", "--nlp-diff", "100", "--nlp-shift=10", "--high-pass", "off",
          "--out", "x.pcm", "--json"},
         {0, 8000, 0, 1, 100, 10, 0, "x.pcm", true}},
    };
    for (auto [args, fields] : cases) {
        args.insert(args.begin(), {"tarnwell-cli", "--tx", "t", "--rx", "r"});
        std::vector<const char*> argv;
        for (const auto& a : args) {
            argv.push_back(a.c_str());
        }
        std::ostringstream sink;
        const ParsedCommandLine parsed = ParseCommandLine(static_cast<int>(argv.size()), argv.data(), sink,
                                                          sink);
        ASSERT_TRUE(parsed.options) << ::testing::PrintToString(args);
        const TestSettings& s = parsed.options->settings;
        EXPECT_EQ(Fields(parsed.options->deviceType, s.delay, s.tail, s.nlpEnable, s.nlpDiff, s.nlpShift,
                         s.highPass, s.outPath, parsed.options->json),
                  fields)
            << ::testing::PrintToString(args);
    }
}

// Every way a single run ends, as a script sees it (--out - into a pipe too): the exit status
// and a part of what the run said, on stderr (or stdout, which a usage error leaves empty); `out` is whether
// the run leaves out.pcm (-1: not asked).
TEST(CliBinary, ExitStatusesSayWhatHappened)
{
    const TempDir dir;
    const std::string run = Captures(dir, 0);  // the samples read OK on every row with device row 0
    const std::string tx = dir.File("tx.pcm"), rx = dir.File("rx.pcm"), out = dir.File("out.pcm");
    const std::string folder = dir.File("folder"), none = dir.File("none.pcm"),
                      shortRx = dir.File("short.pcm");
    fs::create_directory(folder);
    testcaptures::WritePcm(shortRx, testcaptures::Samples(30000, 100));
    const auto files = [&](const std::string& r, const std::string& o) {
        return Quoted({"--tx", tx, "--rx", r, "--out", o});
    };
    const struct {
        std::string args;
        const char* to;  // stdout, kept when empty
        int status;
        std::string said;
        int out;
        std::string env = "";
    } cases[] = {
        // Usage errors, before any file is read (t and r do not exist): the option and the value.
        {"--rx r", "", 2, "--help", 0},
        {"--tx t", "", 2, "--help", 0},
        {"--tx t --rx r --device 10", "", 2, "--device", 0},
        {"--tx t --rx r --device=-1", "", 2, "--help", 0},
        {"--tx t --rx ''", "", 2, "--help", 0},
        {"--tx t --rx r --out ''", "", 2, "--help", 0},
        {"--tx t --rx r --delay 9000", "", 2, "--delay: Value 9000 not in range 0 to 8000", 0},
        {"--tx t --rx r --delay=-1", "", 2, "--delay: Value -1 not in range 0 to 8000", 0},
        {"--tx t --rx r --tail 1025", "", 2, "--tail: Value 1025 not in range 0 to 1024", 0},
        {"--tx t --rx r --nlp-diff 101", "", 2, "--nlp-diff: Value 101 not in range 0 to 100", 0},
        {"--tx t --rx r --nlp-shift 11", "", 2, "--nlp-shift: Value 11 not in range 0 to 10", 0},
        {"batch site.csv --tail 2000", "", 2, "--tail: Value 2000 not in range 0 to 1024", 0},
        {"--tx t --rx r --network-delay 2001", "", 2, "--network-delay: Value 2001 not in range 0 to 2000",
         0},
        {run + " --tail 0x10", "", 2, "not a decimal integer: 0x10", 0},
        {run + " --device ' 1'", "", 2, "not a decimal integer", 0},
        {files(rx, "-") + " --json", "", 2, "--out -: the samples and the JSON cannot both go to stdout\n",
         0},
        {"bacth " + run, "", 2, "--help", 0},             // a misspelt verb
        {run + " --help", "", 0, "Vestra D - E1/T1", 0},  // the device rows, and no run
        {"run" + run, "/dev/null", 0, "", 1},             // the same run as no verb at all
        {"batch --help", "", 0, "Usage: tarnwell-cli batch", 0},
        // --plots costs only the pictures: the report and the output are written.
        {run + Quoted({"--plots", dir.File("bare")}), "/dev/null", 1,
         "--plots: this build draws no pictures (the CSV files are written); the picture module could not be "
         "loaded:\n  " +
             none + ": cannot open shared object file",
         1, "TARNWELL_CHARTS_MODULE='" + none + "' "},
        {run + Quoted({"--plots", rx + "/x"}), "/dev/null", 1, "--plots: " + rx + "/x: Not a directory", 1},
        // Reports that cannot be written.
        {run + " --json", "/dev/full", 1, "cannot write the report: No space left on device", -1},
        {run, "/dev/full", 1, "cannot write the report", -1},
        {"--help", "/dev/full", 1, "cannot write the help", 0},
        // Verdicts: a CHECK alone is still a report; --fail-on-unmeasured fails a measured CHECK too.
        {run + " --tail +64", "/dev/null", 0, "", 1},
        {run + " --fail-on-check", "/dev/null", 0, "", 1},
        {run + " --fail-on-check --device 1", "/dev/null", 1, "", 1},  // 107 is outside row 1's window
        {run + " --device 1", "/dev/null", 0, "", 1},
        {run + " --fail-on-check --nlp-diff 100", "/dev/null", 1, "", 1},  // the residual verdict
        {run + " --fail-on-unmeasured", "/dev/null", 0, "", 1},
        {run + " --fail-on-unmeasured --device 1", "/dev/null", 1, "", 1},
        // The tap loop is checked before anything runs.
        {run, "/dev/null", 2, "tarnwell-cli: TARNWELL_TAP_LOOP: unknown loop 'x' (plain, avx2, avx512)\n", 0,
         "TARNWELL_TAP_LOOP=x "},
        {"batch " + run, "/dev/null", 2, "unknown loop 'x'", 0, "TARNWELL_TAP_LOOP=x "},
        {run, "/dev/null", 0, "", 1, "TARNWELL_TAP_LOOP=avx512 "},  // falls back on a CPU without it
        // File errors name the file and the reason, the message first.
        {files(none, out), "/dev/null", 1, "Check the files\n" + none + ": No such file or directory\n", -1},
        {files(folder, out), "/dev/null", 1, "Check the files\n" + folder + ": is a directory\n", -1},
        {files(rx, rx), "/dev/null", 1, "Check the files\n" + rx + ": is the Rx capture\n", -1},
        {files(rx, folder), "/dev/null", 1, "Check the files\n" + folder + ": is a directory\n", -1},
        {files(rx, "/dev/full"), "/dev/null", 1,
         "Cannot write the output file\n/dev/full: No space left on device\n", -1},
        {files(rx, "/dev/null"), "/dev/null", 0, "", 0},
        // The seed's text, then each capture's length as read.
        {files(shortRx, out), "/dev/null", 1,
         "Check the size of input files (must be more than 5 sec.)\n" + tx + ": 9.600 s as read\n" + shortRx +
             ": 3.750 s as read\n",
         -1},
        // 64 blocks of 512 bytes: the output stops partway, and is left empty.
        {run, "/dev/null", 1, "Cannot write the output file", -1, "ulimit -f 64; "},
    };
    for (const auto& c : cases) {
        fs::remove(out);
        const Outcome o = RunCli(dir, c.args, c.to, c.env);
        EXPECT_EQ(o.status, c.status) << c.env << c.args << " > " << c.to << ": " << o.err;
        EXPECT_THAT(o.err + o.out, HasSubstr(c.said)) << c.env << c.args;
        EXPECT_TRUE(c.status != 2 || o.out.empty()) << c.args;
        if (c.out >= 0) {
            EXPECT_EQ(fs::exists(out), c.out == 1) << c.env << c.args;
        }
    }
    EXPECT_EQ(fs::file_size(rx), fs::file_size(tx)) << "an output naming a capture emptied it";
    EXPECT_EQ(fs::file_size(out), 0u) << "a failed write left part of the output";
    RunCli(dir, files(rx, "-"), "/dev/stdout | cat >" + dir.File("piped"));
    EXPECT_EQ(fs::file_size(dir.File("piped")), fs::file_size(rx));
    // A reader that leaves after 100 bytes: the run dies of SIGPIPE (141 in a shell), as other
    // Unix tools do.
    ASSERT_EQ(std::system(("{ '" TARNWELL_CLI_PATH "'" + files(rx, "-") + " 2>/dev/null; echo $? >'" +
                           dir.File("status") + "'; } | head -c 100 >'" + dir.File("head") + "'")
                              .c_str()),
              0);
    EXPECT_EQ(Slurp(dir.File("status")), "141\n");
    EXPECT_EQ(Slurp(dir.File("head")), Slurp(dir.File("piped")).substr(0, 100));
}

TEST(CliBinary, AnInterruptStopsAtTheNextFrameAndEmptiesTheOutput)
{
    const TempDir dir;
    Captures(dir, 10 * 60 * 8000);  // ten minutes: seconds of work with the plain loop
    const std::string tx = dir.File("tx.pcm"), rx = dir.File("rx.pcm"), out = dir.File("out.pcm");
    const std::string err = dir.File("err");
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        fs::remove(out);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            setenv("TARNWELL_TAP_LOOP", "plain", 1);
            std::freopen(err.c_str(), "w", stderr);
            std::freopen("/dev/null", "w", stdout);
            execl(TARNWELL_CLI_PATH, "tarnwell-cli", "--tx", tx.c_str(), "--rx", rx.c_str(), "--out",
                  out.c_str(), "--tail", "1024", static_cast<char*>(nullptr));
            _exit(127);
        }
        // Interrupt once the pass has written its first block.
        std::error_code missing;
        for (int i = 0; i < 6000 && !(fs::file_size(out, missing) > 0 && !missing); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        kill(child, signal);
        int wstatus = 0;
        waitpid(child, &wstatus, 0);
        ASSERT_TRUE(WIFEXITED(wstatus)) << "signal " << signal << " killed the process";
        EXPECT_EQ(WEXITSTATUS(wstatus), 128 + signal);
        EXPECT_EQ(Slurp(err), "Interrupted\n");
        EXPECT_EQ(fs::file_size(out), 0u) << "signal " << signal;
    }
}

// --plots writes each view as CSV with units, and as pictures without a display (without the
// picture module, or where no folder can be made, it fails as the exit-status test shows).
TEST(CliBinary, PlotsWriteEachViewAsCsvAndAsPictures)
{
    const TempDir dir;
    const std::string plots = dir.File("drawn");
    const Outcome o = RunCli(dir, Captures(dir) + Quoted({"--plots", plots}), "",
                             "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ");
    EXPECT_EQ(o.status, TARNWELL_CLI_DRAWS ? 0 : 1) << o.err;
    const std::pair<const char*, const char*> views[] = {
        {"echo-path", "delay_samples,delay_ms,weight_q15"},
        {"delay-search", "lag_samples,lag_ms,abs_correlation"},
        {"levels", "time_s,tx_dBm0,rx_dBm0,output_dBm0,cancellation_dB,mode,adapt_state,"
                   "nlp_acted,counted,level_frame,rx_level_frame"},
        {"delay-over-time", "time_s,delay_samples,peak_to_median,counts"},
        {"echo-path-by-frequency", "frequency_hz,erl_db,coherence"}};
    for (const auto& [stem, header] : views) {
        const std::string base = plots + "/" + stem, csv = Slurp(base + ".csv");
        EXPECT_EQ(csv.substr(0, csv.find('\n')), header) << base;
        for (const char* picture : {".svg", ".png"}) {
            std::error_code missing;
            EXPECT_EQ(fs::file_size(base + picture, missing) > 1000 && !missing, TARNWELL_CLI_DRAWS != 0)
                << base + picture;
        }
    }
    const std::string echoPath = Slurp(plots + "/echo-path.csv");
    EXPECT_EQ(std::count(echoPath.begin(), echoPath.end(), '\n'), 1 + 64);  // one row per tap of tail 64
}

TEST(CliBinary, JsonCarriesTheCurvesAndTheFindings)
{
    const TempDir dir;
    const Outcome outcome = RunCli(dir, Captures(dir) + " --json");
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_FALSE(json::parse(outcome.out).at("settings").contains("networkDelay"));
    // Given, the network delay is a setting, and the echo left is judged at it.
    const Outcome judged = RunCli(dir, Captures(dir) + " --json --network-delay 2000");
    ASSERT_EQ(judged.status, 0) << judged.err;
    EXPECT_EQ(json::parse(judged.out).at("settings").at("networkDelay"), 2000);
    EXPECT_THAT(json::parse(judged.out).at("analysis").at("findings").dump(), HasSubstr("\"audible-echo\""));
    const json analysis = json::parse(outcome.out).at("analysis");
    EXPECT_EQ(analysis.at("delaySearch").at("correlation").size(), 1800u);
    EXPECT_EQ(analysis.at("delaySearch").at("peakLag"), 110);
    EXPECT_EQ(analysis.at("echoPath").at("weights").size(), 64u);
    EXPECT_EQ(analysis.at("frames").at("txLevel").size(), 48000u / 80u);
}

TEST(JsonReport, KeepsEveryBitAndNonFiniteValuesAndReplacesTextThatIsNotUtf8)
{
    constexpr double kInf = std::numeric_limits<double>::infinity(),
                     kNaN = std::numeric_limits<double>::quiet_NaN();
    CliOptions options;
    options.settings.txPath = "captures/\xff.pcm";
    const json failed = json::parse(
        DumpJson(JsonReport(options, CliRun{}, "Test failed", {"first", "second"})));
    EXPECT_EQ(failed["settings"]["txPath"], "captures/\xEF\xBF\xBD.pcm");
    EXPECT_EQ(failed["messages"], json::array({"first", "second"}));
    EXPECT_EQ(std::tie(failed["ok"], failed["report"]), std::make_tuple(false, nullptr));

    CliRun run;
    run.ok = true;
    run.results = {92, 25.253333333333334, 12.5, -20.000000000000004, -kInf, kNaN, 1, 1, 0, 1};
    run.report = MakeReport(run.results, 0);
    const json parsed = json::parse(DumpJson(JsonReport(CliOptions{}, run, "Finished", {})));
    EXPECT_EQ(parsed["results"],
              json::parse(R"({"delay":92,"cancellation":25.253333333333334,"erl":12.5,)"
                          R"("txLevel":-20.000000000000004,"rxLevel":"-Infinity","residualLevel":"NaN",)"
                          R"("delayOk":1,"erlOk":1,"levelsOk":0,"residualOk":1})"));
    EXPECT_TRUE(parsed["report"].is_object());
}
