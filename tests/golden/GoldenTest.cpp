// Pinned data from scripts/make-golden.py; missing data fails. Whole runs: for the shipped
// samples and a few synthetic pairs, the command line's exit status, every pinned key of its
// --json object (results as exact doubles, the report lines) and the output file's length and
// 64-bit FNV-1a. Keys the program adds later are not looked at; the pinned ones keep their
// order. Filter edges: outputs on a rounding edge, which no coefficient can move by one in its
// last digit without changing. Both guard against a compiler, a flag or a CPU that computes
// other bits.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
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

const fs::path kGoldenDir = TARNWELL_GOLDEN_DIR;
const fs::path kSamplesDir = TARNWELL_SAMPLES_DIR;

// The file's JSON, or null when it is missing or does not parse.
Json Pinned(const std::string& name)
{
    std::ifstream file(kGoldenDir / name);
    const Json data = file ? Json::parse(file, nullptr, false) : Json();
    return data.is_discarded() ? Json() : data;
}

std::string Fnv1a64(const std::string& bytes)
{
    std::uint64_t hash = 0xcbf29ce484222325u;
    for (const unsigned char byte : bytes) {
        hash = (hash ^ byte) * 0x100000001b3u;
    }
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
        const std::ptrdiff_t position = std::distance(actual.begin(), found);
        EXPECT_GT(position, previous) << where << "." << key << " moved";
        previous = position;
        ExpectPinned(*found, value, where + "." + key);
    }
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
    const std::string out = dir.File("out.pcm");
    for (const Json& run : golden["runs"]) {
        SCOPED_TRACE(run.at("name").get<std::string>());
        const std::string captures = run.at("captures");
        const bool samples = captures == "samples";
        std::vector<std::string> args{"tarnwell-cli", "--json", "--out", out,
            "--tx", samples ? (kSamplesDir / "tx.pcm").string() : dir.File(captures + "_tx.pcm"),
            "--rx", samples ? (kSamplesDir / "rx.pcm").string() : dir.File(captures + "_rx.pcm")};
        ASSERT_TRUE(fs::exists(args[5]) && fs::exists(args[7])) << captures;
        for (const Json& arg : run.at("args")) {
            args.push_back(arg);
        }
        std::vector<const char*> argv;
        for (const std::string& arg : args) {
            argv.push_back(arg.c_str());
        }
        fs::remove(out);
        std::ostringstream printed;
        std::ostringstream errors;
        EXPECT_EQ(CommandLineMain(static_cast<int>(argv.size()), argv.data(), printed, errors, false),
                  run.at("exitStatus"));
        ExpectPinned(Json::parse(printed.str()), run.at("json"), "json");

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
    std::map<std::string, Filter> untested{{"highPass", &DspToolkit::HighPassFilter},
                                           {"upperBand", &DspToolkit::UpperBandFilter}};
    const std::map<std::string, Filter> filters = untested;
    const Json golden = Pinned("filter-edges.json");
    ASSERT_TRUE(golden.contains("cases")) << "run scripts/make-golden.py";
    for (const Json& edge : golden["cases"]) {
        const std::string name = edge.at("filter");
        const auto input = edge.at("input").get<std::vector<std::int16_t>>();
        std::vector<std::int16_t> output(input.size());
        (DspToolkit().*filters.at(name))(input.data(), output.data(), static_cast<int>(input.size()));
        EXPECT_EQ(output, edge.at("output").get<std::vector<std::int16_t>>()) << name;
        untested.erase(name);
    }
    EXPECT_TRUE(untested.empty());
}

}  // namespace
