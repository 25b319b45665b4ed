// Capture formats: every file Tarnwell reads gives the run the same bits as a raw PCM file
// of the samples it decodes to (G.711 as libsndfile decodes it); what it cannot read is
// refused with a message naming what was found and what is needed; the screens count
// decoded samples; an output named *.wav is a WAV of the raw output's samples.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include <sndfile.h>

#include "EngineTestSupport.h"
#include "engine/TestMessages.h"
#include "engine/TestThresholds.h"

using namespace tarnwell;

namespace {

namespace fs = std::filesystem;
using enginetest::Samples;
using Codes = std::vector<std::uint8_t>;

constexpr int kCount = 48000;

// Writes frames (interleaved when channels > 1) with libsndfile; raw codes go in unchanged.
void WriteSound(const std::string& path, int format, int channels, const Samples& frames,
                int rate = 8000, const Codes* codes = nullptr)
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    if (codes != nullptr) {
        sf_write_raw(file, codes->data(), static_cast<sf_count_t>(codes->size()));
    } else {
        sf_writef_short(file, frames.data(), static_cast<sf_count_t>(frames.size()) / channels);
    }
    sf_close(file);
}

// G.711 codes of samples and back, both by libsndfile: an implementation apart from ours.
Codes Encode(const Samples& samples, int law, const testcaptures::TempDir& dir)
{
    const std::string path = dir.File("codes");
    WriteSound(path, SF_FORMAT_RAW | law, 1, samples);
    std::ifstream file(path, std::ios::binary);
    return Codes(std::istreambuf_iterator<char>(file), {});
}

Samples Decode(const Codes& codes, int law, const testcaptures::TempDir& dir)
{
    const std::string path = dir.File("codes");
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(codes.data()),
                                                static_cast<std::streamsize>(codes.size()));
    SF_INFO info{};
    info.samplerate = 8000;
    info.channels = 1;
    info.format = SF_FORMAT_RAW | law;
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    Samples out(codes.size());
    sf_readf_short(file, out.data(), static_cast<sf_count_t>(out.size()));
    sf_close(file);
    return out;
}

Samples Interleave(const Samples& first, const Samples& second)
{
    Samples frames;
    for (std::size_t i = 0; i < first.size(); ++i) {
        frames.insert(frames.end(), {first[i], second[i]});
    }
    return frames;
}

void WriteBytes(const std::string& path, const Codes& bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
}

