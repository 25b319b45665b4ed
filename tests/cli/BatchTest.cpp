// tarnwell-cli batch: a folder of ports (rows, order, exit status, the same bytes from one
// thread as from two, pictures drawn on the calling thread), manifest cells over command-line
// options, the manifest's CSV, files that no port may write over, and a signal mid-batch.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <thread>

#include <nlohmann/json.hpp>
#include <sndfile.h>

#include "CliCall.h"
#include "cli/Batch.h"
#include "engine/TestMessages.h"
#include "support/SyntheticCaptures.h"

using namespace tarnwell;
using namespace clicall;
using namespace std::string_literals;
using ::testing::HasSubstr;

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using testcaptures::Samples;

Outcome Batch(const Args& args) { return Call("batch", args); }

std::map<std::string, std::string> Contents(const fs::path& folder)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(folder)) {
        files[entry.path().filename().string()] = Slurp(entry.path());
    }
    return files;
}

// A CSV's records, each a list of cells with the quotes undone.
std::vector<Args> CsvRecords(const std::string& text)
{
    std::vector<Args> records(1, Args(1));
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"' && quoted && i + 1 < text.size() && text[i + 1] == '"') {
            records.back().back() += text[++i];
        } else if (c == '"') {
            quoted = !quoted;
        } else if (!quoted && c == ',') {
            records.back().emplace_back();
        } else if (!quoted && c == '\n') {
            records.emplace_back(1);
        } else if (quoted || c != '\r') {
            records.back().back() += c;
        }
    }
    records.pop_back();  // after the last line feed
    return records;
}

// summary.json's rows by port name.
std::map<std::string, json> RowsByPort(const json& summary)
{
    std::map<std::string, json> rows;
    for (const json& row : summary["rows"]) {
        rows[row["port"]] = row;
    }
    return rows;
}

Samples Noisy(const Samples& rx, double rms)
{
    const Samples noise = testcaptures::Noise(static_cast<int>(rx.size()), rms, 1);
    Samples out(rx.size());
    for (std::size_t i = 0; i < rx.size(); ++i) {
        out[i] = testcaptures::ClampSample(rx[i] + noise[i]);
    }
    return out;
}
// A site of six ports made from the shipped captures, which row 0 (delay 100, tail 64) passes
// with every verdict OK: three with more or less line noise on Rx, so less or more
// cancellation; one whose echo comes 300 samples later, outside that window; one with a
// silent Rx (no echo to find) and one without its Rx capture.
void WriteSite(const fs::path& site)
{
    const fs::path samples = TARNWELL_SAMPLES_DIR;
    const Samples tx = testcaptures::ReadPcm(samples / "tx.pcm");
    const Samples rx = testcaptures::ReadPcm(samples / "rx.pcm");
    fs::create_directories(site / "tx");
    fs::create_directories(site / "rx");
    testcaptures::WritePcm(site / "alpha_tx.pcm", tx);
    testcaptures::WritePcm(site / "alpha_rx.raw", Noisy(rx, 10.0));
    testcaptures::WritePcm(site / "bravo_tx.pcm", tx);
    testcaptures::WritePcm(site / "bravo_rx.pcm", rx);
    testcaptures::WritePcm(site / "tx" / "charlie.pcm", tx);  // the other layout
    testcaptures::WritePcm(site / "rx" / "charlie.pcm", Noisy(rx, 30.0));
    Samples late(300, 0);
    late.insert(late.end(), rx.begin(), rx.end() - 300);
    testcaptures::WritePcm(site / "late_tx.pcm", tx);
    testcaptures::WritePcm(site / "late_rx.pcm", late);
    testcaptures::WritePcm(site / "silent_tx.pcm", tx);
    testcaptures::WritePcm(site / "silent_rx.pcm", Samples(rx.size(), 0));
    testcaptures::WritePcm(site / "lonely_tx.pcm", tx);
}

