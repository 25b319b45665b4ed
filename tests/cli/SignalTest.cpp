// The signal verb: the same samples in every format it writes (the signal's shape is the
// engine's TestSignalTest).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "CliCall.h"
#include "engine/CaptureReader.h"
#include "engine/G711.h"
#include "engine/TestSignal.h"
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

}  // namespace