std::string Slurp(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

// Every member, doubles by their bits.
auto Bits(const TestResults& r)
{
    const auto b = [](double d) { return std::bit_cast<std::uint64_t>(d); };
    return std::make_tuple(r.delay, b(r.cancellation), b(r.erl), b(r.txLevel), b(r.rxLevel),
                           b(r.residualLevel), r.delayOk, r.erlOk, r.levelsOk, r.residualOk);
}

class CaptureFormatsTest : public ::testing::Test {
protected:
    bool Run() { return enginetest::RunLeavingNothingBehind(settings, results, ui); }

    testcaptures::TempDir dir;
    TestSettings settings{.txPath = dir.File("tx.pcm"), .rxPath = dir.File("rx.pcm"),
                          .outPath = dir.File("out.pcm"), .delay = 100, .tail = 128,
                          .nlpEnable = 1, .nlpDiff = 6, .nlpShift = 3, .highPass = 1};
    TestResults results;
    enginetest::RecordingUi ui;
};

TEST_F(CaptureFormatsTest, EveryFormatGivesTheBitsOfRawPcmOfItsDecodedSamples)
{
    const Samples tx = testcaptures::Bursts(kCount, 2848.0, 4000, 30.0, 17);
    const Samples rx = testcaptures::Echo(tx, 140, 12.0, 10.0);
    const Codes txA = Encode(tx, SF_FORMAT_ALAW, dir), rxA = Encode(rx, SF_FORMAT_ALAW, dir);
    const Codes txU = Encode(tx, SF_FORMAT_ULAW, dir), rxU = Encode(rx, SF_FORMAT_ULAW, dir);
    const std::string t = dir.File("t"), r = dir.File("r");  // extensions added per case

    // name, Tx path, Rx path, samples the run should see (Tx, Rx), writer, settings tweak
    struct Case {
        const char* name;
        std::string txPath, rxPath;
        Samples txSeen, rxSeen;
        std::function<void()> write;
        std::function<void(TestSettings&)> tweak = [](TestSettings&) {};
    };
    const auto mono = [](int format, const std::string& path, const Samples& s) {
        return [=] { WriteSound(path, format, 1, s); };
    };
    const auto both = [](auto a, auto b) { return [=] { a(); b(); }; };
    const auto g711 = [](int format, const std::string& path, const Codes& c) {
        return [=] { WriteSound(path, format, 1, {}, 8000, &c); };
    };
    const Case cases[] = {
        {"WAV 16-bit", t + ".wav", r + ".wav", tx, rx,
         both(mono(SF_FORMAT_WAV | SF_FORMAT_PCM_16, t + ".wav", tx), mono(SF_FORMAT_WAV | SF_FORMAT_PCM_16, r + ".wav", rx))},
        {"WAV A-law", t + ".wav", r + ".wav", Decode(txA, SF_FORMAT_ALAW, dir), Decode(rxA, SF_FORMAT_ALAW, dir),
         both(g711(SF_FORMAT_WAV | SF_FORMAT_ALAW, t + ".wav", txA), g711(SF_FORMAT_WAV | SF_FORMAT_ALAW, r + ".wav", rxA))},
        {"WAV u-law", t + ".wav", r + ".wav", Decode(txU, SF_FORMAT_ULAW, dir), Decode(rxU, SF_FORMAT_ULAW, dir),
         both(g711(SF_FORMAT_WAV | SF_FORMAT_ULAW, t + ".wav", txU), g711(SF_FORMAT_WAV | SF_FORMAT_ULAW, r + ".wav", rxU))},
        {"AU 16-bit (big-endian)", t + ".au", r + ".au", tx, rx,
         both(mono(SF_FORMAT_AU | SF_FORMAT_PCM_16, t + ".au", tx), mono(SF_FORMAT_AU | SF_FORMAT_PCM_16, r + ".au", rx))},
        {"AIFF 16-bit", t + ".aiff", r + ".aiff", tx, rx,
         both(mono(SF_FORMAT_AIFF | SF_FORMAT_PCM_16, t + ".aiff", tx), mono(SF_FORMAT_AIFF | SF_FORMAT_PCM_16, r + ".aiff", rx))},
        {"raw A-law by name", t + ".al", r + ".alaw", Decode(txA, SF_FORMAT_ALAW, dir), Decode(rxA, SF_FORMAT_ALAW, dir),
         [=] { WriteBytes(t + ".al", txA); WriteBytes(r + ".alaw", rxA); }},
        {"raw u-law by setting", t + ".raw", r + ".raw", Decode(txU, SF_FORMAT_ULAW, dir), Decode(rxU, SF_FORMAT_ULAW, dir),
         [=] { WriteBytes(t + ".raw", txU); WriteBytes(r + ".raw", rxU); },
         [](TestSettings& s) { s.headerless = HeaderlessFormat::kULaw; }},
        {"stereo, Tx first", t + ".wav", t + ".wav", tx, rx,
         [=] { WriteSound(t + ".wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, Interleave(tx, rx)); }},
        {"stereo, Tx second", t + ".wav", t + ".wav", tx, rx,
         [=] { WriteSound(t + ".wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, Interleave(rx, tx)); },
         [](TestSettings& s) { s.txChannel = 1; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testcaptures::WritePcm(settings.txPath, c.txSeen);
        testcaptures::WritePcm(settings.rxPath, c.rxSeen);
        TestSettings raw = settings;
        ASSERT_TRUE(enginetest::RunLeavingNothingBehind(raw, results, ui));
        ASSERT_GT(results.cancellation, 0.0);  // a full run, not a refusal
        const auto expected = Bits(results);
        const std::string expectedOutput = Slurp(settings.outPath);

        c.write();
        TestSettings decoded = settings;
        decoded.txPath = c.txPath;
        decoded.rxPath = c.rxPath;
        c.tweak(decoded);
        ASSERT_TRUE(enginetest::RunLeavingNothingBehind(decoded, results, ui)) << ::testing::PrintToString(ui.calls);
        EXPECT_EQ(Bits(results), expected);
        EXPECT_EQ(Slurp(settings.outPath), expectedOutput);
    }
}

TEST_F(CaptureFormatsTest, FormatsTarnwellCannotUseAreRefusedNamingWhatWasFoundAndWhatIsNeeded)
{
    const Samples tx = testcaptures::Bursts(kCount, 2848.0, 4000, 30.0, 17);
    const std::string wav = dir.File("rx.wav");
    const int pcm16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    const struct {
        std::function<void()> write;
        std::string rxPath;   // empty: rx.wav named as both captures
        std::string message;  // a prefix when it ends in "("
    } cases[] = {
        {[&] { WriteSound(wav, pcm16, 1, tx, 16000); }, wav, "rx.wav is 16000 samples/s; Tarnwell needs 8000 samples/s"},
        {[&] { WriteSound(wav, SF_FORMAT_WAV | SF_FORMAT_PCM_24, 1, tx); }, wav,
         "rx.wav is Signed 24 bit PCM; Tarnwell needs 16-bit PCM, A-law or \u00b5-law"},
        {[&] { WriteSound(wav, pcm16, 3, Samples(3 * 48000, 0)); }, wav,
         "rx.wav has 3 channels; Tarnwell needs 1 channel, or 2 in one file named as both Tx and Rx"},
        {[&] { WriteSound(wav, pcm16, 2, Interleave(tx, tx)); }, wav,
         "rx.wav has 2 channels; Tarnwell needs 1 channel, or 2 in one file named as both Tx and Rx"},
        {[&] { WriteSound(wav, pcm16, 1, tx); }, "",
         "rx.wav has 1 channel; as both Tx and Rx Tarnwell needs 2 channels"},
        {[&] { WriteSound(wav, pcm16, 1, tx); fs::resize_file(wav, 30); }, wav,
         "rx.wav has a WAV header that cannot be read ("},
        {[&] { WriteSound(dir.File("rx.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 1, tx); }, dir.File("rx.flac"),
         "rx.flac is a FLAC file; Tarnwell needs WAV, AU or AIFF, or a capture without a header"},
    };
    testcaptures::WritePcm(settings.txPath, tx);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        c.write();
        settings.rxPath = c.rxPath.empty() ? wav : c.rxPath;
        settings.txPath = c.rxPath.empty() ? wav : dir.File("tx.pcm");
        std::ofstream(settings.outPath) << "previous output";
        EXPECT_FALSE(Run());
        ASSERT_EQ(ui.messages.size(), 1u);
        EXPECT_EQ(ui.statuses, std::vector<std::string>{testmessages::kTestFailed});
        if (c.message.ends_with("(")) {
            EXPECT_TRUE(ui.messages[0].starts_with(c.message)) << ui.messages[0];
        } else {
            EXPECT_EQ(ui.messages[0], c.message);
        }
        EXPECT_EQ(std::tie(results.delay, results.erl), std::make_tuple(0, 0.0));
        EXPECT_EQ(fs::file_size(settings.outPath), 0u);
    }
}

TEST_F(CaptureFormatsTest, TheScreensCountDecodedSamplesAndAHeaderIsSizedBeforeAnyAllocation)
{
    // One A-law byte is one sample: 40000 bytes are 5 s exactly, too short; 40001 silent ones
    // pass the length screen and stop at the activity screen.
    const struct { std::uintmax_t bytes; const char* message; } cases[] = {
        {40000, testmessages::kCheckSize}, {40001, testmessages::kLowActivity}};
    settings.txPath = dir.File("tx.al");
    settings.rxPath = dir.File("rx.al");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        WriteBytes(settings.txPath, Codes(c.bytes, 0xD5));  // A-law's smallest positive step
        WriteBytes(settings.rxPath, Codes(c.bytes, 0xD5));
        EXPECT_FALSE(Run());
        EXPECT_EQ(ui.messages, std::vector<std::string>{c.message});
    }

    // A WAV header announcing one sample more than the run takes, on a sparse file.
    const auto frames = static_cast<std::uint32_t>(testthresholds::kMaxSamples) + 1;
    const std::uint32_t dataBytes = 2 * frames;
    std::string header = "RIFF....WAVEfmt ";
    const auto put32 = [&](std::uint32_t v) { for (int i = 0; i < 4; ++i) header += static_cast<char>(v >> (8 * i) & 0xFF); };
    const auto put16 = [&](std::uint16_t v) { header += static_cast<char>(v & 0xFF); header += static_cast<char>(v >> 8); };
    put32(16); put16(1); put16(1); put32(8000); put32(16000); put16(2); put16(16);
    header += "data";
    put32(dataBytes);
    const std::uint32_t riffSize = 36 + dataBytes;
    for (int i = 0; i < 4; ++i) header[4 + static_cast<std::size_t>(i)] = static_cast<char>(riffSize >> (8 * i) & 0xFF);
    for (const char* name : {"tx.wav", "rx.wav"}) {
        std::ofstream(dir.File(name), std::ios::binary) << header;
        fs::resize_file(dir.File(name), header.size() + dataBytes);
    }
    settings.txPath = dir.File("tx.wav");
    settings.rxPath = dir.File("rx.wav");
    EXPECT_FALSE(Run());  // the header's count alone refuses it: 4 GiB would not be allocated in time
    EXPECT_EQ(ui.messages, std::vector<std::string>{testmessages::kTooLarge});
}

TEST_F(CaptureFormatsTest, AnOutputNamedWavHoldsTheRawOutputsSamplesAndStaysEmptyAfterAFailure)
{
    const Samples tx = testcaptures::Bursts(kCount, 2848.0, 4000, 30.0, 17);
    testcaptures::WritePcm(settings.txPath, tx);
    testcaptures::WritePcm(settings.rxPath, testcaptures::Echo(tx, 140, 12.0, 10.0));
    ASSERT_TRUE(Run());
    const Samples raw = testcaptures::ReadPcm(settings.outPath);
    ASSERT_EQ(raw.size(), static_cast<std::size_t>(kCount));

    settings.outPath = dir.File("out.WAV");
    ASSERT_TRUE(Run());
    SF_INFO info{};
    SNDFILE* file = sf_open(settings.outPath.c_str(), SFM_READ, &info);
    ASSERT_NE(file, nullptr);
    Samples written(raw.size() + 1);
    written.resize(static_cast<std::size_t>(sf_readf_short(file, written.data(), static_cast<sf_count_t>(written.size()))));
    sf_close(file);
    EXPECT_EQ(std::tie(info.samplerate, info.channels, info.format),
              std::make_tuple(8000, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16));
    EXPECT_EQ(written, raw);

    testcaptures::WritePcm(settings.txPath, Samples(kCount, 0));  // no voice: refused before the pass
    EXPECT_FALSE(Run());
    EXPECT_EQ(fs::file_size(settings.outPath), 0u);
}

}  // namespace