TEST(Batch, AFolderGivesOneRowPerPortWorstFirstInEverySummaryTheSameWithOneThreadOrTwo)
{
    const testcaptures::TempDir dir;
    WriteSite(dir.path() / "site");
    const std::string site = (dir.path() / "site").string(), outDir = dir.File("out");
    // Pictures are drawn on the calling thread, port by port; each one fails here, which costs
    // only that port's pictures: the CSV, the summaries and the other ports are written.
    std::vector<std::thread::id> drawnOn;
    const PictureWriter writer = [&](const std::vector<ChartView>& views, const std::string&,
                                     std::string& error) {
        drawnOn.push_back(std::this_thread::get_id());
        EXPECT_EQ(views.size(), 5u);  // echo path, delay search, levels, delay over time, by frequency
        error = "disk full";
        return false;
    };
    const Outcome single = Call("batch", {site, "--out-dir", outDir, "-j", "1", "--plots"}, writer);
    const auto singleFiles = Contents(outDir);
    fs::remove_all(outDir);
    const Outcome outcome = Call("batch", {site, "--out-dir", outDir, "-j", "2", "--plots"}, writer);
    EXPECT_EQ(outcome.status, kExitRunFailed) << outcome.err;
    EXPECT_EQ(std::tie(single.status, single.out), std::tie(outcome.status, outcome.out));
    EXPECT_EQ(Contents(outDir), singleFiles);
    EXPECT_EQ(singleFiles.size(), 13u);  // six outputs, two summaries, five ports' views
    EXPECT_EQ(drawnOn, std::vector<std::thread::id>(10, std::this_thread::get_id()));
    for (const std::string port : {"alpha", "bravo", "charlie", "late", "silent", "lonely"}) {
        EXPECT_EQ(fs::exists(fs::path(outDir) / port / "levels.csv"), port != "lonely") << port;
        EXPECT_EQ(outcome.err.find(port + ": --plots: disk full") == std::string::npos, port == "lonely")
            << port;
    }

    // Failed runs by name, then the CHECK, then the OK ports by rising cancellation.
    const json summary = json::parse(Slurp(fs::path(outDir) / "summary.json"));
    const json& rows = summary["rows"];
    Args order, results;
    for (const json& row : rows) {
        order.push_back(row["port"]);
        results.push_back(row["result"]);
    }
    EXPECT_EQ(order, (Args{"lonely", "silent", "late", "charlie", "alpha", "bravo"}));
    EXPECT_EQ(results, (Args{"FAILED", "FAILED", "CHECK", "OK", "OK", "OK"}));
    EXPECT_EQ(rows[0]["messages"], json::array({"no Rx capture for port lonely"}));
    EXPECT_EQ(rows[1]["messages"], json::array({testmessages::kDelayFailed}));
    for (const int i : {3, 4}) {
        EXPECT_LT(rows[i]["results"]["cancellation"].get<double>(),
                  rows[i + 1]["results"]["cancellation"].get<double>());
    }
    EXPECT_EQ(std::tie(summary["ports"], summary["ok"], summary["check"], summary["failed"]),
              std::make_tuple(6, 3, 1, 2));

    // The CSV and the table list the same ports in the same order.
    const std::vector<Args> csv = CsvRecords(Slurp(fs::path(outDir) / "summary.csv"));
    ASSERT_EQ(csv.size(), 1 + order.size());
    EXPECT_TRUE(csv[0][0] == "port" && csv[0][1] == "result" && csv[0].back() == "not_measured");
    std::istringstream table(outcome.out);
    std::string line;
    std::getline(table, line);
    for (std::size_t i = 0; i < order.size(); ++i) {
        EXPECT_EQ(csv[i + 1][0], order[i]);
        EXPECT_TRUE(std::getline(table, line) && line.starts_with(order[i] + " ")) << line;
    }
    EXPECT_EQ(Slurp(fs::path(outDir) / "alpha.pcm").size(),
              fs::file_size(dir.path() / "site" / "alpha_tx.pcm"));
    EXPECT_EQ(fs::file_size(fs::path(outDir) / "silent.pcm"), 0u);

    // Only OK ports: exit status 0.
    for (const char* name :
         {"late_tx.pcm", "late_rx.pcm", "silent_tx.pcm", "silent_rx.pcm", "lonely_tx.pcm"}) {
        fs::remove(dir.path() / "site" / name);
    }
    EXPECT_EQ(Batch({site, "--out-dir", outDir}).status, kExitOk);
}

