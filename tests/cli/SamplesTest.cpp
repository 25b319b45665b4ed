// The shipped sample captures are test data: they must be present, long enough for the
// engine, speech-active in Tx, and must show the echo path they were made with
// (scripts/make-samples.py: bulk delay 100 samples, G.168 D.2 hybrid, ERL 12 dB).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "engine/DspToolkit.h"
#include "tests/cli/CliTestSupport.h"

namespace {

const std::filesystem::path kSamples = TARNWELL_SAMPLES_DIR;

}  // namespace

TEST(Samples, ArePresentEightToTenSecondsAndOfEqualLength)
{
    for (const char* name : {"tx.pcm", "rx.pcm"}) {
        const std::filesystem::path path = kSamples / name;
        ASSERT_TRUE(std::filesystem::exists(path)) << path << ": run scripts/make-samples.py";
        const auto bytes = std::filesystem::file_size(path);
        EXPECT_EQ(bytes % 2, 0u) << path;
        EXPECT_GT(bytes / 2, 40000u) << path << ": the engine refuses 5 s or less";
        EXPECT_GE(bytes / 2, 8u * 8000u) << path;
        EXPECT_LE(bytes / 2, 10u * 8000u) << path;
    }
    EXPECT_EQ(std::filesystem::file_size(kSamples / "tx.pcm"),
              std::filesystem::file_size(kSamples / "rx.pcm"));
    EXPECT_TRUE(std::filesystem::exists(kSamples / "README.md"));
}

TEST(Samples, TxIsSpeechActiveInWellOverElevenPercentOfItsBlocks)
{
    const testcaptures::Samples tx = testcaptures::ReadPcm(kSamples / "tx.pcm");
    ASSERT_GT(tx.size(), 40000u);
    const DspToolkit toolkit;
    const int n = static_cast<int>(tx.size());
    int active = 0;
    for (int p = 0; p < n - 80; p += 80) {
        active += toolkit.BlockLevel(tx.data() + p, 80) > -50.0 ? 1 : 0;
    }
    EXPECT_GE(active * 100 / (n / 80), 30);
}

TEST(Samples, ReportShowsTheDelayAndErlTheyWereMadeWith)
{
    const testcaptures::TempDir dir;
    const clitest::Outcome outcome = clitest::RunInProcess(
        {"--tx", (kSamples / "tx.pcm").string(), "--rx", (kSamples / "rx.pcm").string(), "--out",
         dir.File("out.pcm"), "--json"});
    ASSERT_FALSE(outcome.out.empty()) << outcome.err;
    const auto parsed = nlohmann::json::parse(outcome.out);
    ASSERT_EQ(parsed["ok"], true) << outcome.out;
    EXPECT_EQ(parsed["status"], "Finished");
    // The hybrid's response starts after the 100-sample bulk delay and peaks at its taps 6
    // and 7; the default device row (delay 100, tail 64) holds that inside its window.
    const int delay = parsed["results"]["delay"];
    EXPECT_GE(delay, 104);
    EXPECT_LE(delay, 110);
    EXPECT_EQ(parsed["results"]["delayOk"], 1);
    EXPECT_NEAR(parsed["results"]["erl"].get<double>(), 12.0, 1.0);
    EXPECT_EQ(parsed["results"]["erlOk"], 1);
}
