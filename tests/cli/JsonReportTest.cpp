// The --json object: its shape, doubles that read back bit for bit, non-finite values as
// strings, and a complete run's figures.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <random>

#include "cli/JsonReport.h"
#include "engine/TestMessages.h"
#include "tests/cli/CliTestSupport.h"

using nlohmann::json;
using ::testing::ElementsAre;

namespace {

// Reads a JSON number's text with the C library, independently of the JSON library.
double ReadBack(const nlohmann::ordered_json& number)
{
    const std::string text = number.dump();
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    EXPECT_EQ(*end, '\0') << text;
    return value;
}

std::vector<std::string> Keys(const json& object)
{
    std::vector<std::string> keys;
    for (auto it = object.begin(); it != object.end(); ++it) {
        keys.push_back(it.key());
    }
    return keys;
}

CliOptions SomeOptions()
{
    CliOptions options;
    options.settings = {"tx.pcm", "rx.pcm", "./out.pcm", 100, 64, 1, 6, 3, 1};
    options.deviceType = 4;
    return options;
}

}  // namespace

TEST(JsonDouble, FiniteDoublesReadBackIdentically)
{
    const double hard[] = {0.0,
                           -0.0,
                           0.1,
                           1.0 / 3.0,
                           -62.499999999999993,
                           std::numeric_limits<double>::denorm_min(),
                           std::numeric_limits<double>::min(),
                           std::numeric_limits<double>::max(),
                           -std::numeric_limits<double>::max(),
                           9007199254740993.0,
                           1e23,
                           5e-324,
                           2.2250738585072009e-308};
    for (double d : hard) {
        const double back = ReadBack(JsonDouble(d));
        EXPECT_EQ(std::bit_cast<std::uint64_t>(back), std::bit_cast<std::uint64_t>(d)) << d;
    }
    // Random bit patterns cover every exponent and mantissa shape.
    std::mt19937_64 generator(2024);
    int checked = 0;
    while (checked < 20000) {
        const double d = std::bit_cast<double>(generator());
        if (!std::isfinite(d)) {
            continue;
        }
        ++checked;
        const double back = ReadBack(JsonDouble(d));
        ASSERT_EQ(std::bit_cast<std::uint64_t>(back), std::bit_cast<std::uint64_t>(d))
            << JsonDouble(d).dump();
    }
}

TEST(JsonDouble, NonFiniteDoublesBecomeNamedStrings)
{
    EXPECT_EQ(JsonDouble(std::numeric_limits<double>::quiet_NaN()), "NaN");
    EXPECT_EQ(JsonDouble(-std::numeric_limits<double>::quiet_NaN()), "NaN");
    EXPECT_EQ(JsonDouble(std::numeric_limits<double>::infinity()), "Infinity");
    EXPECT_EQ(JsonDouble(-std::numeric_limits<double>::infinity()), "-Infinity");
    EXPECT_TRUE(JsonDouble(12.5).is_number_float());
}

TEST(JsonReport, ShapeFollowsTheRecordsAndTheReportIsNullAfterAFalseResult)
{
    CliRun run;  // ok false, nothing filled
    run.results.delay = 1799;  // a failed run may still have stored its delay
    const auto object = JsonReport(SomeOptions(), run, TestMessages::kTestFailed,
                                   {TestMessages::kDelayFailed});
    const json parsed = json::parse(DumpJson(object));

    EXPECT_THAT(Keys(parsed), ::testing::UnorderedElementsAre("ok", "status", "messages",
                                                              "settings", "results", "report"));
    std::vector<std::string> order;
    for (const auto& item : object.items()) {
        order.push_back(item.key());
    }
    EXPECT_THAT(order, ElementsAre("ok", "status", "messages", "settings", "results", "report"));

    EXPECT_EQ(parsed["ok"], false);
    EXPECT_EQ(parsed["status"], "Test failed");
    EXPECT_THAT(parsed["messages"].get<std::vector<std::string>>(),
                ElementsAre(TestMessages::kDelayFailed));
    EXPECT_TRUE(parsed["report"].is_null());

    const json& s = parsed["settings"];
    EXPECT_EQ(s.size(), 10u);
    EXPECT_EQ(s["txPath"], "tx.pcm");
    EXPECT_EQ(s["rxPath"], "rx.pcm");
    EXPECT_EQ(s["outPath"], "./out.pcm");
    EXPECT_EQ(s["delay"], 100);
    EXPECT_EQ(s["tail"], 64);
    EXPECT_EQ(s["nlpEnable"], 1);
    EXPECT_EQ(s["nlpDiff"], 6);
    EXPECT_EQ(s["nlpShift"], 3);
    EXPECT_EQ(s["highPass"], 1);
    EXPECT_EQ(s["deviceType"], 4);

    const json& r = parsed["results"];
    EXPECT_EQ(r.size(), 10u);
    EXPECT_EQ(r["delay"], 1799);
    for (const char* flag : {"delayOk", "erlOk", "levelsOk", "residualOk"}) {
        EXPECT_TRUE(r[flag].is_number_integer()) << flag;
    }
    for (const char* level : {"cancellation", "erl", "txLevel", "rxLevel", "residualLevel"}) {
        EXPECT_TRUE(r[level].is_number_float()) << level;  // 0.0 stays a double, not 0
    }
}