TEST(Batch, ManifestCellsOverrideTheCommandLineWhichOverridesTheDevicePresets)
{
    const testcaptures::TempDir dir;
    const Samples tx = testcaptures::Bursts(48000, 2848.0, 4000, 0.0, 3);
    const Samples rx = testcaptures::Echo(tx, 110, 12.0, 8.0);
    testcaptures::WritePcm(dir.path() / "tx.pcm", tx);
    testcaptures::WritePcm(dir.path() / "rx.pcm", rx);
    {
        SF_INFO info{0, 8000, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0, 0};
        Samples frames;
        for (std::size_t i = 0; i < tx.size(); ++i) {
            frames.insert(frames.end(), {rx[i], tx[i]});
        }
        SNDFILE* file = sf_open(dir.File("pair.wav").c_str(), SFM_WRITE, &info);
        sf_writef_short(file, frames.data(), static_cast<sf_count_t>(tx.size()));
        sf_close(file);
    }
    // Relative paths are the manifest's folder's; a quoted cell may hold a comma.
    std::ofstream(dir.File("site.csv"))
        << "port,tx,rx,device,delay,tail,nlp_diff,nlp_shift,high_pass,stereo\n"
           "plain,tx.pcm,rx.pcm,,,,,,,\n"
           "row7,tx.pcm,rx.pcm,7,,,,,,\n"
           "cells,tx.pcm,rx.pcm,2,0,300,20,5,off,\n"
           "\"st,ereo\",,,,,,,,,pair.wav\n"
           "bad,tx.pcm,rx.pcm,,ten,,,,,\n";
    const std::string outDir = dir.File("out");
    const Outcome outcome = Batch({dir.File("site.csv"), "--out-dir", outDir, "--tail", "200", "--nlp-diff",
                                   "10", "--tx-channel", "1", "-j", "2"});
    EXPECT_EQ(outcome.status, kExitRunFailed) << outcome.err;

    // device, delay, tail, NLP diff, NLP shift, high-pass, Tx channel
    using Fields = std::tuple<int, int, int, int, int, int, int>;
    const std::map<std::string, Fields> expected{
        {"plain", {0, 100, 200, 10, 3, 1, 1}},  // row 0's delay, the command line's tail
        {"row7", {7, 180, 200, 10, 3, 1, 1}},   // row 7's delay preset, still the command line's tail
        {"cells", {2, 0, 300, 20, 5, 0, 1}},
        {"st,ereo", {0, 100, 200, 10, 3, 1, 1}}};
    std::map<std::string, json> rows = RowsByPort(json::parse(Slurp(fs::path(outDir) / "summary.json")));
    EXPECT_EQ(rows["bad"]["messages"], json::array({"manifest row 6: delay 'ten' is not a whole number"}));
    rows.erase("bad");
    std::map<std::string, Fields> seen;
    for (const auto& [port, row] : rows) {
        const json& s = row["settings"];
        EXPECT_EQ(row["ok"], true) << row.dump();
        seen[port] = {s["deviceType"], s["delay"],    s["tail"],     s["nlpDiff"],
                      s["nlpShift"],   s["highPass"], s["txChannel"]};
    }
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(rows["st,ereo"]["results"]["delay"], 110);  // Tx in channel 1, as --tx-channel says
}

// The words of `text`, split at spaces.
Args Words(const std::string& text)
{
    Args words;
    std::istringstream in(text);
    for (std::string word; in >> word;) {
        words.push_back(word);
    }
    return words;
}

// Files that no port may write over. Each case lays out its site in a folder ("t:" and "r:"
// copy the shipped Tx and Rx there, "d:" makes a folder, "l:LINK=TARGET" a symbolic link),
// names the captures that must come through untouched, and a port's row must say why it did
// not run.
struct FileSafetyCase {
    const char* name;
    const char* files;
    const char* manifest;  // rows of site.csv (port,tx,rx,tail), or nullptr for the folder s
    const char* flags;     // after the input and --out-dir o
    const char* captures;
    std::string why;      // port>a part of its messages, | between ports
    const char* emptied;  // outputs left empty
};

