#include "engine/OutputFile.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include <unistd.h>

namespace tarnwell {

namespace {

bool EndsWithWav(const std::string& path)
{
    constexpr std::string_view kSuffix = ".wav";
    if (path.size() < kSuffix.size()) {
        return false;
    }
    return std::equal(kSuffix.begin(), kSuffix.end(),
                      path.end() - static_cast<std::ptrdiff_t>(kSuffix.size()),
                      [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
}

}  // namespace

OutputFile::OutputFile(FileHandle file, const std::string& path, off_t start)
    : file_(std::move(file)),
      wav_(EndsWithWav(path)),
      start_(start)
{
}

bool OutputFile::WriteAll(const void* bytes, std::size_t size)
{
    if (!wav_) {
        return file_.WriteAll(bytes, size);
    }
    if (!sound_.IsOpen()) {
        SF_INFO info{};
        info.samplerate = 8000;
        info.channels = 1;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        std::string ignored;
        sound_ = SoundFile::OpenDescriptor(file_.Descriptor(), SFM_WRITE, info, ignored);
        if (!sound_.IsOpen()) {
            return false;
        }
    }
    // WAV data is little-endian 16-bit, as the bytes already are: they go in unchanged.
    const auto count = static_cast<sf_count_t>(size);
    return sf_write_raw(sound_.get(), bytes, count) == count;
}

bool OutputFile::Finish() { return sound_.Close(); }

bool OutputFile::Discard()
{
    sound_.Close();  // a WAV writer rewrites its header as it closes: truncate after it
    return !file_.IsOpen() || !file_.IsRegular() || ::ftruncate(file_.Descriptor(), start_) == 0;
}

void OutputFile::Close() noexcept
{
    sound_.Close();
    file_.Close();
}

}  // namespace tarnwell
