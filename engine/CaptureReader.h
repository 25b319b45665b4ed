// CaptureReader: one capture file in, signed 16-bit samples at 8000 per second out. A file
// with a WAV, AU/SND or AIFF header is decoded by libsndfile and must hold 16-bit PCM, A-law
// or µ-law at 8000 samples/s (or any rate and sample type, converted), in one channel, or in two when the
// file is named as both captures. Any other file is headerless: 16-bit little-endian PCM, or G.711 A-law or
// µ-law when its name or the settings say so. The run sees samples only, never the format.
#pragma once

#include <cstdint>
#include <string>
#include <memory>
#include <type_traits>
#include <vector>

#include <soxr.h>

#include "engine/FileHandle.h"
#include "engine/SoundFile.h"
#include "engine/TestSettings.h"

namespace tarnwell {

class CaptureReader {
public:
    inline static constexpr int kWholeFile = -1;  // channel: the file is this capture alone

    // Looks at the header of file (open at its start; path names it in messages). channel is
    // kWholeFile, or 0 or 1 when the file is named as both captures. False when the file is
    // refused: refusal then says what was found and what is needed.
    // With convert, a file with a header at another rate, or in 24-bit, 32-bit or float
    // samples, is converted to 16-bit at 8000 samples/s as it is read (libsoxr for the rate);
    // without it such a file is refused.
    bool Open(const FileHandle& file, const std::string& path, HeaderlessFormat headerless, int channel,
              std::string& refusal, bool convert = true);

    // What the conversion on opening did, as "resampled from 48000 to 8000 samples/s"; empty
    // when the file was not converted.
    const std::string& Conversion() const { return conversion_; }

    // A headerless file read as 16-bit PCM by its name whose bytes look like A-law or µ-law:
    // that law; otherwise kPcm16. Known after Open.
    HeaderlessFormat LooksLike() const { return looksLike_; }

    // Decoded samples the file holds (before any is read): the size screens count these.
    std::int64_t SampleCount() const { return sampleCount_; }

    // Decodes the first count samples, count at most SampleCount(); false on an early end.
    bool Read(std::int16_t* samples, int count);

private:
    enum class Kind { kPcm16, kALaw, kULaw, kSoundFile, kConverted };

    bool Convert(const SF_INFO& info, int channel, const std::string& name, std::string& refusal);

    bool ReadG711(std::int16_t* samples, int count);
    bool ReadSoundFile(std::int16_t* samples, int count);
    bool ReadConverted(std::int16_t* samples, int count);

    const FileHandle* file_ = nullptr;
    SoundFile sound_;
    Kind kind_ = Kind::kPcm16;
    int channels_ = 1;
    int channel_ = 0;
    std::int64_t sampleCount_ = 0;
    HeaderlessFormat looksLike_ = HeaderlessFormat::kPcm16;
    struct ResamplerDeleter {
        void operator()(soxr_t resampler) const noexcept { soxr_delete(resampler); }
    };
    std::unique_ptr<std::remove_pointer_t<soxr_t>, ResamplerDeleter>
        resampler_;  // kConverted at another rate
    int rate_ = 8000;
    std::string conversion_;
};

}  // namespace tarnwell
