// SoundFile: owns one libsndfile handle opened on a descriptor that someone else owns (the
// run's FileHandle), and closes the handle, not the descriptor, when it goes out of scope.
// Move-only.
#pragma once

#include <memory>
#include <string>

#include <sndfile.h>

namespace tarnwell {

class SoundFile {
public:
    SoundFile() = default;

    // Opens descriptor for reading (SFM_READ: info is filled in) or writing (SFM_WRITE: info
    // says what to write). On failure the result is closed and error holds libsndfile's reason.
    static SoundFile OpenDescriptor(int descriptor, int mode, SF_INFO& info, std::string& error);

    bool IsOpen() const { return handle_ != nullptr; }
    SNDFILE* get() const { return handle_.get(); }

    // Closes now; false when libsndfile could not finish the file (a written header, say).
    bool Close() noexcept;

private:
    struct Closer {
        void operator()(SNDFILE* handle) const noexcept { sf_close(handle); }
    };
    std::unique_ptr<SNDFILE, Closer> handle_;
};

}  // namespace tarnwell
