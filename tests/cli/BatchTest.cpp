// tarnwell-cli batch: pairs found by name in a folder, failed and CHECK ports first in every
// summary, exit statuses, manifest cells over command-line options, and the same bytes from
// one thread as from two.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <sndfile.h>

#include "cli/Batch.h"
#include "engine/TestMessages.h"
#include "support/SyntheticCaptures.h"

using namespace tarnwell;

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using Args = std::vector<std::string>;
using testcaptures::Samples;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

Outcome Batch(const Args& args)
{
    std::vector<const char*> argv{"batch"};
    for (const auto& a : args) {
        argv.push_back(a.c_str());
    }
    std::ostringstream out;
    std::ostringstream err;
    const int status = BatchMain(static_cast<int>(argv.size()), argv.data(), out, err, false);
    return {status, out.str(), err.str()};
}

std::string Slurp(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

// Every file of a folder by name, with its bytes.
std::map<std::string, std::string> Contents(const fs::path& folder)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(folder)) {
        files[entry.path().filename().string()] = Slurp(entry.path());
    }
    return files;
}

// 6 s of half-second bursts at about -15 dBm0.
Samples Tx(std::uint32_t seed) { return testcaptures::Bursts(48000, 2848.0, 4000, 0.0, seed); }

// rx with line noise of the given rms added.
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

TEST(Batch, AFolderGivesOneRowPerPortWorstFirstInEverySummaryAndExitsWithOne)
{
    const testcaptures::TempDir dir;
    WriteSite(dir.path() / "site");
    const std::string outDir = dir.File("out");
    const Outcome outcome = Batch({(dir.path() / "site").string(), "--out-dir", outDir, "-j", "2"});
    EXPECT_EQ(outcome.status, kExitRunFailed) << outcome.err;

    // Failed runs by name, then the CHECK, then the OK ports by rising cancellation.
    const json summary = json::parse(Slurp(fs::path(outDir) / "summary.json"));
    std::vector<std::string> order, results;
    for (const json& row : summary["rows"]) {
        order.push_back(row["port"]);
        results.push_back(row["result"]);
    }
    EXPECT_EQ(order, (std::vector<std::string>{"lonely", "silent", "late", "charlie", "alpha", "bravo"}));
    EXPECT_EQ(results, (std::vector<std::string>{"FAILED", "FAILED", "CHECK", "OK", "OK", "OK"}));
    const json& rows = summary["rows"];
    EXPECT_EQ(rows[0]["messages"], json::array({"no Rx capture for port lonely"}));
    EXPECT_EQ(rows[1]["messages"], json::array({testmessages::kDelayFailed}));
    EXPECT_EQ(rows[2]["results"]["delayOk"], 0);
    EXPECT_LT(rows[3]["results"]["cancellation"].get<double>(), rows[4]["results"]["cancellation"].get<double>());
    EXPECT_LT(rows[4]["results"]["cancellation"].get<double>(), rows[5]["results"]["cancellation"].get<double>());
    EXPECT_EQ(std::tie(summary["ports"], summary["ok"], summary["check"], summary["failed"]),
              std::make_tuple(6, 3, 1, 2));

    // The CSV and the table list the same ports in the same order.
    std::istringstream csv(Slurp(fs::path(outDir) / "summary.csv"));
    std::istringstream table(outcome.out);
    std::string csvLine, tableLine;
    std::getline(csv, csvLine);
    std::getline(table, tableLine);
    EXPECT_TRUE(csvLine.starts_with("port,result,") && csvLine.ends_with(",findings")) << csvLine;
    ASSERT_EQ(order.size(), 6u);
    for (const std::string& port : order) {
        ASSERT_TRUE(std::getline(csv, csvLine) && std::getline(table, tableLine));
        EXPECT_TRUE(csvLine.starts_with(port + ",")) << csvLine;
        EXPECT_TRUE(tableLine.starts_with(port + " ")) << tableLine;
    }
    EXPECT_EQ(Slurp(fs::path(outDir) / "alpha.pcm").size(), fs::file_size(dir.path() / "site" / "alpha_tx.pcm"));
    EXPECT_EQ(fs::file_size(fs::path(outDir) / "silent.pcm"), 0u);

    // Only OK ports: exit status 0.
    for (const char* name : {"late", "silent", "lonely"}) {
        for (const auto& entry : fs::directory_iterator(dir.path() / "site")) {
            if (entry.path().filename().string().starts_with(name)) {
                fs::remove(entry.path());
            }
        }
    }
    EXPECT_EQ(Batch({(dir.path() / "site").string(), "--out-dir", outDir}).status, kExitOk);
}

