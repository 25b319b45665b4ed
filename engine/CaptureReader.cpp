#include "engine/CaptureReader.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <utility>
#include <vector>

#include <soxr.h>

#include <sys/stat.h>
#include <unistd.h>

#include "engine/G711.h"
#include "engine/G711Guess.h"
#include "engine/SampleBuffer.h"

namespace tarnwell {

namespace {

constexpr int kSampleRate = 8000;
constexpr int kChunk = 2048;  // samples decoded per step: small enough for the stack

struct Header {
    const char* kind = nullptr;  // nullptr: no header, the file is raw samples
    bool readable = false;       // a container Tarnwell reads (through libsndfile)
};

// The container a file's first bytes announce. Only these few magic numbers count, so that no
// raw capture is ever taken for another format because its first samples look like one.
Header FindHeader(const FileHandle& file)
{
    char head[12] = {};
    if (::pread(file.Descriptor(), head, sizeof head, 0) != static_cast<ssize_t>(sizeof head)) {
        return {};
    }
    const std::string_view first(head, 4);
    const std::string_view form(head + 8, 4);
    if ((first == "RIFF" || first == "RIFX" || first == "RF64") && form == "WAVE") {
        return {"WAV", true};
    }
    if (first == ".snd" || first == "dns.") {
        return {"AU", true};
    }
    if (first == "FORM" && (form == "AIFF" || form == "AIFC")) {
        return {"AIFF", true};
    }
    // Compressed and other containers: refused by name rather than read as noise.
    const std::pair<std::string_view, const char*> others[] = {
        {"fLaC", "FLAC"}, {"OggS", "Ogg"}, {"caff", "CAF"}, {"riff", "W64"}};
    for (const auto& [magic, kind] : others) {
        if (first == magic) {
            return {kind, false};
        }
    }
    return {};
}

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

HeaderlessFormat FormatByName(const std::string& path)
{
    const std::string extension = Lower(std::filesystem::path(path).extension().string());
    if (extension == ".al" || extension == ".alaw") {
        return HeaderlessFormat::kALaw;
    }
    if (extension == ".ul" || extension == ".ulaw") {
        return HeaderlessFormat::kULaw;
    }
    return HeaderlessFormat::kPcm16;
}

std::string EncodingName(int format)
{
    SF_FORMAT_INFO info{};
    info.format = format & SF_FORMAT_SUBMASK;
    if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof info) == 0 && info.name != nullptr) {
        return info.name;
    }
    return "an unknown encoding";
}

// Sample types that are read as floating point and rounded to 16 bits.
bool IsConvertible(int encoding)
{
    switch (encoding) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_PCM_16:
    case SF_FORMAT_PCM_24:
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT:
    case SF_FORMAT_DOUBLE:
    case SF_FORMAT_ALAW:
    case SF_FORMAT_ULAW:
        return true;
    default:
        return false;
    }
}

std::string Plural(int count, const char* word)
{
    return std::to_string(count) + " " + word + (count == 1 ? "" : "s");
}

}  // namespace

