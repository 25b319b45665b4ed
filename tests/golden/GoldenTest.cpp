// Against data pinned by scripts/make-golden.py (missing data fails), so that a compiler, a flag
// or a CPU that computes other bits shows. Whole runs: exit status, the pinned lines of the plain
// report and the pinned keys of the --json object (exact doubles) in their order, and the output
// file's length and 64-bit FNV-1a; what later versions add is not looked at. Filter edges: outputs
// no coefficient can move by one in its last digit without changing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <numeric>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "GoldenCaptures.h"
#include "cli/CommandLine.h"
#include "engine/DspToolkit.h"

using namespace tarnwell;

namespace {

using Json = nlohmann::ordered_json;
namespace fs = std::filesystem;

// The file's JSON, or null when it is missing or does not parse.
Json Pinned(const std::string& name)
{
    std::ifstream file(fs::path(TARNWELL_GOLDEN_DIR) / name);
    const Json data = Json::parse(file, nullptr, false);  // discarded when missing or unparsable
    return data.is_discarded() ? Json() : data;
}

std::string Fnv1a64(const std::string& bytes)
{
    std::uint64_t hash = 0xcbf29ce484222325u;
    for (const unsigned char byte : bytes)
        hash = (hash ^ byte) * 0x100000001b3u;
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

// Every key of pinned is in actual, equal and in the same relative order; other keys are ignored.
void ExpectPinned(const Json& actual, const Json& pinned, const std::string& where)
{
    if (!pinned.is_object()) {
        EXPECT_EQ(actual, pinned) << where;
        return;
    }
    ASSERT_TRUE(actual.is_object()) << where;
    std::ptrdiff_t previous = -1;
    for (const auto& [key, value] : pinned.items()) {
        const auto found = actual.find(key);
        ASSERT_NE(found, actual.end()) << where << "." << key << " is missing";
        EXPECT_GT(std::distance(actual.begin(), found), previous) << where << "." << key << " moved";
        previous = std::distance(actual.begin(), found);
        ExpectPinned(*found, value, where + "." + key);
    }
}

// The command line in-process on args: its exit status and the lines it printed.
int RunCli(const std::vector<std::string>& args, std::vector<std::string>& lines)
{
    std::vector<const char*> argv{"tarnwell-cli"};
    for (const std::string& arg : args)
        argv.push_back(arg.c_str());
    std::ostringstream out, err;
    const int status = CommandLineMain(static_cast<int>(argv.size()), argv.data(), out, err, false);
    std::istringstream printed(out.str());
    lines.clear();
    for (std::string line; std::getline(printed, line);)
        lines.push_back(line);
    return status;
}

TEST(Golden, WholeRunsGiveThePinnedResultsReportAndOutputBytes)
{
    const Json golden = Pinned("runs.json");
    ASSERT_TRUE(golden.contains("runs") && golden["runs"].size() >= 4u) << "run scripts/make-golden.py";
    const testcaptures::TempDir dir;
    for (const auto& [name, pair] : golden::SyntheticPairs()) {
        testcaptures::WritePcm(dir.File(name + "_tx.pcm"), pair.first);
        testcaptures::WritePcm(dir.File(name + "_rx.pcm"), pair.second);
    }
    const fs::path samples = TARNWELL_SAMPLES_DIR;
    const std::string out = dir.File("out.pcm");
    for (const Json& run : golden["runs"]) {
        SCOPED_TRACE(run.at("name").get<std::string>());
        const std::string captures = run.at("captures");
        std::vector<std::string> args{
            "--out", out,
            "--tx",  captures == "samples" ? (samples / "tx.pcm").string() : dir.File(captures + "_tx.pcm"),
            "--rx",  captures == "samples" ? (samples / "rx.pcm").string() : dir.File(captures + "_rx.pcm")};
        ASSERT_TRUE(fs::exists(args[3]) && fs::exists(args[5])) << captures;
        args.insert(args.end(), run.at("args").begin(), run.at("args").end());

        std::vector<std::string> lines;
        EXPECT_EQ(RunCli(args, lines), run.at("exitStatus"));
        auto next = lines.begin();
        for (const Json& line : run.at("plain")) {
            next = std::find(next, lines.end(), line.get<std::string>());
            EXPECT_NE(next, lines.end()) << "missing or out of order: " << line;
        }

        fs::remove(out);
        args.push_back("--json");
        EXPECT_EQ(RunCli(args, lines), run.at("exitStatus"));
        ExpectPinned(Json::parse(std::accumulate(lines.begin(), lines.end(), std::string())), run.at("json"),
                     "json");
        const Json& output = run.at("output");
        if (output.is_null()) {
            EXPECT_FALSE(fs::exists(out));
            continue;
        }
        std::ostringstream bytes;
        bytes << std::ifstream(out, std::ios::binary).rdbuf();
        EXPECT_EQ(bytes.str().size(), output.at("bytes"));
        EXPECT_EQ(Fnv1a64(bytes.str()), output.at("fnv1a64"));
    }
}

TEST(Golden, FilterOutputsOnARoundingEdgePinEveryCoefficientToItsLastDigit)
{
    using Filter = void (DspToolkit::*)(const std::int16_t*, std::int16_t*, int) const;
    const std::map<std::string, Filter> filters{{"highPass", &DspToolkit::HighPassFilter},
                                                {"upperBand", &DspToolkit::UpperBandFilter}};
    const Json golden = Pinned("filter-edges.json");
    ASSERT_TRUE(golden.contains("cases")) << "run scripts/make-golden.py";
    std::map<std::string, int> edges;
    for (const Json& edge : golden["cases"]) {
        const std::string name = edge.at("filter");
        const auto input = edge.at("input").get<std::vector<std::int16_t>>();
        std::vector<std::int16_t> output(input.size());
        (DspToolkit().*filters.at(name))(input.data(), output.data(), static_cast<int>(input.size()));
        EXPECT_EQ(output, edge.at("output").get<std::vector<std::int16_t>>()) << name;
        ++edges[name];
    }
    EXPECT_TRUE(edges["highPass"] > 0 && edges["upperBand"] > 0);
}

}  // namespace
