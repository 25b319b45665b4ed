// The capture readers on files taken from the fuzzer's bytes: WAV, AU and AIFF headers through
// libsndfile, and headerless PCM, A-law and u-law, whole or as one channel of a pair. A reader
// either refuses with a reason or decodes no more than it said it holds.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/CaptureReader.h"
#include "engine/FileHandle.h"
#include "fuzz/FuzzInput.h"

using namespace tarnwell;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::FuzzInput in(data, size);
    const HeaderlessFormat formats[] = {HeaderlessFormat::kByName, HeaderlessFormat::kPcm16,
                                        HeaderlessFormat::kALaw, HeaderlessFormat::kULaw};
    const HeaderlessFormat format = formats[in.Range(0, 3)];
    const int channel = in.Range(-1, 1);
    const char* names[] = {"capture.wav", "capture.al", "capture.ul", "capture.pcm"};
    const std::string name = names[in.Range(0, 3)];

    const int fd = memfd_create(name.c_str(), MFD_CLOEXEC);
    if (fd < 0) {
        return 0;
    }
    for (std::size_t done = 0; done < in.RestSize();) {
        const ssize_t put = write(fd, in.Rest() + done, in.RestSize() - done);
        if (put <= 0) {
            std::abort();
        }
        done += static_cast<std::size_t>(put);
    }
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    const FileHandle file = FileHandle::OpenRegular(path, O_RDONLY);
    close(fd);
    CaptureReader reader;
    std::string refusal;
    if (!reader.Open(file, name, format, channel, refusal)) {
        if (refusal.empty()) {
            std::abort();  // a refusal always says why
        }
        return 0;
    }
    if (reader.SampleCount() < 0) {
        std::abort();
    }
    const int count = static_cast<int>(reader.SampleCount() < 100000 ? reader.SampleCount() : 100000);
    std::vector<std::int16_t> samples(static_cast<std::size_t>(count));
    reader.Read(samples.data(), count);
    return 0;
}
