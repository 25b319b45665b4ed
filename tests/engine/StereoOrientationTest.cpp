// A stereo file without a Tx channel named: the channel that leads is Tx, whichever way the
// recorder laid the file out, and a finding says which; a named channel is always obeyed.
#include <gtest/gtest.h>

#include <optional>
#include <sndfile.h>

#include "engine/EchoTester.h"
#include "support/SilentUi.h"
#include "support/SyntheticCaptures.h"

using namespace tarnwell;
using testcaptures::Samples;

namespace {

struct OrientCase {
    const char* name;
    int txInFile;             // the channel the recorder put Tx in
    int txChannel;            // as the settings give it; -1: to be found
    std::optional<int> note;  // the channel the finding names, or none
    bool swapped;             // the run sees the captures the wrong way round
    int used;                 // the channel the record says Tx was read from
};

const OrientCase kCases[] = {
    {"found_in_channel_0", 0, -1, 0, false, 0},
    {"found_in_channel_1", 1, -1, 1, false, 1},
    {"named_and_right", 1, 1, std::nullopt, false, 1},
    {"named_and_wrong_is_obeyed", 1, 0, std::nullopt, true, 0},
};

class StereoOrientationTest : public ::testing::TestWithParam<OrientCase> {};

TEST_P(StereoOrientationTest, TxIsTheChannelThatLeadsUnlessNamed)
{
    const OrientCase& c = GetParam();
    const testcaptures::TempDir dir;
    const Samples tx = testcaptures::Bursts(80000, 2848.0, 4000, 0.0, 7);
    const Samples rx = testcaptures::Echo(tx, 110, 12.0, 20.0);
    Samples frames;
    for (std::size_t i = 0; i < tx.size(); ++i) {
        frames.push_back(c.txInFile == 0 ? tx[i] : rx[i]);
        frames.push_back(c.txInFile == 0 ? rx[i] : tx[i]);
    }
    SF_INFO info{};
    info.samplerate = 8000;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(dir.File("call.wav").c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr);
    sf_writef_short(file, frames.data(), static_cast<sf_count_t>(tx.size()));
    sf_close(file);

    TestSettings settings;
    settings.txPath = settings.rxPath = dir.File("call.wav");
    settings.outPath = dir.File("out.pcm");
    settings.tail = 512;
    settings.nlpEnable = 1;
    settings.txChannel = c.txChannel;
    SilentUi ui;
    TestResults results{};
    AnalysisRecord analysis;
    EchoTester().RunTest(settings, results, ui, &analysis);
    EXPECT_EQ(analysis.txChannel, c.used);
    if (c.swapped) {
        EXPECT_NE(results.delay, 110);
    } else {
        EXPECT_EQ(results.delay, 110);
    }
    if (c.note) {
        ASSERT_EQ(analysis.captureNotes.size(), 1U);
        EXPECT_EQ(analysis.captureNotes[0].text,
                  "Tx taken as channel " + std::to_string(*c.note) +
                      " of call.wav, whose signal leads; --tx-channel says otherwise");
    } else {
        EXPECT_TRUE(analysis.captureNotes.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, StereoOrientationTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
