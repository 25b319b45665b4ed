// tarnwell-cli sweep and g168 in-process: value lists and their usage errors, the sweep's
// JSON and CSV over the shipped samples, and g168's exit status following its table.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "CliCall.h"
#include "cli/SweepCommand.h"
#include "support/SyntheticCaptures.h"

using namespace tarnwell;
using namespace clicall;

namespace {

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
        {"0,8,1024", {0, 8, 1024}, ""},
        {"", {}, "not a decimal integer"},
        {"16:8:1", {}, "FIRST <= LAST"},
        {"0:64:0", {}, "STEP above 0"},
        {"0x10", {}, "not a decimal integer"},
        {"16:2048:16", {}, "2048 is outside 0..1024"},
    };
    for (const auto& c : cases) {
        std::string why;
        const auto values = ParseValueList(c.text, 0, 1024, why);
        EXPECT_EQ(values.value_or(std::vector<int>{}), c.values) << c.text;
        EXPECT_EQ(values.has_value(), !c.values.empty()) << c.text;
        EXPECT_NE(why.find(c.why), std::string::npos) << c.text << ": " << why;
    }
}

TEST(SweepCommand, JsonAndCsvAgree)
{
    const testcaptures::TempDir dir;
    const Outcome json = Call("sweep", {"--tx", kTx, "--rx", kRx, "--tails", "32:128:32", "--json", "-j", "2",
                                        "--csv", dir.File("sweep.csv")});
    EXPECT_EQ(json.status, 0) << json.err;
    const std::string csv = Slurp(dir.File("sweep.csv"));
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 5);
    const auto root = nlohmann::json::parse(json.out);
    ASSERT_EQ(root["points"].size(), 4u);
    EXPECT_EQ(std::tie(root["points"][1]["tail"], root["recommendation"]["chosen"], root["delay"]),
              std::make_tuple(64, 1, 107));
}

// Usage errors exit 2 and say why; g168's status follows its table.
TEST(SweepAndG168, ExitStatusesAndUsageErrors)
{
    const Args run{"--tx", kTx, "--rx", kRx};
    const struct {
        const char* verb;
        Args args;
        int status;
        const char* said = "";  // a part of stderr
    } cases[] = {
        {"g168", {"--tests", "5"}, 0},
        {"g168",
         {"--tests", "3B(a)", "--tail", "16", "-j", "2"},
         1},  // D.5 and longer need more than 16 taps
        {"g168", {"--tests", "9Z"}, 2},
        {"g168", {"--erl", "3"}, 2},
        {"g168", {"--tail", "2000"}, 2},
        {"sweep", {"--tails", "16:8:1"}, 2},
        {"sweep", {"--tails", "0:1024:1", "--delays", "0:8000:100"}, 2},  // too many passes
        {"sweep", {"-j", "0"}, 2},
        {"sweep", {"--tx", kTx}, 2},
        {"sweep", {"--tx", kTx, "--rx", "none.pcm"}, 1, "none.pcm"},
    };
    for (const auto& c : cases) {
        Args args = c.args;
        if (c.verb == std::string("sweep") && args[0] != "--tx") {
            args.insert(args.begin(), run.begin(), run.end());
        }
        const Outcome o = Call(c.verb, args);
        EXPECT_EQ(o.status, c.status) << c.verb << " " << c.args.back() << o.err;
        EXPECT_TRUE(c.status != 2 || !o.err.empty()) << c.verb << " " << c.args.back();
        EXPECT_NE(o.err.find(c.said), std::string::npos) << o.err;
        if (c.verb == std::string("g168") && c.status != 2) {
            EXPECT_NE(o.out.find("Not a certification"), std::string::npos);
            EXPECT_EQ(o.out.find("FAIL") != std::string::npos, c.status == 1) << o.out;
        }
    }
}

}  // namespace
