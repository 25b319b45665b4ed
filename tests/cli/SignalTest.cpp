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

TEST(SignalTest, WritesTheSameSamplesInEachFormat)
{
    const struct {
        const char* file;
        const char* format;       // --format, or "" for none
        HeaderlessFormat readAs;  // how the capture reader is told to read it back
        const g711::Table* law;   // the law the samples went through, or nullptr
    } cases[] = {
        {"signal.wav", "", HeaderlessFormat::kByName, nullptr},
        {"signal.pcm", "", HeaderlessFormat::kByName, nullptr},
        {"signal.al", "", HeaderlessFormat::kByName, &g711::kALaw},
        {"signal.ulaw", "", HeaderlessFormat::kByName, &g711::kULaw},
        {"signal.raw", "alaw", HeaderlessFormat::kALaw, &g711::kALaw},
    };
    const std::vector<std::int16_t> linear = testsignal::Make(5, -18.0);
    for (const auto& c : cases) {
        const TempDir dir;
        std::vector<std::string> args = {dir.File(c.file), "--seconds", "5", "--level", "-18"};
        if (*c.format != '\0') {
            args.insert(args.end(), {"--format", c.format});
        }
        ASSERT_EQ(Signal(args), 0) << c.file;
        std::vector<std::int16_t> want = linear;
        for (std::int16_t& s : want) {
            s = c.law == nullptr
                    ? s
                    : (*c.law)[c.law == &g711::kALaw ? g711::LinearToALaw(s) : g711::LinearToULaw(s)];
        }
        EXPECT_EQ(ReadBack(dir.File(c.file), c.readAs), want) << c.file << " " << c.format;
    }
}

}  // namespace
