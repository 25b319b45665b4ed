// Captures at other rates and sample types: converted to 16-bit at 8000 samples/s on reading,
// both the same way, so a known delay comes back within a sample and an info finding says
// what was done; --no-resample refuses them as before.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <sndfile.h>

#include "engine/EchoTester.h"
#include "support/SilentUi.h"
#include "support/SyntheticCaptures.h"

using namespace tarnwell;
using testcaptures::Samples;

namespace {

void WriteSound(const std::string& path, int format, int rate, const Samples& samples)
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    sf_writef_short(file, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(file);
}

struct ConvertCase {
    const char* name;
    int rate;
    int format;
    const char* note;  // the Rx capture's converted note
};

const ConvertCase kCases[] = {
    {"wav_48k", 48000, SF_FORMAT_WAV | SF_FORMAT_PCM_16, "rx.wav resampled from 48000 to 8000 samples/s"},
    {"wav_44k1_float", 44100, SF_FORMAT_WAV | SF_FORMAT_FLOAT,
     "rx.wav resampled from 44100 to 8000 samples/s"},
    {"aiff_16k_24bit", 16000, SF_FORMAT_AIFF | SF_FORMAT_PCM_24,
     "rx.wav resampled from 16000 to 8000 samples/s"},
    {"wav_8k_24bit", 8000, SF_FORMAT_WAV | SF_FORMAT_PCM_24,
     "rx.wav converted from Signed 24 bit PCM to 16-bit PCM"},
};

class ConvertedCapturesTest : public ::testing::TestWithParam<ConvertCase> {};

TEST_P(ConvertedCapturesTest, KeepTheDelayAndSaySo)
{
    const ConvertCase& c = GetParam();
    const testcaptures::TempDir dir;
    // 10 s of noise bursts at the file's rate, and their echo 110 samples at 8000/s later.
    const int count = c.rate * 10;
    const int delay = static_cast<int>(std::lround(110.0 * c.rate / 8000.0));
    const Samples tx = testcaptures::Bursts(count, 2848.0, c.rate / 2, 0.0, 7);
    WriteSound(dir.File("tx.wav"), c.format, c.rate, tx);
    WriteSound(dir.File("rx.wav"), c.format, c.rate, testcaptures::Echo(tx, delay, 12.0));
    TestSettings settings;
    settings.txPath = dir.File("tx.wav");
    settings.rxPath = dir.File("rx.wav");
    settings.outPath = dir.File("out.pcm");
    settings.tail = 512;
    settings.nlpEnable = 1;
    SilentUi ui;
    TestResults results{};
    AnalysisRecord analysis;
    EchoTester tester;
    tester.RunTest(settings, results, ui, &analysis);
    EXPECT_NEAR(results.delay, 110, 1);
    EXPECT_EQ(analysis.sampleCount, 80000);
    ASSERT_EQ(analysis.captureNotes.size(), 2U);
    EXPECT_EQ(analysis.captureNotes[1].code, "converted");
    EXPECT_EQ(analysis.captureNotes[1].text, c.note);
    EXPECT_FALSE(analysis.captureNotes[1].warning);

    settings.resample = 0;
    AnalysisRecord refused;
    EXPECT_FALSE(tester.RunTest(settings, results, ui, &refused));
    EXPECT_TRUE(refused.captureNotes.empty());
}

INSTANTIATE_TEST_SUITE_P(Formats, ConvertedCapturesTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ConvertedCapturesRefusal, ARateNoRecorderUsesIsRefusedByName)
{
    const testcaptures::TempDir dir;
    WriteSound(dir.File("rx.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2000, Samples(40000, 0));
    testcaptures::WritePcm(dir.File("tx.pcm"), Samples(80000, 0));
    TestSettings settings;
    settings.txPath = dir.File("tx.pcm");
    settings.rxPath = dir.File("rx.wav");
    settings.outPath = dir.File("out.pcm");
    struct MessageUi : SilentUi {
        void ShowMessage(const std::string& text) override { message = text; }
        std::string message;
    } ui;
    TestResults results{};
    EXPECT_FALSE(EchoTester().RunTest(settings, results, ui));
    EXPECT_EQ(ui.message, "rx.wav is 2000 samples/s; Tarnwell converts 4000 to 384000 samples/s");
}

}  // namespace
