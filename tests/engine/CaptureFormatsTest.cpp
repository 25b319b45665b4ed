// Capture formats: every file Tarnwell reads gives the run the same bits as a raw PCM file of
// the samples it decodes to (G.711 as libsndfile decodes it); other rates and sample types are
// converted, keeping the delay, and say so; a stereo file's leading channel is Tx unless one is
// named; what it cannot read is refused with a message naming what was found and what is
// needed; an output named *.wav is a WAV of the raw output's samples.

#include "EngineTestSupport.h"

using namespace tarnwell;
using namespace tarnwell::enginetest;

namespace {

namespace fs = std::filesystem;

constexpr int kPcm16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;

std::string Slurp(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

void WriteBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

// Up to `most` frames, with what info said of the file (set it first for a raw one).
Samples ReadSound(const std::string& path, SF_INFO& info, std::size_t most)
{
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    Samples frames(file != nullptr ? most : 0);
    frames.resize(static_cast<std::size_t>(
        sf_readf_short(file, frames.data(), static_cast<sf_count_t>(frames.size()))));
    sf_close(file);
    return frames;
}

// G.711 codes of samples and the samples they decode to, both by libsndfile, an implementation
// apart from ours.
std::pair<std::string, Samples> G711(const Samples& samples, int law, const std::string& path)
{
    WriteSound(path, SF_FORMAT_RAW | law, 1, samples);
    SF_INFO info{};
    info.samplerate = 8000;
    info.channels = 1;
    info.format = SF_FORMAT_RAW | law;
    return {Slurp(path), ReadSound(path, info, samples.size())};
}

Samples Interleave(const Samples& first, const Samples& second)
{
    Samples frames;
    for (std::size_t i = 0; i < first.size(); ++i) {
        frames.insert(frames.end(), {first[i], second[i]});
    }
    return frames;
}

auto Bits(const TestResults& r)
{
    const auto b = [](double d) { return std::bit_cast<std::uint64_t>(d); };
    return std::make_tuple(r.delay, b(r.cancellation), b(r.erl), b(r.txLevel), b(r.rxLevel),
                           b(r.residualLevel), r.delayOk, r.erlOk, r.levelsOk, r.residualOk);
}

class CaptureFormatsTest : public RunFixture {
protected:
    bool RunAnalysed()
    {
        analysis = AnalysisRecord{};
        return Run(&analysis);
    }

    AnalysisRecord analysis;
    const Samples tx = testcaptures::Bursts(48000, 2848.0, 4000, 30.0, 17);
    const Samples rx = testcaptures::Echo(tx, 140, 12.0, 10.0);
};

TEST_F(CaptureFormatsTest, EveryFormatGivesTheBitsOfRawPcmOfItsDecodedSamples)
{
    // format 0: headerless G.711 codes; two channels: one file named as both captures.
    const struct {
        const char *txName, *rxName;
        int format, law, channels = 1;
        HeaderlessFormat headerless = HeaderlessFormat::kByName;
        int txChannel = 0;
    } cases[] = {{"t.wav", "r.wav", kPcm16, 0},
                 {"t.wav", "r.wav", SF_FORMAT_WAV, SF_FORMAT_ALAW},
                 {"t.wav", "r.wav", SF_FORMAT_WAV, SF_FORMAT_ULAW},
                 {"t.au", "r.au", SF_FORMAT_AU | SF_FORMAT_PCM_16, 0},
                 {"t.aiff", "r.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 0},
                 {"t.al", "r.alaw", 0, SF_FORMAT_ALAW},
                 {"t.raw", "r.raw", 0, SF_FORMAT_ULAW, 1, HeaderlessFormat::kULaw},
                 {"s.wav", "s.wav", kPcm16, 0, 2},
                 {"s.wav", "s.wav", kPcm16, 0, 2, HeaderlessFormat::kByName, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << c.txName << " " << c.format << " " << c.law << " " << c.txChannel);
        const auto [txCodes, txSeen] = c.law != 0 ? G711(tx, c.law, dir.File("codes"))
                                                  : std::pair{std::string(), tx};
        const auto [rxCodes, rxSeen] = c.law != 0 ? G711(rx, c.law, dir.File("codes"))
                                                  : std::pair{std::string(), rx};
        WriteCaptures(txSeen, rxSeen);
        ASSERT_TRUE(Run());
        ASSERT_GT(results.cancellation, 0.0);  // a full run, not a refusal
        const auto expected = Bits(results);
        const std::string expectedOutput = Slurp(settings.outPath);

        TestSettings decoded = settings;
        decoded.txPath = dir.File(c.txName);
        decoded.rxPath = dir.File(c.rxName);
        decoded.headerless = c.headerless;
        decoded.txChannel = c.txChannel;
        if (c.channels == 2) {
            WriteSound(decoded.txPath, c.format, 2,
                       c.txChannel == 0 ? Interleave(tx, rx) : Interleave(rx, tx));
        } else if (c.format == 0) {
            WriteBytes(decoded.txPath, txCodes);
            WriteBytes(decoded.rxPath, rxCodes);
        } else {
            WriteSound(decoded.txPath, c.format | c.law, 1, tx, 8000, c.law != 0 ? &txCodes : nullptr);
            WriteSound(decoded.rxPath, c.format | c.law, 1, rx, 8000, c.law != 0 ? &rxCodes : nullptr);
        }
        ASSERT_TRUE(RunLeavingNothingBehind(decoded, results, ui)) << ::testing::PrintToString(ui.calls);
        EXPECT_EQ(Bits(results), expected);
        EXPECT_EQ(Slurp(settings.outPath), expectedOutput);
    }
}

// A WAV header announcing one sample more than the run takes, on a sparse file.
void WriteOversizeWav(const std::string& path)
{
    const std::uint32_t dataBytes = 2 * (static_cast<std::uint32_t>(testthresholds::kMaxSamples) + 1);
    WriteSound(path, kPcm16, 1, Samples(1, 0));  // a 44-byte header, its sizes patched below
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    for (auto [at, value] : {std::pair{4, 36 + dataBytes}, {40, dataBytes}}) {
        file.seekp(at);
        for (int i = 0; i < 4; ++i) {
            file.put(static_cast<char>(value >> (8 * i)));
        }
    }
    file.close();
    fs::resize_file(path, 44 + dataBytes);
}

TEST_F(CaptureFormatsTest, WhatTarnwellCannotUseIsRefusedNamingWhatWasFoundAndWhatIsNeeded)
{
    const std::string pcm = settings.txPath, wav = dir.File("rx.wav"), al = dir.File("rx.al"),
                      flac = dir.File("rx.flac");
    const std::string aiff = dir.File("rx.aiff");
    const auto sound = [&](int format, int channels, const Samples& frames, int rate = 8000) {
        return [=, this] { WriteSound(wav, format, channels, frames, rate); };
    };
    const struct {
        std::function<void()> write;
        std::string txPath, rxPath;
        std::string message;  // a prefix when it ends in "("
        int resample = 0;     // other rates and sample types refused, as --no-resample asks
    } cases[] = {
        {sound(kPcm16, 1, tx, 16000), pcm, wav, "rx.wav is 16000 samples/s; Tarnwell needs 8000 samples/s"},
        {sound(SF_FORMAT_WAV | SF_FORMAT_PCM_24, 1, tx), pcm, wav,
         "rx.wav is Signed 24 bit PCM; Tarnwell needs 16-bit PCM, A-law or \u00b5-law"},
        {sound(kPcm16, 3, Samples(3 * 48000, 0)), pcm, wav,
         "rx.wav has 3 channels; Tarnwell needs 1 channel, or 2 in one file named as both Tx and Rx"},
        {sound(kPcm16, 2, Interleave(tx, tx)), pcm, wav,
         "rx.wav has 2 channels; Tarnwell needs 1 channel, or 2 in one file named as both Tx and Rx"},
        {sound(kPcm16, 1, tx), wav, wav, "rx.wav has 1 channel; as both Tx and Rx Tarnwell needs 2 channels"},
        {[&] {
             sound(kPcm16, 1, tx)();
             fs::resize_file(wav, 30);
         },
         pcm, wav, "rx.wav has a WAV header that cannot be read ("},
        {[&] {
             WriteSound(aiff, SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 1, tx);
             fs::resize_file(aiff, 30);
         },
         pcm, aiff, "rx.aiff has an AIFF header that cannot be read ("},
        {[&] { WriteSound(flac, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 1, tx); }, pcm, flac,
         "rx.flac is a FLAC file; Tarnwell needs WAV, AU or AIFF, or a capture without a header"},
        // The screens count decoded samples, one A-law byte each; a header is sized before any
        // allocation (4 GiB would not be allocated in time).
        {[&] { WriteBytes(al, std::string(40000, '\xD5')); }, pcm, al, msg::kCheckSize},
        {[&] { WriteBytes(al, std::string(40001, '\xD5')); }, pcm, al, msg::kDelayFailed},
        {[&] {
             WriteOversizeWav(dir.File("tx.wav"));
             WriteOversizeWav(wav);
         },
         dir.File("tx.wav"), wav, msg::kTooLarge},
        {sound(kPcm16, 1, Samples(40000, 0), 2000), pcm, wav,
         "rx.wav is 2000 samples/s; Tarnwell converts 4000 to 384000 samples/s", 1},
    };
    testcaptures::WritePcm(settings.txPath, tx);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        c.write();
        settings.resample = c.resample;
        settings.txPath = c.txPath;
        settings.rxPath = c.rxPath;
        ExpectFails(c.message);
    }
}

TEST_F(CaptureFormatsTest, OtherRatesAndSampleTypesAreConvertedKeepingTheDelayAndSaySo)
{
    const std::tuple<int, int, std::string> cases[] = {
        // rate, format, the Rx capture's note
        {48000, kPcm16, "rx.wav resampled from 48000 to 8000 samples/s"},
        {44100, SF_FORMAT_WAV | SF_FORMAT_FLOAT, "rx.wav resampled from 44100 to 8000 samples/s"},
        {8000, SF_FORMAT_WAV | SF_FORMAT_PCM_24, "rx.wav converted from Signed 24 bit PCM to 16-bit PCM"}};
    settings.txPath = dir.File("tx.wav");
    settings.rxPath = dir.File("rx.wav");
    for (const auto& [rate, format, note] : cases) {
        SCOPED_TRACE(note);
        // 6 s of bursts at the file's rate, and their echo 140 samples at 8000/s later.
        const Samples bursts = testcaptures::Bursts(rate * 6, 2848.0, rate / 2, 0.0, 7);
        WriteSound(settings.txPath, format, 1, bursts, rate);
        WriteSound(settings.rxPath, format, 1,
                   testcaptures::Echo(bursts, static_cast<int>(std::lround(140.0 * rate / 8000)), 12.0),
                   rate);
        RunAnalysed();
        EXPECT_NEAR(results.delay, 140, 1);
        EXPECT_EQ(analysis.sampleCount, 48000);
        ASSERT_EQ(analysis.captureNotes.size(), 2U);
        EXPECT_EQ(std::tie(analysis.captureNotes[1].code, analysis.captureNotes[1].text),
                  std::tie("converted", note));
        EXPECT_FALSE(analysis.captureNotes[1].warning);
    }
}

TEST_F(CaptureFormatsTest, AStereoFilesTxIsTheChannelThatLeadsUnlessOneIsNamed)
{
    // Where the recorder put Tx; as the settings give it (-1: to be found); the channel the record
    // says Tx was read from.
    const std::tuple<int, int, int> cases[] = {{0, -1, 0}, {1, -1, 1}, {1, 1, 1}, {1, 0, 0}};
    settings.txPath = settings.rxPath = dir.File("call.wav");
    for (auto [txInFile, txChannel, used] : cases) {
        SCOPED_TRACE(::testing::Message() << txInFile << " " << txChannel);
        WriteSound(settings.txPath, kPcm16, 2, txInFile == 0 ? Interleave(tx, rx) : Interleave(rx, tx));
        settings.txChannel = txChannel;
        RunAnalysed();
        EXPECT_EQ(analysis.txChannel, used);
        // A named wrong channel is obeyed: the run sees the captures the wrong way round.
        EXPECT_EQ(results.delay == 140, used == txInFile) << results.delay;
        if (txChannel >= 0) {
            EXPECT_TRUE(analysis.captureNotes.empty());
            continue;
        }
        ASSERT_EQ(analysis.captureNotes.size(), 1U);
        EXPECT_EQ(analysis.captureNotes[0].text,
                  "Tx taken as channel " + std::to_string(used) +
                      " of call.wav, whose signal leads; --tx-channel says otherwise");
    }
}

TEST_F(CaptureFormatsTest, AnOutputNamedWavHoldsTheRawOutputsSamplesAndStaysEmptyAfterAFailure)
{
    WriteCaptures(tx, rx);
    ASSERT_TRUE(Run());
    const Samples raw = testcaptures::ReadPcm(settings.outPath);
    ASSERT_EQ(raw.size(), tx.size());

    settings.outPath = dir.File("out.WAV");
    ASSERT_TRUE(Run());
    SF_INFO info{};
    EXPECT_EQ(ReadSound(settings.outPath, info, raw.size() + 1), raw);
    EXPECT_EQ(std::tie(info.samplerate, info.channels, info.format), std::make_tuple(8000, 1, kPcm16));

    testcaptures::WritePcm(settings.txPath, Samples(tx.size(), 0));  // no voice: refused before the pass
    EXPECT_FALSE(Run());
    EXPECT_EQ(fs::file_size(settings.outPath), 0u);
}

}  // namespace
