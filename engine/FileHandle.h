// FileHandle: owns one POSIX file descriptor and closes it when it goes out of scope, so a
// run closes every file it opened on every way out. Move-only.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <string>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnwell {

class FileHandle {
public:
    FileHandle() = default;
    explicit FileHandle(int descriptor) noexcept : descriptor_(descriptor) {}
    ~FileHandle() { Close(); }

    FileHandle(FileHandle&& other) noexcept : descriptor_(std::exchange(other.descriptor_, -1)) {}
    FileHandle& operator=(FileHandle&& other) noexcept
    {
        if (this != &other) {
            Close();
            descriptor_ = std::exchange(other.descriptor_, -1);
        }
        return *this;
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    // Opens path as a regular file; flags as for open(2), close-on-exec always added.
    // Anything else (a directory, a FIFO, a device) counts as a failed open: a FIFO is
    // opened without blocking so that a path naming one cannot hang the caller. On a failure
    // why, when given, gets the reason in a few words ("No such file or directory").
    static FileHandle OpenRegular(const std::string& path, int flags, mode_t mode = 0,
                                  std::string* why = nullptr)
    {
        return Open(path, flags, mode, false, why);
    }

    // As OpenRegular, but a FIFO or a character device (a pipe to a player, /dev/null) is
    // taken too: where an output may go. A FIFO needs its reader to be there already.
    static FileHandle OpenOutput(const std::string& path, int flags, mode_t mode, std::string* why = nullptr)
    {
        return Open(path, flags, mode, true, why);
    }

    // True for a regular file: one that can be emptied and compared with the captures.
    bool IsRegular() const
    {
        struct stat info {};
        return Stat(info) && S_ISREG(info.st_mode);
    }

    bool IsOpen() const { return descriptor_ >= 0; }
    int Descriptor() const { return descriptor_; }

    // True when the file's status could be read into info.
    bool Stat(struct stat& info) const { return IsOpen() && ::fstat(descriptor_, &info) == 0; }

    // Reads exactly size bytes from the current position; false on an error or an early end.
    bool ReadExactly(void* buffer, std::size_t size) const
    {
        auto* out = static_cast<char*>(buffer);
        while (size > 0) {
            const ssize_t got = ::read(descriptor_, out, size);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                return false;
            }
            out += got;
            size -= static_cast<std::size_t>(got);
        }
        return true;
    }

    // Writes all size bytes; false on an error.
    bool WriteAll(const void* buffer, std::size_t size) const
    {
        const auto* in = static_cast<const char*>(buffer);
        while (size > 0) {
            const ssize_t put = ::write(descriptor_, in, size);
            if (put < 0 && errno == EINTR) {
                continue;
            }
            if (put <= 0) {
                return false;
            }
            in += put;
            size -= static_cast<std::size_t>(put);
        }
        return true;
    }

    void Close() noexcept
    {
        if (descriptor_ >= 0) {
            ::close(descriptor_);
            descriptor_ = -1;
        }
    }

private:
    static FileHandle Open(const std::string& path, int flags, mode_t mode, bool streams, std::string* why)
    {
        const auto fail = [why](const char* reason) {
            if (why != nullptr) {
                *why = reason;
            }
            return FileHandle();
        };
        FileHandle file(::open(path.c_str(), flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, mode));
        if (!file.IsOpen()) {
            if (errno == EISDIR) {
                return fail("is a directory");  // as a directory opened for reading reads
            }
            return fail(errno == ENXIO && streams ? "a FIFO with no reader" : std::strerror(errno));
        }
        struct stat info {};
        if (::fstat(file.descriptor_, &info) != 0) {
            return fail(std::strerror(errno));
        }
        if (S_ISDIR(info.st_mode)) {
            return fail("is a directory");
        }
        const bool stream = S_ISFIFO(info.st_mode) || S_ISCHR(info.st_mode);
        if (!S_ISREG(info.st_mode) && !(streams && stream)) {
            return fail("is not a regular file");
        }
        const int status = ::fcntl(file.descriptor_, F_GETFL);
        if (status == -1 || ::fcntl(file.descriptor_, F_SETFL, status & ~O_NONBLOCK) == -1) {
            return fail(std::strerror(errno));
        }
        return file;
    }

    int descriptor_ = -1;
};

}  // namespace tarnwell
