// The signal verb: the same samples in every format it writes, and a signal that, echoed by a
// G.168 hybrid model at 10 dB ERL, passes the run's ERL screen with its blocks in range.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <numeric>
#include <sstream>

#include "CliCall.h"
#include "engine/CaptureReader.h"
#include "engine/EchoTester.h"
#include "engine/G711.h"
#include "engine/TestSignal.h"
#include "support/SilentUi.h"
#include "support/SyntheticCaptures.h"

using namespace tarnwell;
using testcaptures::TempDir;

namespace {

int Signal(const clicall::Args& args) { return clicall::Call("signal", args).status; }

std::vector<std::int16_t> ReadBack(const std::string& path, HeaderlessFormat format)
{
    const FileHandle file = FileHandle::OpenRegular(path, O_RDONLY);
    CaptureReader reader;
    std::string refusal;
    EXPECT_TRUE(reader.Open(file, path, format, CaptureReader::kWholeFile, refusal)) << refusal;
    std::vector<std::int16_t> samples(static_cast<std::size_t>(reader.SampleCount()));
    EXPECT_TRUE(reader.Read(samples.data(), static_cast<int>(samples.size())));
    return samples;
}

struct FormatCase {
    const char* name;
    const char* file;
    const char* format;       // --format, or "" for none
    HeaderlessFormat readAs;  // how the capture reader is told to read it back
    const g711::Table* law;   // the law the samples went through, or nullptr
};

const FormatCase kFormats[] = {
    {"wav", "signal.wav", "", HeaderlessFormat::kByName, nullptr},
    {"raw_pcm", "signal.pcm", "", HeaderlessFormat::kByName, nullptr},
    {"alaw_by_name", "signal.al", "", HeaderlessFormat::kByName, &g711::kALaw},
    {"ulaw_by_name", "signal.ulaw", "", HeaderlessFormat::kByName, &g711::kULaw},
    {"alaw_by_format", "signal.raw", "alaw", HeaderlessFormat::kALaw, &g711::kALaw},
    {"wav_whatever_the_format", "signal.wav", "ulaw", HeaderlessFormat::kByName, nullptr},
};

class SignalFormatTest : public ::testing::TestWithParam<FormatCase> {};

TEST_P(SignalFormatTest, WritesTheSameSamplesInEachFormat)
{
    const FormatCase& c = GetParam();
    const TempDir dir;
    std::vector<std::string> args = {dir.File(c.file), "--seconds", "5", "--level", "-18"};
    if (*c.format != '\0') {
        args.insert(args.end(), {"--format", c.format});
    }
    ASSERT_EQ(Signal(args), 0);
    std::vector<std::int16_t> want = testsignal::Make(5, -18.0);
    if (c.law != nullptr) {
        const auto encode = c.law == &g711::kALaw ? g711::LinearToALaw : g711::LinearToULaw;
        for (std::int16_t& s : want) {
            s = (*c.law)[encode(s)];
        }
    }
    EXPECT_EQ(ReadBack(dir.File(c.file), c.readAs), want);
}

INSTANTIATE_TEST_SUITE_P(Formats, SignalFormatTest, ::testing::ValuesIn(kFormats),
                         [](const auto& info) { return std::string(info.param.name); });

// The hybrid echo path model D.2 of G.168, as spandsp's g168models.h tabulates it.
std::vector<double> ModelD2()
{
    std::ifstream file(TARNWELL_G168_MODELS);
    std::stringstream text;
    text << file.rdbuf();
    const std::string all = text.str();
    const std::size_t open = all.find('{', all.find("line_model_d2_coeffs"));
    const std::size_t close = all.find('}', open);
    EXPECT_NE(close, std::string::npos) << "no D.2 table in " << TARNWELL_G168_MODELS;
    std::string body = close == std::string::npos ? "" : all.substr(open + 1, close - open - 1);
    std::replace(body.begin(), body.end(), ',', ' ');
    std::vector<double> h;
    std::stringstream numbers(body);
    for (double v; numbers >> v;) {
        h.push_back(v);
    }
    return h;
}

TEST(SignalTest, PassesTheErlScreenThroughAG168EchoAt10Db)
{
    const std::vector<double> h = ModelD2();
    ASSERT_EQ(h.size(), 64U);
    const TempDir dir;
    ASSERT_EQ(Signal({dir.File("tx.pcm"), "--seconds", "30"}), 0);
    const testcaptures::Samples tx = testcaptures::ReadPcm(dir.File("tx.pcm"));
    // The model scaled to 10 dB of loss in power on white noise, 100 samples of bulk delay.
    const double gain = std::pow(10.0, -10.0 / 20.0) /
                        std::sqrt(std::inner_product(h.begin(), h.end(), h.begin(), 0.0));
    constexpr std::size_t kBulk = 100;
    testcaptures::Samples rx(tx.size(), 0);
    for (std::size_t n = kBulk; n < tx.size(); ++n) {
        double acc = 0.0;
        for (std::size_t k = 0; k < h.size() && k + kBulk <= n; ++k) {
            acc += gain * h[k] * tx[n - kBulk - k];
        }
        rx[n] = testcaptures::ClampSample(acc);
    }
    testcaptures::WritePcm(dir.File("rx.pcm"), rx);
    TestSettings settings;
    settings.txPath = dir.File("tx.pcm");
    settings.rxPath = dir.File("rx.pcm");
    settings.outPath = dir.File("out.pcm");
    settings.tail = 512;
    settings.nlpEnable = 1;
    SilentUi ui;
    TestResults results{};
    AnalysisRecord analysis;
    EchoTester tester;
    tester.RunTest(settings, results, ui, &analysis);
    EXPECT_EQ(results.erlOk, 1) << "ERL " << results.erl;
    EXPECT_NEAR(results.erl, 10.0, 3.0);
    ASSERT_TRUE(analysis.erl.measured);
    // The blocks that hold no long pause and are not in the quiet end qualify (240 of 299).
    EXPECT_GE(analysis.erl.qualifyingBlocks * 10, analysis.erl.blocks * 6)
        << analysis.erl.qualifyingBlocks << " of " << analysis.erl.blocks;
}

}  // namespace