TEST(BatchFiles, NoCaptureIsWrittenOverAndEachRowThatCannotWriteSaysWhy)
{
    const FileSafetyCase cases[] = {
        {"a capture inside --out-dir", "t:s/tx/p.pcm r:s/rx/p.pcm", nullptr, "--out-dir s/tx",
         "s/tx/p.pcm s/rx/p.pcm", "p>s/tx/p.pcm is the Tx capture", ""},
        {"an output that is another row's input", "t:tx.pcm r:rx.pcm r:o/p1.pcm",
         "p1,tx.pcm,rx.pcm,\np2,tx.pcm,o/p1.pcm,\n", "-j 2", "tx.pcm rx.pcm o/p1.pcm",
         "p1>o/p1.pcm is the Rx capture of port p2", ""},
        {"two ports whose outputs are one file", "t:tx.pcm r:rx.pcm r:o/b.pcm l:o/a.pcm=b.pcm",
         "a,tx.pcm,rx.pcm,\nb,tx.pcm,rx.pcm,\n", "", "tx.pcm rx.pcm", "b>o/b.pcm is the output of port a",
         ""},
        {"p1 beside p1.pcm with pictures", "t:s/p1_tx.pcm r:s/p1_rx.pcm t:s/p1.pcm_tx.pcm r:s/p1.pcm_rx.pcm",
         nullptr, "--plots", "s/p1_tx.pcm s/p1_rx.pcm s/p1.pcm_tx.pcm s/p1.pcm_rx.pcm",
         "p1.pcm>o/p1.pcm is the output of port p1", ""},
        {"a port named summary.csv with pictures", "t:tx.pcm r:rx.pcm", "summary.csv,tx.pcm,rx.pcm,\n",
         "--plots", "tx.pcm rx.pcm", "summary.csv>o/summary.csv is the batch's summary.csv", ""},
        // "Check the files" says why in its detail: folder is a directory.
        {"failed rows with stale outputs, one of them a capture",
         "t:tx.pcm r:rx.pcm r:o/range.pcm r:o/lost.pcm r:o/self.pcm d:folder r:o/dir.pcm",
         "range,tx.pcm,rx.pcm,2000\nlost,none.pcm,rx.pcm,\nself,none.pcm,o/self.pcm,\ndir,tx.pcm,folder,\n",
         "", "tx.pcm rx.pcm o/self.pcm",
         "range>tail '2000' is not from 0 to 1024|lost>Tx capture not found|"
         "self>o/self.pcm is the Rx capture|dir>folder: is a directory",
         "o/range.pcm o/lost.pcm o/dir.pcm"},
    };
    const fs::path samples = TARNWELL_SAMPLES_DIR;
    for (const FileSafetyCase& c : cases) {
        const testcaptures::TempDir dir;
        const fs::path d = dir.path();
        for (const std::string& file : Words(c.files)) {
            const fs::path to = d / file.substr(2, file.find('=') - 2);
            fs::create_directories(file[0] == 'd' ? to : to.parent_path());
            if (file[0] == 'l') {
                fs::create_symlink(file.substr(file.find('=') + 1), to);
            } else if (file[0] != 'd') {
                fs::copy_file(samples / (file[0] == 't' ? "tx.pcm" : "rx.pcm"), to);
            }
        }
        if (c.manifest != nullptr) {
            std::ofstream(d / "site.csv") << "port,tx,rx,tail\n" << c.manifest;
        }
        Args args{(d / (c.manifest != nullptr ? "site.csv" : "s")).string(), "--out-dir", (d / "o").string()};
        const Args flags = Words(c.flags);
        args.insert(args.end(), flags.begin(), flags.end());
        if (flags.size() == 2 && flags[0] == "--out-dir") {
            args = {args[0], "--out-dir", (d / flags[1]).string()};
        }
        std::map<std::string, std::string> before;
        for (const std::string& capture : Words(c.captures)) {
            before[capture] = Slurp(d / capture);
            ASSERT_FALSE(before[capture].empty()) << c.name << ": " << capture;
        }
        const Outcome outcome = Batch(args);
        EXPECT_EQ(outcome.status, kExitRunFailed) << c.name << ": " << outcome.err;
        for (const std::string& capture : Words(c.captures)) {
            EXPECT_EQ(Slurp(d / capture), before[capture]) << c.name << ": " << capture << " changed";
        }
        for (const std::string& output : Words(c.emptied)) {
            EXPECT_EQ(fs::file_size(d / output), 0u) << c.name << ": " << output;
        }
        const fs::path outDir = args[2];
        std::map<std::string, json> rows = RowsByPort(json::parse(Slurp(outDir / "summary.json")));
        for (std::size_t at = 0; at < c.why.size();) {
            const std::size_t end = std::min(c.why.find('|', at), c.why.size()), mark = c.why.find('>', at);
            const std::string port = c.why.substr(at, mark - at),
                              why = c.why.substr(mark + 1, end - mark - 1);
            at = end + 1;
            ASSERT_EQ(rows.count(port), 1u) << c.name << ": " << port;
            EXPECT_THAT(rows[port]["messages"].dump() + rows[port]["detail"].dump(), HasSubstr(why))
                << c.name << ": " << port;
            EXPECT_THAT(outcome.out, HasSubstr(why)) << c.name << ": the table says why";
        }
    }
}