bool CaptureReader::Open(const FileHandle& file, const std::string& path, HeaderlessFormat headerless,
                         int channel, std::string& refusal, bool convert)
{
    file_ = &file;
    const std::string name = std::filesystem::path(path).filename().string();
    const Header header = FindHeader(file);
    if (header.kind == nullptr) {
        struct stat info {};
        if (!file.Stat(info)) {
            refusal = name + " cannot be read";
            return false;
        }
        const HeaderlessFormat format = headerless == HeaderlessFormat::kByName ? FormatByName(path)
                                                                                : headerless;
        // Raw PCM: an odd last byte is no sample.
        kind_ = format == HeaderlessFormat::kALaw   ? Kind::kALaw
                : format == HeaderlessFormat::kULaw ? Kind::kULaw
                                                    : Kind::kPcm16;
        sampleCount_ = kind_ == Kind::kPcm16 ? info.st_size / 2 : info.st_size;
        if (headerless == HeaderlessFormat::kByName && kind_ == Kind::kPcm16) {
            // The name said PCM; the first bytes may say otherwise. Only a warning: the file is
            // still read as its name says.
            std::array<std::uint8_t, 65536> head;
            const ssize_t got = ::pread(file.Descriptor(), head.data(), head.size(), 0);
            looksLike_ = got > 0 ? GuessG711(head.data(), static_cast<std::size_t>(got))
                                 : HeaderlessFormat::kPcm16;
        }
        return true;
    }

    // "an AIFF", "an AU", "a WAV".
    const std::string kind = (std::string_view("AEIOU").find(header.kind[0]) != std::string_view::npos
                                  ? "an "
                                  : "a ") +
                             std::string(header.kind);
    if (!header.readable) {
        refusal = name + " is " + kind +
                  " file; Tarnwell needs WAV, AU or AIFF, or a capture without a header";
        return false;
    }
    SF_INFO info{};
    std::string reason;
    sound_ = SoundFile::OpenDescriptor(file.Descriptor(), SFM_READ, info, reason);
    if (!sound_.IsOpen()) {
        refusal = name + " has " + kind + " header that cannot be read (" + reason +
                  "); Tarnwell needs a complete header";
        return false;
    }
    const int encoding = info.format & SF_FORMAT_SUBMASK;
    const bool direct = (encoding == SF_FORMAT_PCM_16 || encoding == SF_FORMAT_ALAW ||
                         encoding == SF_FORMAT_ULAW) &&
                        info.samplerate == kSampleRate;
    if (!direct && convert && IsConvertible(encoding) && info.samplerate > 0) {
        const bool stereo = channel != kWholeFile;
        if (info.channels != (stereo ? 2 : 1)) {
            refusal = name + " has " + Plural(info.channels, "channel") +
                      (stereo ? "; as both Tx and Rx Tarnwell needs 2 channels"
                              : "; Tarnwell needs 1 channel, or 2 in one file named as both Tx and Rx");
            return false;
        }
        return Convert(info, stereo ? channel : 0, name, refusal);
    }
    if (encoding != SF_FORMAT_PCM_16 && encoding != SF_FORMAT_ALAW && encoding != SF_FORMAT_ULAW) {
        refusal = name + " is " + EncodingName(info.format) +
                  "; Tarnwell needs 16-bit PCM, A-law or \u00b5-law";
        return false;
    }
    if (info.samplerate != kSampleRate) {
        refusal = name + " is " + std::to_string(info.samplerate) +
                  " samples/s; Tarnwell needs 8000 samples/s";
        return false;
    }
    const bool stereo = channel != kWholeFile;
    if (info.channels != (stereo ? 2 : 1)) {
        refusal = name + " has " + Plural(info.channels, "channel") +
                  (stereo ? "; as both Tx and Rx Tarnwell needs 2 channels"
                          : "; Tarnwell needs 1 channel, or 2 in one file named as both Tx and Rx");
        return false;
    }
    kind_ = Kind::kSoundFile;
    channels_ = info.channels;
    channel_ = stereo ? channel : 0;
    sampleCount_ = info.frames;
    return true;
}

bool CaptureReader::Read(std::int16_t* samples, int count)
{
    switch (kind_) {
    case Kind::kPcm16:
        if (!file_->ReadExactly(samples, static_cast<std::size_t>(count) * sizeof(std::int16_t))) {
            return false;
        }
        ConvertLittleEndian(samples, count);
        return true;
    case Kind::kALaw:
    case Kind::kULaw:
        return ReadG711(samples, count);
    case Kind::kSoundFile:
        return ReadSoundFile(samples, count);
    case Kind::kConverted:
        return ReadConverted(samples, count);
    }
    return false;
}

bool CaptureReader::ReadG711(std::int16_t* samples, int count)
{
    const g711::Table& table = kind_ == Kind::kALaw ? g711::kALaw : g711::kULaw;
    std::array<std::uint8_t, kChunk> codes;
    for (int done = 0; done < count;) {
        const int step = std::min(kChunk, count - done);
        if (!file_->ReadExactly(codes.data(), static_cast<std::size_t>(step))) {
            return false;
        }
        for (int i = 0; i < step; ++i) {
            samples[done + i] = table[codes[static_cast<std::size_t>(i)]];
        }
        done += step;
    }
    return true;
}

