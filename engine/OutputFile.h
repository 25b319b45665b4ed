// OutputFile: where a run writes the cancelled Rx. Raw 16-bit little-endian PCM, or, when
// the name ends in ".wav", a 16-bit 8000 samples/s mono WAV written through libsndfile. The
// WAV header goes out with the first samples, so a run that writes none leaves the file
// empty, as a raw output would be.
#pragma once

#include <cstddef>
#include <string>

#include "engine/FileHandle.h"
#include "engine/SoundFile.h"

namespace tarnwell {

class OutputFile {
public:
    OutputFile() = default;
    // start: where the run's bytes begin; a failed run cuts the file back to it, so that
    // what was there before (an appended-to standard output) stays.
    OutputFile(FileHandle file, const std::string& path, off_t start = 0);

    // True when the name ends in ".wav": the samples go out with a WAV header.
    bool IsWav() const { return wav_; }

    const FileHandle& Handle() const { return file_; }

    // Appends size bytes of little-endian samples; false on an error.
    bool WriteAll(const void* bytes, std::size_t size);

    // Completes what was written (a WAV header's lengths); false on an error.
    bool Finish();

    // Empties the file of whatever a failed run wrote, header and all, back to its start;
    // true when that is done, or it is a pipe or a device (what went there is gone), or was
    // never opened.
    bool Discard();

    // Completes what it can and closes the file.
    void Close() noexcept;

private:
    FileHandle file_;
    bool wav_ = false;
    off_t start_ = 0;
    SoundFile sound_;
};

}  // namespace tarnwell