// The manifest as spreadsheets write it, and names that a spreadsheet would run as formulas.
TEST(BatchManifest, ReadsRfc4180WithOrWithoutAByteOrderMarkAndReportsAnOpenQuote)
{
    const struct {
        const char* name;
        std::string text;
        Args ports;         // in order; empty with an error
        std::string error;  // a part of the usage error
    } cases[] = {
        {"BOM", "\xEF\xBB\xBFport,tx,rx\np,t.pcm,r.pcm\n", {"p"}, ""},
        {"CRLF", "port,tx,rx\r\np,t.pcm,r.pcm\r\nq,t.pcm,r.pcm", {"p", "q"}, ""},
        {"quoted newline", "port,tx,rx\n\"a\r\nb\",t.pcm,r.pcm\nc,t.pcm,r.pcm\n", {"a\r\nb", "c"}, ""},
        {"unterminated quote",
         "port,tx,rx\np,t.pcm,r.pcm\n\n\"q,t.pcm,r.pcm\nz,t.pcm,r.pcm\n",
         {},
         "line 4: a quote opened there is never closed"},
        {"formula names",
         "port,tx,rx\n=1+1,t.pcm,r.pcm\n+1+cmd|calc,t.pcm,r.pcm\n-2+3,t.pcm,r.pcm\n@SUM(1+1),t.pcm,r.pcm\n",
         {"=1+1", "+1+cmd|calc", "-2+3", "@SUM(1+1)"},
         ""},
    };
    for (const auto& c : cases) {
        const testcaptures::TempDir dir;
        std::ofstream(dir.File("site.csv"), std::ios::binary) << c.text;
        std::string error;
        const std::vector<BatchPort> ports = ReadManifest(dir.File("site.csv"), BatchDefaults{},
                                                          dir.File("o"), error);
        EXPECT_THAT(error, HasSubstr(c.error)) << c.name;
        EXPECT_EQ(error.empty(), c.error.empty()) << c.name << ": " << error;
        std::vector<BatchRow> rows;
        Args names;
        for (const BatchPort& port : ports) {
            EXPECT_EQ(fs::path(port.options.settings.rxPath).filename(), "r.pcm") << c.name;
            names.push_back(port.name);
            rows.push_back(BatchRow{port.name, port.options, {}, {}, {}, 0, PortVerdict::kFailed});
        }
        EXPECT_EQ(names, c.ports) << c.name;
        // The terminal table keeps one line per port whatever the names hold.
        const std::string table = SummaryTable(rows);
        EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), static_cast<long>(rows.size()) + 1) << c.name;
        // In summary.csv a name is shown, never evaluated.
        const std::vector<Args> csv = CsvRecords(SummaryCsv(rows));
        ASSERT_EQ(csv.size(), names.size() + 1) << c.name;
        for (std::size_t i = 0; i < names.size(); ++i) {
            const bool formula = std::string("=+-@").find(names[i].front()) != std::string::npos;
            EXPECT_EQ(csv[i + 1][0], (formula ? "'" : "") + names[i]) << c.name;
        }
    }
}