TEST(Batch, OneThreadAndTwoWriteTheSameBytes)
{
    const testcaptures::TempDir dir;
    WriteSite(dir.path() / "site");
    const Args args{(dir.path() / "site").string(), "--out-dir", dir.File("out")};
    Args one = args, two = args;
    one.insert(one.end(), {"-j", "1"});
    two.insert(two.end(), {"-j", "2"});
    const Outcome first = Batch(one);
    const auto firstFiles = Contents(dir.File("out"));
    fs::remove_all(dir.File("out"));
    const Outcome second = Batch(two);
    EXPECT_EQ(std::tie(second.status, second.out), std::tie(first.status, first.out));
    EXPECT_EQ(Contents(dir.File("out")), firstFiles);
    EXPECT_EQ(firstFiles.size(), 8u);  // six outputs and two summaries
}

TEST(Batch, ManifestCellsOverrideTheCommandLineWhichOverridesTheDevicePresets)
{
    const testcaptures::TempDir dir;
    const Samples tx = Tx(3);
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
    const Outcome outcome = Batch({dir.File("site.csv"), "--out-dir", outDir, "--tail", "200", "--nlp-diff", "10",
                                   "--tx-channel", "1", "-j", "2"});
    EXPECT_EQ(outcome.status, kExitRunFailed) << outcome.err;

    // device, delay, tail, NLP diff, NLP shift, high-pass, Tx channel
    using Fields = std::tuple<int, int, int, int, int, int, int>;
    const std::map<std::string, Fields> expected{
        {"plain", {0, 100, 200, 10, 3, 1, 1}},  // row 0's delay, the command line's tail
        {"row7", {7, 180, 200, 10, 3, 1, 1}},   // row 7's delay preset, still the command line's tail
        {"cells", {2, 0, 300, 20, 5, 0, 1}},
        {"st,ereo", {0, 100, 200, 10, 3, 1, 1}}};
    const json summary = json::parse(Slurp(fs::path(outDir) / "summary.json"));
    std::map<std::string, Fields> seen;
    for (const json& row : summary["rows"]) {
        const json& s = row["settings"];
        if (row["port"] == "bad") {
            EXPECT_EQ(row["messages"], json::array({"manifest row 6: delay 'ten' is not a whole number"}));
            continue;
        }
        EXPECT_EQ(row["ok"], true) << row.dump();
        seen[row["port"]] = {s["deviceType"], s["delay"], s["tail"], s["nlpDiff"], s["nlpShift"], s["highPass"],
                             s["txChannel"]};
    }
    EXPECT_EQ(seen, expected);
    const json& stereo = *std::find_if(summary["rows"].begin(), summary["rows"].end(),
                                       [](const json& r) { return r["port"] == "st,ereo"; });
    EXPECT_EQ(stereo["results"]["delay"], 110);  // Tx in channel 1, as --tx-channel says
}

TEST(Batch, UsageErrorsExitWithTwo)
{
    const testcaptures::TempDir dir;
    std::ofstream(dir.File("unknown.csv")) << "port,tx,rx,colour\n";
    std::ofstream(dir.File("short.csv")) << "port,tx\n";
    fs::create_directories(dir.path() / "empty");
    const Args cases[] = {{}, {dir.File("missing")}, {dir.File("unknown.csv")}, {dir.File("short.csv")},
                          {(dir.path() / "empty").string()}, {(dir.path() / "empty").string(), "-j", "0"}};
    for (const Args& args : cases) {
        const Outcome outcome = Batch(args);
        EXPECT_EQ(outcome.status, kExitUsage) << ::testing::PrintToString(args);
        EXPECT_FALSE(outcome.err.empty());
        EXPECT_EQ(outcome.out, "");
    }
}

}  // namespace
