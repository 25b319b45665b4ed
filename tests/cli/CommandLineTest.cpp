// The command line: parsing in-process, then the real binary as a script sees it (exit
// statuses, streams, file errors, interrupts, --plots and the --json analysis). Whole runs are
// pinned by the golden tests.
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <thread>
#include <tuple>

#include "cli/JsonReport.h"
#include "cli/Verbs.h"
#include "engine/TestMessages.h"
#include "support/SyntheticCaptures.h"

using namespace tarnwell;
using namespace std::string_literals;
using nlohmann::json;
using testcaptures::TempDir;
using ::testing::HasSubstr;
using Args = std::vector<std::string>;
namespace fs = std::filesystem;

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
        {{"--device", "7"}, {7, 180, 64, 1, 6, 3, 1, "./out.pcm", false}},  // the one row with delay 180
        {{"--device", "2", "--delay", "0"}, {2, 0, 128, 1, 6, 3, 1, "./out.pcm", false}},  // 0 overrides too
        {{"--tail", "512", "--device", "9"}, {9, 80, 512, 1, 6, 3, 1, "./out.pcm", false}},
        {{"--delay", "0", "--tail", "0", "--nlp-diff", "100", "--nlp-shift=10"},  // every bound is a value
         {0, 0, 0, 1, 100, 10, 1, "./out.pcm", false}},
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

TEST(CliBinary, UsageErrorsExitWithTwoAndSayWhyAndHelpExitsWithZero)
{
    const TempDir dir;
    // Out of range: the option and the value, before any file is read (t and r do not exist).
    const std::pair<Args, std::string> cases[] = {
        {{"--rx", "r"}, ""},
        {{"--tx", "t"}, ""},
        {{"--tx", "t", "--rx", "r", "--device", "10"}, "--device"},
        {{"--tx", "t", "--rx", "r", "--device=-1"}, ""},
        {{"--tx", "t", "--rx", "r", "--high-pass", "yes"}, ""},
        {{"--tx", "t", "--rx", "r", "--tail", "2147483648"}, ""},  // not a 32-bit value
        {{"--tx", "t", "--rx", ""}, ""},
        {{"--tx", "t", "--rx", "r", "--out", ""}, ""},
        {{"--tx", "t", "--rx", "r", "--delay", "9000"}, "--delay: Value 9000 not in range 0 to 8000"},
        {{"--tx", "t", "--rx", "r", "--delay=-1"}, "--delay: Value -1 not in range 0 to 8000"},
        {{"--tx", "t", "--rx", "r", "--tail", "1025"}, "--tail: Value 1025 not in range 0 to 1024"},
        {{"--tx", "t", "--rx", "r", "--nlp-diff", "101"}, "--nlp-diff: Value 101 not in range 0 to 100"},
        {{"--tx", "t", "--rx", "r", "--nlp-shift", "11"}, "--nlp-shift: Value 11 not in range 0 to 10"},
        {{"batch", "site.csv", "--tail", "2000"}, "--tail: Value 2000 not in range 0 to 1024"},
        {{"--tx", "t", "--rx", "r", "--network-delay", "2001"},
         "--network-delay: Value 2001 not in range 0 to 2000"},
        {{"batch", "site.csv", "--network-delay=-1"}, "--network-delay: Value -1 not in range 0 to 2000"},
    };
    for (const auto& [args, why] : cases) {
        const Outcome outcome = RunCli(dir, Quoted(args));
        EXPECT_EQ(std::tie(outcome.status, outcome.out), std::make_tuple(2, ""s)) << outcome.err;
        EXPECT_THAT(outcome.err, HasSubstr("--help")) << ::testing::PrintToString(args);
        EXPECT_THAT(outcome.err, HasSubstr(why)) << ::testing::PrintToString(args);
    }
    const Outcome help = RunCli(dir,
                                Quoted({"--help", "--tx", "t", "--rx", "r", "--out", dir.File("out.pcm")}));
    EXPECT_EQ(help.status, 0);
    EXPECT_THAT(help.out, HasSubstr("Vestra D - E1/T1"));  // the device rows
    EXPECT_FALSE(fs::exists(dir.File("out.pcm")));
}