// A batch of long ports stopped by SIGTERM: the finished port's output is whole, the running
// one's empty, the rest never start, and the summaries say so.
TEST(BatchSignal, SigtermStopsTheRunningPortSkipsTheRestAndWritesTheSummaries)
{
    const testcaptures::TempDir dir;
    const Samples longTx = testcaptures::Bursts(10 * 60 * 8000, 2848.0, 4000, 0.0, 5);  // seconds of work
    testcaptures::WritePcm(dir.path() / "long_tx.pcm", longTx);
    testcaptures::WritePcm(dir.path() / "long_rx.pcm", testcaptures::Echo(longTx, 110, 12.0, 8.0));
    std::ofstream(dir.File("site.csv"))
        << "port,tx,rx\na," TARNWELL_SAMPLES_DIR "/tx.pcm," TARNWELL_SAMPLES_DIR "/rx.pcm\n"
           "b,long_tx.pcm,long_rx.pcm\nc,long_tx.pcm,long_rx.pcm\n";
    const fs::path out = dir.path() / "o";
    const auto whole = fs::file_size(TARNWELL_SAMPLES_DIR "/rx.pcm");
    const std::string err = dir.File("err");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        setenv("TARNWELL_TAP_LOOP", "plain", 1);
        std::freopen(err.c_str(), "w", stderr);
        std::freopen("/dev/null", "w", stdout);
        execl(TARNWELL_CLI_PATH, "tarnwell-cli", "batch", dir.File("site.csv").c_str(), "--out-dir",
              out.c_str(), "-j", "1", "--tail", "1024", static_cast<char*>(nullptr));
        _exit(127);
    }
    // Once a is whole and b has written its first block.
    std::error_code missing;
    const auto size = [&](const char* name) { return fs::file_size(out / name, missing); };
    for (int i = 0; i < 6000 && !(size("a.pcm") == whole && size("b.pcm") > 0 && !missing); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(child, SIGTERM);
    int wstatus = 0;
    waitpid(child, &wstatus, 0);
    ASSERT_TRUE(WIFEXITED(wstatus)) << "SIGTERM killed the batch";
    EXPECT_EQ(WEXITSTATUS(wstatus), 128 + SIGTERM) << Slurp(err);
    EXPECT_EQ(fs::file_size(out / "a.pcm"), whole);
    EXPECT_EQ(fs::file_size(out / "b.pcm"), 0u);
    EXPECT_EQ(fs::exists(out / "c.pcm") ? fs::file_size(out / "c.pcm") : 0u, 0u);
    std::map<std::string, json> rows = RowsByPort(json::parse(Slurp(out / "summary.json")));
    // The running port stopped at a frame; those after it never started.
    EXPECT_EQ(rows["b"]["messages"], json::array({"interrupted at its next frame; its output is empty"}));
    EXPECT_THAT(rows["a"]["result"],
                ::testing::AnyOf("OK", "CHECK", "NOT MEASURED"));  // whatever its verdicts
    for (const char* port : {"b", "c"}) {
        EXPECT_EQ(rows[port]["result"], "INTERRUPTED") << port;
        EXPECT_TRUE(port == "b"s || rows[port]["messages"] == json::array({"interrupted before it started"}));
    }
    EXPECT_THAT(Slurp(out / "summary.csv"), HasSubstr("\nc,INTERRUPTED,"));
}

// The answer a user reads first, port by port: whole runs on generated captures, each with its
// Result and Message as the batch gives them. A verdict the captures could not measure is
// not a CHECK, and the Message names a refusal's cause before the run's own message.
constexpr int kCount = 160000;  // 20 s

Samples FarEnd(double rms = 2848.0, std::uint32_t seed = 11)
{
    return testcaptures::Bursts(kCount, rms, 1200, 0.0, seed);
}

// Near-end speech in some gaps of the Tx bursts, second half only.
Samples WithNearEnd(Samples rx)
{
    const Samples talk = testcaptures::Noise(kCount, 1500.0, 5);
    for (std::size_t i = kCount / 2; i < kCount; ++i) {
        if ((i / 1200) % 4 == 1) {
            rx[i] = talk[i];
        }
    }
    return rx;
}

struct Port {
    const char* name;
    Samples tx;
    Samples rx;
    const char* result;
    std::string message;     // a regular expression the whole Message must match
    const char* emptyCells;  // summary.csv columns left empty, as figures resting on nothing
    std::string settings;    // a regular expression the settings finding must match; empty: none
};

