#include "engine/SoundFile.h"

#include <mutex>

namespace tarnwell {

SoundFile SoundFile::OpenDescriptor(int descriptor, int mode, SF_INFO& info, std::string& error)
{
    // A failed open leaves its reason in libsndfile's one global error slot; batch runs open
    // files on several threads, so an open and the reading of its reason go together.
    static std::mutex openMutex;
    const std::lock_guard lock(openMutex);
    SoundFile file;
    file.handle_.reset(sf_open_fd(descriptor, mode, &info, SF_FALSE));
    if (!file.IsOpen()) {
        error = sf_strerror(nullptr);
    }
    return file;
}

bool SoundFile::Close() noexcept
{
    SNDFILE* handle = handle_.release();
    return handle == nullptr || sf_close(handle) == 0;
}

}  // namespace tarnwell