// Every verb of the table is listed by the top-level help and answers its own --help; the run
// verb is the same run as no verb at all.
TEST(CliBinary, HelpListsEveryVerbAndEachVerbHasItsOwnHelp)
{
    const TempDir dir;
    const Outcome top = RunCli(dir, "--help");
    ASSERT_EQ(top.status, 0) << top.err;
    ASSERT_FALSE(Verbs().empty());
    for (const Verb& verb : Verbs()) {
        EXPECT_THAT(top.out, HasSubstr("  "s + verb.name + " ")) << verb.name;
        const Outcome own = RunCli(dir, Quoted({verb.name, "--help"}));
        EXPECT_EQ(own.status, 0) << verb.name << ": " << own.err;
        EXPECT_THAT(own.out, HasSubstr("Usage: tarnwell-cli")) << verb.name;
    }
    const std::string captures = Captures(dir, 0);
    const Outcome plain = RunCli(dir, captures + " --json");
    const Outcome named = RunCli(dir, "run " + captures + " --json");
    EXPECT_EQ(std::tie(named.status, named.out), std::tie(plain.status, plain.out));
    EXPECT_EQ(RunCli(dir, "bacth " + captures).status, 2);  // a misspelt verb is a usage error
}

TEST(CliBinary, ExitStatusesSayWhatHappened)
{
    // The shipped samples read OK on every row of the report with device row 0.
    const TempDir dir;
    const std::string captures = Captures(dir, 0);
    const struct {
        const char* options;
        const char* to;
        int status;
        const char* err;  // a part of stderr
    } cases[] = {
        {"--json", "/dev/full", 1, "cannot write the report: No space left on device"},
        {"", "/dev/full", 1, "cannot write the report"},
        {"--help", "/dev/full", 1, "cannot write the help"},
        {"--tail 0x10", "/dev/null", 2, "not a decimal integer: 0x10"},
        {"--delay 1e2", "/dev/null", 2, "not a decimal integer: 1e2"},
        {"--nlp-diff 6.0", "/dev/null", 2, "not a decimal integer"},
        {"--device ' 1'", "/dev/null", 2, "not a decimal integer"},
        {"--tail +64", "/dev/null", 0, ""},
        {"--fail-on-check", "/dev/null", 0, ""},                 // every verdict OK here
        {"--fail-on-check --device 1", "/dev/null", 1, ""},      // 107 is outside row 1's window
        {"--device 1", "/dev/null", 0, ""},                      // a CHECK alone is still a report
        {"--fail-on-check --nlp-diff 100", "/dev/null", 1, ""},  // the residual verdict
        // Every verdict here measured and OK; a measured CHECK fails it as well.
        {"--fail-on-unmeasured", "/dev/null", 0, ""},
        {"--fail-on-unmeasured --device 1", "/dev/null", 1, ""},
    };
    for (const auto& c : cases) {
        const Outcome o = RunCli(dir, captures + " " + c.options, c.to);
        EXPECT_EQ(o.status, c.status) << c.options << " > " << c.to << ": " << o.err;
        EXPECT_THAT(o.err, HasSubstr(c.err)) << c.options;
    }
}

TEST(CliBinary, AnUnknownTapLoopIsRefusedBeforeAnythingRuns)
{
    const TempDir dir;
    const std::string captures = Captures(dir);
    const struct {
        const char* value;
        const char* verb;
        int status;
        const char* err;
    } cases[] = {
        {"x", "", 2, "tarnwell-cli: TARNWELL_TAP_LOOP: unknown loop 'x' (plain, avx2, avx512)\n"},
        {"AVX2", "", 2, "unknown loop 'AVX2'"},
        {"x", "batch ", 2, "unknown loop 'x'"},
        {"plain", "", 0, ""},
        {"avx512", "", 0, ""},  // falls back on a CPU without it
        {"", "", 0, ""},
    };
    for (const auto& c : cases) {
        fs::remove(dir.File("out.pcm"));
        const Outcome o = RunCli(dir, c.verb + captures, "/dev/null",
                                 std::string("TARNWELL_TAP_LOOP='") + c.value + "' ");
        EXPECT_EQ(o.status, c.status) << c.value << ": " << o.err;
        EXPECT_THAT(o.err, HasSubstr(c.err)) << c.value;
        EXPECT_EQ(fs::exists(dir.File("out.pcm")), c.status == 0) << c.value;
    }
}

