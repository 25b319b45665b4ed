// tarnwell-cli sweep and g168 in-process: value lists and their usage errors, the sweep's
// table, JSON and CSV over the shipped samples, and g168's exit status following its table.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/G168Command.h"
#include "cli/SweepCommand.h"
#include "support/SyntheticCaptures.h"

using namespace tarnwell;

namespace {

using Args = std::vector<std::string>;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

Outcome Call(decltype(&SweepMain) verb, const char* name, const Args& args)
{
    std::vector<const char*> argv{name};
    for (const auto& a : args) {
        argv.push_back(a.c_str());
    }
    std::ostringstream out, err;
    const int status = verb(static_cast<int>(argv.size()), argv.data(), out, err, false, {});
    return {status, out.str(), err.str()};
}

const std::string kTx = std::string(TARNWELL_SAMPLES_DIR) + "/tx.pcm";
const std::string kRx = std::string(TARNWELL_SAMPLES_DIR) + "/rx.pcm";

TEST(SweepCommand, ValueLists)
{
    const struct {
        const char* text;
        std::vector<int> values;  // empty: refused
        const char* why;
    } cases[] = {
        {"16:64:16", {16, 32, 48, 64}, ""},
        {"16:70:16", {16, 32, 48, 64}, ""},
        {"1024:1024:1", {1024}, ""},
        {"128", {128}, ""},
        {"0,8,1024", {0, 8, 1024}, ""},
        {"", {}, "not a decimal integer"},
        {"16:8:1", {}, "FIRST <= LAST"},
        {"0:64:0", {}, "STEP above 0"},
        {"16:64", {}, "FIRST:LAST:STEP"},
        {"1,,2", {}, "not a decimal integer"},
        {"0x10", {}, "not a decimal integer"},
        {"16:2048:16", {}, "2048 is outside 0..1024"},
        {"-16", {}, "outside"},
    };
    for (const auto& c : cases) {
        std::string why;
        const auto values = ParseValueList(c.text, 0, 1024, why);
        EXPECT_EQ(values.value_or(std::vector<int>{}), c.values) << c.text;
        EXPECT_EQ(values.has_value(), !c.values.empty()) << c.text;
        EXPECT_NE(why.find(c.why), std::string::npos) << c.text << ": " << why;
    }
}

TEST(SweepCommand, UsageErrorsExitTwo)
{
    const Args bad[] = {
        {"--tx", kTx, "--rx", kRx, "--tails", "16:8:1"},
        {"--tx", kTx, "--rx", kRx, "--tails", "abc"},
        {"--tx", kTx, "--rx", kRx, "--delays", "9000"},
        {"--tx", kTx, "--rx", kRx, "--nlp-shift", "11"},
        {"--tx", kTx, "--rx", kRx, "--tails", "0:1024:1", "--delays", "0:8000:100"},  // too many passes
        {"--tx", kTx},
        {"--tx", kTx, "--rx", kRx, "-j", "0"},
    };
    for (const Args& args : bad) {
        const Outcome o = Call(SweepMain, "sweep", args);
        EXPECT_EQ(o.status, 2) << args.back();
        EXPECT_FALSE(o.err.empty());
    }
}

TEST(SweepCommand, TableJsonAndCsvAgree)
{
    const testcaptures::TempDir dir;
    const std::string csvPath = dir.File("sweep.csv");
    const Outcome table = Call(SweepMain, "sweep",
                               {"--tx", kTx, "--rx", kRx, "--tails", "32:128:32", "--csv", csvPath});
    EXPECT_EQ(table.status, 0) << table.err;
    EXPECT_NE(table.out.find("Measured: tail 64"), std::string::npos) << table.out;
    std::ifstream csvFile(csvPath);
    const std::string csv((std::istreambuf_iterator<char>(csvFile)), {});
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 5);

    const Outcome json = Call(SweepMain, "sweep",
                              {"--tx", kTx, "--rx", kRx, "--tails", "32:128:32", "--json", "-j", "2"});
    EXPECT_EQ(json.status, 0);
    const auto root = nlohmann::json::parse(json.out);
    ASSERT_EQ(root["points"].size(), 4u);
    EXPECT_EQ(root["points"][1]["tail"], 64);
    EXPECT_EQ(root["recommendation"]["chosen"], 1);
    EXPECT_EQ(root["delay"], 107);

    const Outcome missing = Call(SweepMain, "sweep", {"--tx", kTx, "--rx", dir.File("none.pcm")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("none.pcm"), std::string::npos) << missing.err;
}

TEST(G168Command, ExitStatusFollowsTheTable)
{
    const struct {
        Args args;
        int status;
    } cases[] = {
        {{"--tests", "5"}, 0},
        {{"--tests", "5", "--tail", "16"}, 0},
        {{"--tests", "3B(a)", "--tail", "16", "-j", "2"}, 1},  // D.5 and longer need more than 16 taps
        {{"--tests", "9Z"}, 2},
        {{"--erl", "3"}, 2},
        {{"--tail", "2000"}, 2},
    };
    for (const auto& c : cases) {
        const Outcome o = Call(G168Main, "g168", c.args);
        EXPECT_EQ(o.status, c.status) << c.args.back() << o.err;
        if (c.status != 2) {
            EXPECT_NE(o.out.find("Not a certification"), std::string::npos);
            EXPECT_EQ(o.out.find("FAIL") != std::string::npos, c.status == 1) << o.out;
        }
    }
}

}  // namespace