TEST(JsonReport, ResultsKeepEveryBitAndNonFiniteValuesAndTheReportIsFilledWhenOk)
{
    CliRun run;
    run.ok = true;
    run.results = {92, 25.253333333333334, 12.5, -20.000000000000004,
                   -std::numeric_limits<double>::infinity(),
                   std::numeric_limits<double>::quiet_NaN(), 1, 1, 0, 1};
    run.report = MakeReport(run.results, 0);
    const json parsed = json::parse(DumpJson(JsonReport(SomeOptions(), run, "Finished", {})));

    const json& r = parsed["results"];
    EXPECT_EQ(r["cancellation"].get<double>(), 25.253333333333334);
    EXPECT_EQ(r["erl"].get<double>(), 12.5);
    EXPECT_EQ(r["txLevel"].get<double>(), -20.000000000000004);
    EXPECT_EQ(r["rxLevel"], "-Infinity");
    EXPECT_EQ(r["residualLevel"], "NaN");
    EXPECT_EQ(r["delayOk"], 1);
    EXPECT_EQ(r["levelsOk"], 0);

    EXPECT_EQ(parsed["ok"], true);
    EXPECT_TRUE(parsed["messages"].is_array());
    EXPECT_TRUE(parsed["messages"].empty());
    const json& rep = parsed["report"];
    EXPECT_THAT(Keys(rep), ::testing::UnorderedElementsAre("realDelay", "erl", "residual", "levels",
                                                           "minimalTail", "txGainDecrease"));
    EXPECT_EQ(rep["realDelay"], "92 smp, OK");
    EXPECT_EQ(rep["erl"], "12.50 dB, OK");
    EXPECT_EQ(rep["residual"], "25.25 / nan dBm, OK");
    EXPECT_EQ(rep["levels"], "-inf / -20.00 dBm, CHECK");
    EXPECT_EQ(rep["minimalTail"], 50);  // delay 92 below row 0's preset of 100
    EXPECT_TRUE(rep["txGainDecrease"].is_number_integer());
}

TEST(JsonReport, PathsThatAreNotUtf8StillGiveValidJson)
{
    CliOptions options = SomeOptions();
    options.settings.txPath = "captures/\xff\xfe.pcm";
    const std::string text = DumpJson(JsonReport(options, CliRun{}, "Test failed", {}));
    const json parsed = json::parse(text);
    EXPECT_EQ(parsed["settings"]["txPath"], "captures/\xEF\xBF\xBD\xEF\xBF\xBD.pcm");
}

TEST(JsonReport, CompleteRunOnKnownCaptures)
{
    clitest::Captures captures(110, 12.0);
    auto args = captures.Args();
    args.push_back("--json");
    const clitest::Outcome outcome = clitest::RunInProcess(args);
    ASSERT_EQ(outcome.status, kExitOk) << outcome.err;
    const json parsed = json::parse(outcome.out);
    EXPECT_EQ(parsed["ok"], true);
    EXPECT_EQ(parsed["status"], "Finished");
    EXPECT_TRUE(parsed["messages"].empty());
    EXPECT_EQ(parsed["results"]["delay"], 110);
    EXPECT_NEAR(parsed["results"]["erl"].get<double>(), 12.0, 0.5);
    EXPECT_EQ(parsed["report"]["realDelay"], "110 smp, OK");
    EXPECT_EQ(parsed["report"]["minimalTail"], 59);
    EXPECT_EQ(parsed["settings"]["outPath"], captures.out);
}