TEST(CliBinary, FileErrorsNameTheFileAndTheReasonAndOutputsGoWhereTheyAreSent)
{
    const TempDir dir;
    Captures(dir, 0);
    fs::create_directory(dir.File("folder"));
    const std::string rx = dir.File("rx.pcm");
    const std::string out = dir.File("out.pcm");
    const struct {
        std::string rx;
        std::string out;
        std::string extra;
        int status;
        std::string err;  // the message and its detail lines, in order
    } cases[] = {
        {dir.File("none.pcm"), out, "", 1,
         "Check the files\n" + dir.File("none.pcm") + ": No such file or directory\n"},
        {dir.File("folder"), out, "", 1, "Check the files\n" + dir.File("folder") + ": is a directory\n"},
        {rx, rx, "", 1, "Check the files\n" + rx + ": is the Rx capture\n"},
        {rx, dir.File("folder"), "", 1, "Check the files\n" + dir.File("folder") + ": is a directory\n"},
        {rx, "/dev/full", "", 1, "Cannot write the output file\n/dev/full: No space left on device\n"},
        {rx, "/dev/null", "", 0, ""},
        {rx, "-", "--json", 2, "--out -: the samples and the JSON cannot both go to stdout\n"},
        // The seed's text, then each capture's length as read.
        {dir.File("short.pcm"), out, "", 1,
         "Check the size of input files (must be more than 5 sec.)\n" + dir.File("tx.pcm") +
             ": 9.600 s as read\n" + dir.File("short.pcm") + ": 3.750 s as read\n"},
    };
    testcaptures::WritePcm(dir.File("short.pcm"), testcaptures::Samples(30000, 100));
    for (const auto& c : cases) {
        const Outcome o = RunCli(
            dir, Quoted({"--tx", dir.File("tx.pcm"), "--rx", c.rx, "--out", c.out}) + " " + c.extra,
            "/dev/null");
        EXPECT_EQ(o.status, c.status) << c.rx << " " << c.out << ": " << o.err;
        EXPECT_EQ(o.err.substr(0, c.err.size()), c.err) << c.rx << " " << c.out;
    }
    EXPECT_EQ(fs::file_size(rx), fs::file_size(dir.File("tx.pcm")))
        << "an output naming a capture emptied it";
    RunCli(dir, Quoted({"--tx", dir.File("tx.pcm"), "--rx", rx, "--out", "-"}),
           "/dev/stdout | cat >" + dir.File("piped"));
    EXPECT_EQ(fs::file_size(dir.File("piped")), fs::file_size(rx));
}

