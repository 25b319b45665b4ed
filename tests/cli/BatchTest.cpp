// tarnwell-cli batch: a folder of ports (rows, order, exit status, the same bytes from one
// thread as from two) and manifest cells over command-line options.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>
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
    std::ostringstream out, err;
    const int status = BatchMain(static_cast<int>(argv.size()), argv.data(), out, err, false);
    return {status, out.str(), err.str()};
}

std::string Slurp(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

std::map<std::string, std::string> Contents(const fs::path& folder)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(folder)) {
        files[entry.path().filename().string()] = Slurp(entry.path());
    }
    return files;
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
    const std::string outDir = dir.File("out");
    const Outcome single = Batch({(dir.path() / "site").string(), "--out-dir", outDir, "-j", "1"});
    const auto singleFiles = Contents(outDir);
    fs::remove_all(outDir);
    const Outcome outcome = Batch({(dir.path() / "site").string(), "--out-dir", outDir, "-j", "2"});
    EXPECT_EQ(outcome.status, kExitRunFailed) << outcome.err;
    EXPECT_EQ(std::tie(single.status, single.out), std::tie(outcome.status, outcome.out));
    EXPECT_EQ(Contents(outDir), singleFiles);
    EXPECT_EQ(singleFiles.size(), 8u);  // six outputs and two summaries

    // Failed runs by name, then the CHECK, then the OK ports by rising cancellation.
    const json summary = json::parse(Slurp(fs::path(outDir) / "summary.json"));
    const json& rows = summary["rows"];
    std::vector<std::string> order, results;
    for (const json& row : rows) {
        order.push_back(row["port"]);
        results.push_back(row["result"]);
    }
    EXPECT_EQ(order, (Args{"lonely", "silent", "late", "charlie", "alpha", "bravo"}));
    EXPECT_EQ(results, (Args{"FAILED", "FAILED", "CHECK", "OK", "OK", "OK"}));
    EXPECT_EQ(rows[0]["messages"], json::array({"no Rx capture for port lonely"}));
    EXPECT_EQ(rows[1]["messages"], json::array({testmessages::kDelayFailed}));
    EXPECT_EQ(rows[2]["results"]["delayOk"], 0);
    EXPECT_LT(rows[3]["results"]["cancellation"].get<double>(), rows[4]["results"]["cancellation"].get<double>());
    EXPECT_LT(rows[4]["results"]["cancellation"].get<double>(), rows[5]["results"]["cancellation"].get<double>());
    EXPECT_EQ(std::tie(summary["ports"], summary["ok"], summary["check"], summary["failed"]),
              std::make_tuple(6, 3, 1, 2));

    // The CSV and the table list the same ports in the same order.
    std::istringstream csv(Slurp(fs::path(outDir) / "summary.csv")), table(outcome.out);
    std::string csvLine, tableLine;
    std::getline(csv, csvLine);
    std::getline(table, tableLine);
    EXPECT_TRUE(csvLine.starts_with("port,result,") && csvLine.ends_with(",findings")) << csvLine;
    for (const std::string& port : order) {
        ASSERT_TRUE(std::getline(csv, csvLine) && std::getline(table, tableLine));
        EXPECT_TRUE(csvLine.starts_with(port + ",") && tableLine.starts_with(port + " ")) << csvLine << tableLine;
    }
    EXPECT_EQ(Slurp(fs::path(outDir) / "alpha.pcm").size(), fs::file_size(dir.path() / "site" / "alpha_tx.pcm"));
    EXPECT_EQ(fs::file_size(fs::path(outDir) / "silent.pcm"), 0u);

    // Only OK ports: exit status 0.
    for (const char* name : {"late_tx.pcm", "late_rx.pcm", "silent_tx.pcm", "silent_rx.pcm", "lonely_tx.pcm"}) {
        fs::remove(dir.path() / "site" / name);
    }
    EXPECT_EQ(Batch({(dir.path() / "site").string(), "--out-dir", outDir}).status, kExitOk);
}

TEST(Batch, PlotsAreDrawnOnTheCallingThreadPortByPortAndAFailedPictureFailsTheBatch)
{
    const testcaptures::TempDir dir;
    WriteSite(dir.path() / "site");
    const std::string outDir = dir.File("out");
    const std::string site = (dir.path() / "site").string();
    for (const bool drawable : {true, false}) {
        std::vector<std::thread::id> drawnOn;
        const PictureWriter writer = [&](const std::vector<ChartView>& views, const std::string&, std::string& error) {
            drawnOn.push_back(std::this_thread::get_id());
            error = "disk full";
            return drawable && views.size() == 3;
        };
        std::vector<const char*> argv{"batch", site.c_str(), "--out-dir", outDir.c_str(), "--plots", "-j", "2"};
        std::ostringstream out, err;
        const int status = BatchMain(static_cast<int>(argv.size()), argv.data(), out, err, false, writer);
        EXPECT_EQ(status, kExitRunFailed);
        int withCsv = 0;
        for (const char* port : {"alpha", "bravo", "charlie", "late", "silent", "lonely"}) {
            withCsv += fs::exists(fs::path(outDir) / port / "levels.csv") ? 1 : 0;
        }
        EXPECT_EQ(drawnOn, std::vector<std::thread::id>(static_cast<std::size_t>(withCsv), std::this_thread::get_id()));
        if (drawable) {
            EXPECT_EQ(withCsv, 5);   // every port whose captures were read
            EXPECT_THAT(out.str(), ::testing::HasSubstr("6 ports"));
        } else {
            EXPECT_EQ(withCsv, 1);   // the first failure ends the drawing
            EXPECT_THAT(err.str(), ::testing::HasSubstr(": --plots: disk full"));
        }
        fs::remove_all(outDir);
    }
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

}  // namespace
