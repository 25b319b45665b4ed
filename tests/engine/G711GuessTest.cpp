// A-law and µ-law bytes under a raw name: speech in either law is told from 16-bit PCM, and
// 16-bit PCM of speech, tones and noise is never taken for G.711. The run warns naming the
// file, and when such a file is too short its size message says how long it read.
#include <gmock/gmock.h>

#include "EngineTestSupport.h"
#include "engine/G711.h"
#include "engine/G711Guess.h"

using namespace tarnwell;
using namespace tarnwell::enginetest;

namespace {

std::vector<std::uint8_t> Encode(const Samples& samples, HeaderlessFormat encoding)
{
    if (encoding == HeaderlessFormat::kPcm16) {  // little-endian, as this host stores it
        const auto* raw = reinterpret_cast<const std::uint8_t*>(samples.data());
        return {raw, raw + 2 * samples.size()};
    }
    std::vector<std::uint8_t> bytes;
    const g711::Table& table = encoding == HeaderlessFormat::kALaw ? g711::kALaw : g711::kULaw;
    for (const std::int16_t s : samples) {
        std::size_t best = 0;
        for (std::size_t c = 1; c < 256; ++c) {
            if (std::abs(table[c] - s) < std::abs(table[best] - s)) {
                best = c;
            }
        }
        bytes.push_back(static_cast<std::uint8_t>(best));
    }
    return bytes;
}

Samples Speech(const char* name)
{
    return testcaptures::ReadPcm(std::filesystem::path(TARNWELL_SAMPLES_DIR) / name);
}

struct GuessCase {
    const char* name;
    Samples (*signal)();
    HeaderlessFormat encoding;  // written, and to be guessed
};

const GuessCase kGuesses[] = {
    {"speech_tx_pcm", [] { return Speech("tx.pcm"); }, HeaderlessFormat::kPcm16},
    {"speech_tx_alaw", [] { return Speech("tx.pcm"); }, HeaderlessFormat::kALaw},
    {"speech_rx_ulaw", [] { return Speech("rx.pcm"); }, HeaderlessFormat::kULaw},
    {"tone_50hz_quiet", [] { return Tone(40000, 50, 100); }, HeaderlessFormat::kPcm16},
    {"tone_2khz_full_scale", [] { return Tone(40000, 2000, 32767); }, HeaderlessFormat::kPcm16},
    {"tone_3999hz_full_scale", [] { return Tone(40000, 3999, 32767); }, HeaderlessFormat::kPcm16},
    {"noise_quiet", [] { return testcaptures::Noise(40000, 30.0, 3); }, HeaderlessFormat::kPcm16},
    {"noise_loud", [] { return testcaptures::Noise(40000, 12000.0, 3); }, HeaderlessFormat::kPcm16},
    {"bursts", [] { return testcaptures::Bursts(40000, 2848.0, 4000, 0.0, 7); }, HeaderlessFormat::kPcm16},
};

class G711GuessTest : public ::testing::TestWithParam<GuessCase> {};

TEST_P(G711GuessTest, TellsTheLawFromPcm)
{
    const std::vector<std::uint8_t> bytes = Encode(GetParam().signal(), GetParam().encoding);
    EXPECT_EQ(GuessG711(bytes.data(), std::min<std::size_t>(bytes.size(), 65536)), GetParam().encoding);
}

INSTANTIATE_TEST_SUITE_P(Signals, G711GuessTest, ::testing::ValuesIn(kGuesses),
                         [](const auto& info) { return std::string(info.param.name); });

using G711GuessRunTest = RunFixture;

TEST_F(G711GuessRunTest, WarnsNamingTheFileAndSaysHowLongItRead)
{
    const std::vector<std::uint8_t> tx = Encode(Speech("tx.pcm"), HeaderlessFormat::kALaw);
    settings.txPath = dir.File("tx.raw");
    std::ofstream(settings.txPath, std::ios::binary)
        .write(reinterpret_cast<const char*>(tx.data()), static_cast<std::streamsize>(tx.size()));
    testcaptures::WritePcm(settings.rxPath, Speech("rx.pcm"));
    AnalysisRecord analysis;
    EXPECT_FALSE(Run(&analysis));  // 9.6 s of A-law reads as 4.8 s
    ASSERT_EQ(analysis.captureNotes.size(), 1U);
    EXPECT_EQ(analysis.captureNotes[0].code, "looks-like-g711");
    EXPECT_EQ(analysis.captureNotes[0].text, settings.txPath + " looks like A-law, not 16-bit PCM as its "
                                                               "name says; give --format alaw if it is");
    EXPECT_THAT(ui.details, ::testing::Contains(settings.txPath + ": 4.800 s as read"));
}

}  // namespace