TEST(BatchAnswers, EachPortReadsItsResultItsSettingsAndItsCauseFirst)
{
    const Samples tx = FarEnd();
    const Samples echo = testcaptures::Echo(tx, 110, 12.0, 8.0);  // inside row 0's window 101-115
    const Samples quiet = FarEnd(800.0, 13);                      // about -26 dBm0
    const std::string kGate = "Echo Return Loss \\(ERL\\) is less than 6 dB\\. Cancellation stopped";
    const std::string kKeep = "Keep bulk delay 100 and tail 64: they cover .*";
    const Port ports[] = {
        {"farend", tx, echo, "NOT MEASURED", "", "rx_level tx_level levels_ok tx_gain_decrease", kKeep},
        {"nearend", tx, WithNearEnd(echo), "OK", "", "", kKeep},
        {"noecho", tx, testcaptures::Noise(kCount, 2000.0, 99), "NOT MEASURED", "No echo found; " + kGate,
         "real_delay erl cancellation minimal_tail", "No setting to advise: Rx holds no echo of Tx.*"},
        {"swapped", echo, tx, "NOT MEASURED", "Tx and Rx look swapped; " + kGate,
         "real_delay erl rx_level minimal_tail",
         "No setting until the captures are the right way round: .*exchange the two files"},
        {"quiettx", quiet, testcaptures::Echo(quiet, 110, 12.0, 5.0), "NOT MEASURED",
         "No 100 ms Tx block lies between -20 and -10 dBm0 \\(the loudest is -2[0-9]\\.[0-9] dBm0\\); " +
             kGate,
         "erl erl_ok cancellation residual_ok", kKeep},
        {"lowerl", tx, testcaptures::Echo(tx, 110, 3.0, 8.0), "CHECK", kGate, "cancellation rx_level", kKeep},
        // Row 0 fixes the bulk delay at 100: the tail reaches the echo at 300.
        {"late", tx, WithNearEnd(testcaptures::Echo(tx, 300, 12.0, 8.0)), "CHECK", "", "",
         "Set tail 2[0-9][0-9] with the bulk delay of 100 that .* fixes: .*"},
        {"short", Samples(tx.begin(), tx.begin() + 16000), Samples(echo.begin(), echo.begin() + 16000),
         "FAILED", "Check the size of input files \\(must be more than 5 sec\\.\\); .*",
         "real_delay levels_ok", ""},
    };
    const testcaptures::TempDir dir;
    fs::create_directories(dir.path() / "site");
    for (const Port& p : ports) {
        testcaptures::WritePcm(dir.path() / "site" / (std::string(p.name) + "_tx.pcm"), p.tx);
        testcaptures::WritePcm(dir.path() / "site" / (std::string(p.name) + "_rx.pcm"), p.rx);
    }
    const std::string outDir = dir.File("out");
    const Outcome outcome = Batch({(dir.path() / "site").string(), "--out-dir", outDir, "-j", "2"});
    EXPECT_EQ(outcome.status, kExitRunFailed) << "two ports read CHECK";

    const json summary = json::parse(Slurp(fs::path(outDir) / "summary.json"));
    std::map<std::string, json> rows = RowsByPort(summary);
    // The CSV's cells by port and column.
    std::map<std::string, std::map<std::string, std::string>> csv;
    const std::vector<Args> records = CsvRecords(Slurp(fs::path(outDir) / "summary.csv"));
    for (std::size_t r = 1; r < records.size(); ++r) {
        ASSERT_EQ(records[r].size(), records[0].size()) << records[r][0];
        for (std::size_t i = 0; i < records[r].size(); ++i) {
            csv[records[r][0]][records[0][i]] = records[r][i];
        }
    }
    for (const Port& p : ports) {
        ASSERT_EQ(rows.count(p.name), 1u) << p.name;
        const json& row = rows[p.name];
        EXPECT_EQ(row["result"], p.result) << p.name;
        EXPECT_THAT(row["message"].get<std::string>(), ::testing::MatchesRegex(p.message)) << p.name;
        // The settings finding comes first, whatever else the port shows.
        const json& first = row["findings"].empty() ? json() : row["findings"][0];
        if (p.settings.empty()) {
            EXPECT_TRUE(first.is_null() || first["code"] != "settings") << p.name;
        } else {
            ASSERT_EQ(first.value("code", ""), "settings") << p.name;
            EXPECT_THAT(first["text"].get<std::string>(), ::testing::MatchesRegex(p.settings)) << p.name;
        }
        // The report's lines keep their text; unmeasured verdicts are null with a reason.
        EXPECT_EQ(row["notMeasured"].empty(), std::string(p.result) == "OK" || std::string(p.name) == "late")
            << p.name;
        for (const json& gap : row["notMeasured"]) {
            EXPECT_TRUE(row["verdicts"][gap["verdict"].get<std::string>()].is_null()) << p.name;
            EXPECT_FALSE(gap["reason"].get<std::string>().empty()) << p.name;
            if (std::string(p.result) != "FAILED") {  // summary.csv names it too
                EXPECT_THAT(csv[p.name]["not_measured"], HasSubstr(gap["verdict"].get<std::string>()))
                    << p.name;
            }
        }
        for (const std::string& column : Words(p.emptyCells)) {
            EXPECT_EQ(csv[p.name][column], "") << p.name << ": " << column;
        }
        EXPECT_TRUE(csv[p.name]["real_delay"] != "" || p.result == "NOT MEASURED"s || p.result == "FAILED"s)
            << p.name;
    }
    EXPECT_EQ(rows["farend"]["notMeasured"][0]["reason"],
              "no near-end speech in the second half: talk at the far end of the line for the last third of "
              "the capture, or ignore the levels row");
    EXPECT_EQ(std::tie(summary["ok"], summary["check"], summary["notMeasured"]), std::make_tuple(1, 2, 4));

    // Worst first: FAILED, CHECK, then NOT MEASURED, then OK; no figure resting on no echo.
    Args order;
    for (const json& row : summary["rows"]) {
        order.push_back(row["result"]);
    }
    EXPECT_EQ(order, (Args{"FAILED", "CHECK", "CHECK", "NOT MEASURED", "NOT MEASURED", "NOT MEASURED",
                           "NOT MEASURED", "OK"}));
    std::istringstream table(outcome.out);
    for (std::string line; std::getline(table, line);) {
        if (line.starts_with("noecho ") || line.starts_with("swapped ")) {
            EXPECT_THAT(line, ::testing::ContainsRegex("dBm?,? [A-Za-z ]*-  +-  +(No|Tx)")) << line;
        }
    }
}