// The binary with its stdout on descriptor fd, the captures' samples going there (--out -);
// its wait status.
int RunToDescriptor(const TempDir& dir, int fd, int closeInChild)
{
    const pid_t child = fork();
    if (child == 0) {
        dup2(fd, STDOUT_FILENO);
        close(closeInChild);
        std::freopen("/dev/null", "w", stderr);
        execl(TARNWELL_CLI_PATH, "tarnwell-cli", "--tx", dir.File("tx.pcm").c_str(), "--rx",
              dir.File("rx.pcm").c_str(), "--out", "-", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fd);
    int wstatus = 0;
    waitpid(child, &wstatus, 0);
    return wstatus;
}

// --out - writes descriptor 1 as the shell gave it: appended to, a socket, or a pipe whose
// reader goes away (the process then dies of SIGPIPE, as other Unix tools do: 141 in a shell).
TEST(CliBinary, SamplesToStdoutGoWhereStdoutIsWithoutReopeningIt)
{
    const TempDir dir;
    ASSERT_EQ(RunCli(dir, Captures(dir, 0)).status, 0);
    const std::string rx = Slurp(dir.File("out.pcm"));  // what the run writes to a file
    ASSERT_GT(rx.size(), 100u);
    {
        std::ofstream(dir.File("kept.bin")) << "earlier contents\n";
        const int wstatus = RunToDescriptor(dir, open(dir.File("kept.bin").c_str(), O_WRONLY | O_APPEND), -1);
        EXPECT_TRUE(WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0) << "appended";
        EXPECT_TRUE(Slurp(dir.File("kept.bin")) == "earlier contents\n" + rx) << "appended";
    }
    for (const bool socket : {true, false}) {
        int ends[2] = {-1, -1};
        ASSERT_EQ(socket ? socketpair(AF_UNIX, SOCK_STREAM, 0, ends) : pipe(ends), 0);
        std::string got;
        std::thread reader([&] {
            char buffer[4096];
            for (ssize_t n; (n = read(ends[0], buffer, socket ? sizeof buffer : 100 - got.size())) > 0;) {
                got.append(buffer, static_cast<std::size_t>(n));
                if (!socket && got.size() == 100) {
                    break;  // as head -c 100 does
                }
            }
            close(ends[0]);
        });
        const int wstatus = RunToDescriptor(dir, ends[1], ends[0]);
        reader.join();
        if (socket) {
            EXPECT_TRUE(WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0) << "socket";
            EXPECT_TRUE(got == rx) << "socket: " << got.size() << " bytes";
        } else {
            EXPECT_TRUE(WIFSIGNALED(wstatus) && WTERMSIG(wstatus) == SIGPIPE) << "closed pipe: " << wstatus;
            EXPECT_TRUE(got == rx.substr(0, 100));
        }
    }
}

TEST(CliBinary, PicturesThatCannotBeDrawnStillLeaveTheReportAndExitWithOne)
{
    const TempDir dir;
    std::ofstream(dir.File("pfile")) << "a file, not a folder";
    const Outcome o = RunCli(dir, Captures(dir) + Quoted({"--plots", dir.File("pfile") + "/x"}));
    EXPECT_EQ(o.status, 1) << o.err;
    EXPECT_THAT(o.out, HasSubstr("Status                  Finished"));
    EXPECT_THAT(o.err, HasSubstr("--plots: " + dir.File("pfile") + "/x: Not a directory"));
    EXPECT_GT(fs::file_size(dir.File("out.pcm")), 0u);
}

TEST(CliBinary, AFailedWriteLeavesTheOutputEmpty)
{
    const TempDir dir;
    // 64 blocks of 512 bytes: the output stops partway, the rest of the run goes on.
    const Outcome o = RunCli(dir, Captures(dir), "/dev/null", "ulimit -f 64; ");
    EXPECT_EQ(o.status, 1);
    EXPECT_THAT(o.err, HasSubstr("Cannot write the output file"));
    EXPECT_EQ(fs::file_size(dir.File("out.pcm")), 0u);
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

TEST(CliBinary, PlotsWriteEachViewAsCsvWithUnitsAndAsPicturesWithoutADisplay)
{
    const TempDir dir;
    const Outcome outcome = RunCli(dir, Captures(dir) + Quoted({"--plots", dir.File("plots")}), "",
                                   "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ");
    EXPECT_EQ(outcome.status, TARNWELL_CLI_DRAWS ? 0 : 1);
    const std::pair<const char*, const char*> views[] = {
        {"echo-path", "delay_samples,delay_ms,weight_q15"},
        {"delay-search", "lag_samples,lag_ms,abs_correlation"},
        {"levels", "time_s,tx_dBm0,rx_dBm0,output_dBm0,cancellation_dB,mode,adapt_state,"
                   "nlp_acted,counted,level_frame,rx_level_frame"},
        {"delay-over-time", "time_s,delay_samples,peak_to_median,counts"},
        {"echo-path-by-frequency", "frequency_hz,erl_db,coherence"}};
    for (const auto& [stem, header] : views) {
        const std::string base = (fs::path(dir.File("plots")) / stem).string();
        const std::string csv = Slurp(base + ".csv");
        EXPECT_EQ(csv.substr(0, csv.find('\n')), header);
        if (stem == "echo-path"s) {
            EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 1 + 64);  // one row per tap of tail 64
        }
        for (const char* picture : {".svg", ".png"}) {
            std::error_code missing;
            EXPECT_EQ(fs::file_size(base + picture, missing) > 1000 && !missing, TARNWELL_CLI_DRAWS != 0)
                << base + picture;
        }
    }
}

TEST(CliBinary, PlotsWithoutThePictureModuleWriteTheCsvAndSayWhereTheyLooked)
{
    const TempDir dir;
    const std::string module = dir.File("no-such-module.so");
    const Outcome outcome = RunCli(dir, Captures(dir) + Quoted({"--plots", dir.File("plots")}), "",
                                   "TARNWELL_CHARTS_MODULE='" + module + "' ");
    EXPECT_EQ(outcome.status, 1);
    EXPECT_THAT(outcome.err, HasSubstr("--plots: this build draws no pictures"));
    EXPECT_THAT(outcome.err, HasSubstr(module + ": "));
    EXPECT_THAT(outcome.err, HasSubstr("No such file"));  // the loader's own reason
    for (const char* stem : {"echo-path", "delay-search", "levels"}) {
        EXPECT_TRUE(fs::exists(fs::path(dir.File("plots")) / (stem + ".csv"s))) << stem;
    }
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
    // The whitened search: FFT figures, pinned with a tolerance.
    const json& whitened = analysis.at("whitenedDelay");
    EXPECT_EQ(whitened.at("peakLag"), 110);
    EXPECT_NEAR(whitened.at("peak").get<double>(), 1.0, 0.3);
    EXPECT_GT(whitened.at("peak").get<double>(), 16.0 * whitened.at("median").get<double>());
    const json& track = analysis.at("delayTrack");
    ASSERT_EQ(track.at("lag").size(), track.at("time").size());
    ASSERT_FALSE(track.at("lag").empty());
    for (const auto& lag : track.at("lag")) {
        EXPECT_NEAR(lag.get<double>(), 110.0, 1.0);
    }
    ASSERT_FALSE(analysis.at("findings").empty());
    for (const auto& finding : analysis.at("findings")) {
        EXPECT_TRUE(finding.at("code").is_string() && finding.at("text").is_string());
        EXPECT_TRUE(finding.at("severity") == "info" || finding.at("severity") == "warning");
    }
}

TEST(JsonReport, KeepsEveryBitAndNonFiniteValuesAndReplacesTextThatIsNotUtf8)
{
    constexpr double kInf = std::numeric_limits<double>::infinity();
    CliOptions options;
    options.settings.txPath = "captures/\xff.pcm";
    const json failed = json::parse(
        DumpJson(JsonReport(options, CliRun{}, "Test failed", {"first", "second"})));
    EXPECT_EQ(failed["settings"]["txPath"], "captures/\xEF\xBF\xBD.pcm");
    EXPECT_EQ(failed["messages"], json::array({"first", "second"}));
    EXPECT_EQ(std::tie(failed["ok"], failed["report"]), std::make_tuple(false, nullptr));

    CliRun run;
    run.ok = true;
    run.results = {92,    25.253333333333334,
                   12.5,  -20.000000000000004,
                   -kInf, std::numeric_limits<double>::quiet_NaN(),
                   1,     1,
                   0,     1};
    run.report = MakeReport(run.results, 0);
    const json parsed = json::parse(DumpJson(JsonReport(CliOptions{}, run, "Finished", {})));
    EXPECT_EQ(parsed["results"],
              json::parse(R"({"delay":92,"cancellation":25.253333333333334,"erl":12.5,)"
                          R"("txLevel":-20.000000000000004,"rxLevel":"-Infinity","residualLevel":"NaN",)"
                          R"("delayOk":1,"erlOk":1,"levelsOk":0,"residualOk":1})"));
    EXPECT_TRUE(parsed["report"].is_object());
}
