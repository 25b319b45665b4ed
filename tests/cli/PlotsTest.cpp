// --plots and the analysis in --json, through the real binary with no display at all.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "support/SyntheticCaptures.h"

using namespace tarnwell;

namespace {

struct Outcome {
    int status = -1;
    std::string out;
};

// The binary with the display variables removed, stdout into a file.
Outcome RunWithoutDisplay(const testcaptures::TempDir& dir, const std::string& options)
{
    const testcaptures::Samples tx = testcaptures::Bursts(48000, 2848.0, 4000, 0.0, 7);
    testcaptures::WritePcm(dir.File("tx.pcm"), tx);
    testcaptures::WritePcm(dir.File("rx.pcm"), testcaptures::Echo(tx, 110, 12.0, 8.0, 11));
    const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM '" +
                                std::string(TARNWELL_CLI_PATH) + "' --tx '" + dir.File("tx.pcm") +
                                "' --rx '" + dir.File("rx.pcm") + "' --out '" + dir.File("out.pcm") +
                                "' " + options + " </dev/null >'" + dir.File("stdout") + "' 2>/dev/null";
    const int wstatus = std::system(command.c_str());
    std::ostringstream text;
    text << std::ifstream(dir.File("stdout")).rdbuf();
    return {WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1, text.str()};
}

std::string FirstLine(const std::string& path)
{
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    return line;
}

TEST(Plots, ThreeViewsAsCsvWithUnitsAndAsPictures)
{
    const testcaptures::TempDir dir;
    const Outcome outcome = RunWithoutDisplay(dir, "--plots '" + dir.File("plots") + "'");
    EXPECT_EQ(outcome.status, TARNWELL_CLI_DRAWS ? 0 : 1);
    const struct {
        const char* stem;
        const char* header;
    } views[] = {{"echo-path", "delay_samples,delay_ms,weight_q15"},
                 {"delay-search", "lag_samples,lag_ms,abs_correlation"},
                 {"levels", "time_s,tx_dBm0,rx_dBm0,output_dBm0,cancellation_dB,mode,adapt_state,"
                            "nlp_acted,counted,level_frame,rx_level_frame"}};
    for (const auto& view : views) {
        const std::filesystem::path stem = std::filesystem::path(dir.File("plots")) / view.stem;
        EXPECT_EQ(FirstLine(stem.string() + ".csv"), view.header);
        for (const char* picture : {".svg", ".png"}) {
            const std::filesystem::path file = stem.string() + picture;
            EXPECT_EQ(std::filesystem::exists(file) && std::filesystem::file_size(file) > 1000,
                      TARNWELL_CLI_DRAWS != 0)
                << file;
        }
    }
    // One row per tap of tail 64.
    std::ifstream path(std::filesystem::path(dir.File("plots")) / "echo-path.csv");
    int rows = -1;
    for (std::string line; std::getline(path, line);) {
        ++rows;
    }
    EXPECT_EQ(rows, 64);
}

TEST(Plots, JsonCarriesTheCurvesAndTheFindings)
{
    const testcaptures::TempDir dir;
    const Outcome outcome = RunWithoutDisplay(dir, "--json");
    ASSERT_EQ(outcome.status, 0);
    const nlohmann::json analysis = nlohmann::json::parse(outcome.out).at("analysis");
    EXPECT_EQ(analysis.at("delaySearch").at("correlation").size(), 1800u);
    EXPECT_EQ(analysis.at("delaySearch").at("peakLag"), 110);
    EXPECT_EQ(analysis.at("echoPath").at("weights").size(), 64u);
    EXPECT_EQ(analysis.at("frames").at("txLevel").size(), 48000u / 80u);
    ASSERT_FALSE(analysis.at("findings").empty());
    for (const auto& finding : analysis.at("findings")) {
        EXPECT_TRUE(finding.at("code").is_string() && finding.at("text").is_string());
        EXPECT_TRUE(finding.at("severity") == "info" || finding.at("severity") == "warning");
    }
}

}  // namespace