// A healthy port with far-end speech only passes --fail-on-check and fails --fail-on-unmeasured,
// in a batch and in a single run alike.
TEST(BatchAnswers, FarEndOnlyPortsPassFailOnCheckAndFailFailOnUnmeasured)
{
    const testcaptures::TempDir dir;
    fs::create_directories(dir.path() / "site");
    const std::string tx = dir.File("site/p_tx.pcm"), rx = dir.File("site/p_rx.pcm");
    testcaptures::WritePcm(tx, FarEnd());
    testcaptures::WritePcm(rx, testcaptures::Echo(FarEnd(), 110, 12.0, 8.0));
    const std::pair<Args, int> cases[] = {
        {{}, kExitOk}, {{"--fail-on-check"}, kExitOk}, {{"--fail-on-unmeasured"}, kExitRunFailed}};
    for (const auto& [flags, status] : cases) {
        Args batch{dir.File("site"), "--out-dir", dir.File("out")},
            run{"--tx", tx, "--rx", rx, "--out", dir.File("o.pcm")};
        batch.insert(batch.end(), flags.begin(), flags.end());
        run.insert(run.end(), flags.begin(), flags.end());
        const Outcome outcome = Batch(batch), single = Call("run", run);
        EXPECT_EQ(std::tie(outcome.status, single.status), std::tie(status, status))
            << ::testing::PrintToString(flags);
        EXPECT_THAT(outcome.out, HasSubstr("1 ports: 0 OK, 0 CHECK, 1 NOT MEASURED, 0 failed"));
        EXPECT_THAT(single.out, HasSubstr("Not Available"));  // the report's line as it was
    }
}

}  // namespace