bool CaptureReader::ReadSoundFile(std::int16_t* samples, int count)
{
    if (channels_ == 1) {
        return sf_readf_short(sound_.get(), samples, count) == count;
    }
    // Two channels: one interleaved chunk at a time, keeping this reader's channel.
    std::array<std::int16_t, kChunk> frames;
    const int framesPerChunk = kChunk / channels_;
    for (int done = 0; done < count;) {
        const int step = std::min(framesPerChunk, count - done);
        if (sf_readf_short(sound_.get(), frames.data(), step) != step) {
            return false;
        }
        for (int i = 0; i < step; ++i) {
            samples[done + i] = frames[static_cast<std::size_t>(i * channels_ + channel_)];
        }
        done += step;
    }
    return true;
}

}  // namespace tarnwell

namespace tarnwell {

bool CaptureReader::Convert(const SF_INFO& info, int channel, const std::string& name, std::string& refusal)
{
    // Read in chunks as doubles (libsndfile scales every sample type to -1..1); the rate
    // converted by libsoxr at its high quality, linear phase, so that both captures, converted
    // the same way, keep their mutual delay. Nothing is read before the size screens.
    // Rates that sound cards and recorders use; outside them a header is more likely damaged.
    constexpr int kLowestRate = 4000;
    constexpr int kHighestRate = 384000;
    if (info.samplerate < kLowestRate || info.samplerate > kHighestRate) {
        refusal = name + " is " + std::to_string(info.samplerate) + " samples/s; Tarnwell converts " +
                  std::to_string(kLowestRate) + " to " + std::to_string(kHighestRate) + " samples/s";
        return false;
    }
    channels_ = info.channels;
    channel_ = channel;
    rate_ = info.samplerate;
    if (rate_ != kSampleRate) {
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT64_I);
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
        const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
        soxr_error_t error = nullptr;
        resampler_.reset(soxr_create(rate_, kSampleRate, 1, &error, &io, &quality, &runtime));
        if (error != nullptr || !resampler_) {
            refusal = name + " cannot be resampled: " + (error != nullptr ? error : "no resampler");
            return false;
        }
        conversion_ = "resampled from " + std::to_string(rate_) + " to 8000 samples/s";
    } else {
        conversion_ = "converted from " + EncodingName(info.format) + " to 16-bit PCM";
    }
    kind_ = Kind::kConverted;
    // Whole output samples only: the resampler gives at least this many once flushed.
    sampleCount_ = static_cast<std::int64_t>(static_cast<long double>(info.frames) * kSampleRate / rate_);
    return true;
}

bool CaptureReader::ReadConverted(std::int16_t* samples, int count)
{
    std::vector<double> frames(static_cast<std::size_t>(kChunk * channels_));
    std::vector<double> input(kChunk);
    // Enough room for one chunk's output at any upsampling ratio.
    std::vector<double> output(
        static_cast<std::size_t>(kChunk) * kSampleRate / static_cast<std::size_t>(rate_) + 64);
    bool flushed = false;
    int done = 0;
    const auto put = [&](const double* values, std::size_t n) {
        for (std::size_t i = 0; i < n && done < count; ++i) {
            const double scaled = std::nearbyint(values[i] * 32768.0);
            samples[done++] = static_cast<std::int16_t>(scaled > 32767.0    ? 32767.0
                                                        : scaled < -32768.0 ? -32768.0
                                                                            : scaled);
        }
    };
    while (done < count) {
        const sf_count_t got = flushed ? 0 : sf_readf_double(sound_.get(), frames.data(), kChunk);
        for (sf_count_t i = 0; i < got; ++i) {
            input[static_cast<std::size_t>(i)] = frames[static_cast<std::size_t>(i * channels_ + channel_)];
        }
        if (!resampler_) {
            if (got <= 0) {
                return false;
            }
            put(input.data(), static_cast<std::size_t>(got));
            continue;
        }
        if (got <= 0 && flushed) {
            // Drain what the resampler still holds.
            std::size_t produced = 0;
            if (soxr_process(resampler_.get(), nullptr, 0, nullptr, output.data(), output.size(),
                             &produced) != nullptr ||
                produced == 0) {
                return false;
            }
            put(output.data(), produced);
            continue;
        }
        flushed = got <= 0;
        std::size_t used = 0;
        std::size_t produced = 0;
        if (soxr_process(resampler_.get(), got > 0 ? input.data() : nullptr,
                         got > 0 ? static_cast<std::size_t>(got) : 0, &used, output.data(), output.size(),
                         &produced) != nullptr) {
            return false;
        }
        put(output.data(), produced);
    }
    return true;
}

}  // namespace tarnwell
