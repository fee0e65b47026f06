#include "tune/tune_file.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

namespace sidtune {
namespace {

#if defined(_WIN32)
constexpr int kOpenFlags = _O_RDONLY | _O_BINARY | _O_NOINHERIT;
int readSome(int fd, uint8_t* to, size_t bytes) { return _read(fd, to, unsigned(bytes)); }
#else
// Without blocking: opening a FIFO waits for a writer otherwise. Reads of a regular file are
// unchanged by it.
constexpr int kOpenFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY;
ssize_t readSome(int fd, uint8_t* to, size_t bytes) { return read(fd, to, bytes); }
#endif

TuneFileRead failed(TuneFileStatus status, int error = 0, size_t size = 0) { return {status, error, size}; }

// Opens a regular file for reading, without blocking; its size in `size`. -1 and the reason
// otherwise.
int openRegular(FileName path, TuneFileRead& failure, uint64_t& size) {
    if (path.text == nullptr) {
        failure = failed(TuneFileStatus::CannotOpen, ENOENT);
        return -1;
    }
    FileStat s{};
    // A directory cannot be opened on Windows, and opens but cannot be read on Linux: told apart
    // from the name first, so that it is never reported as a file that cannot be read.
    if (statFile(path, &s) == 0 && isDirectory(s)) {
        failure = failed(TuneFileStatus::Directory);
        return -1;
    }
    const int fd = openFile(path, kOpenFlags);
    if (fd < 0) {
        failure = failed(TuneFileStatus::CannotOpen, errno);
        return -1;
    }
    if (statOpenFile(fd, &s) != 0 || !isRegular(s)) {
        const bool directory = isDirectory(s);
        closeFile(fd);
        failure = failed(directory ? TuneFileStatus::Directory : TuneFileStatus::NotRegular);
        return -1;
    }
    size = uint64_t(s.st_size);
    return fd;
}

// Reads up to `capacity` bytes; closes the file.
TuneFileRead readOpen(int fd, uint8_t* buffer, size_t capacity) {
    size_t size = 0;
    while (size < capacity) {
        const auto n = readSome(fd, buffer + size, capacity - size);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            closeFile(fd);
            return failed(TuneFileStatus::ReadFailed, error, size);
        }
        size += size_t(n);
    }
    closeFile(fd);
    return {TuneFileStatus::Read, 0, size};
}

}  // namespace

TuneFileRead readTuneFile(FileName path, uint8_t* buffer, size_t capacity) {
    TuneFileRead failure{};
    uint64_t size = 0;
    const int fd = openRegular(path, failure, size);
    return fd < 0 ? failure : readOpen(fd, buffer, capacity);
}

TuneFileRead readWholeFile(FileName path, size_t limit, std::vector<uint8_t>& bytes) {
    TuneFileRead failure{};
    uint64_t size = 0;
    const int fd = openRegular(path, failure, size);
    if (fd < 0) return failure;
    if (size > limit) {
        closeFile(fd);
        return failed(TuneFileStatus::TooLarge);
    }
    try {
        bytes.resize(size_t(size));
    } catch (...) {
        closeFile(fd);
        return failed(TuneFileStatus::TooLarge);
    }
    // A file that grew since it was sized is read to the size it had.
    const TuneFileRead read = readOpen(fd, bytes.data(), bytes.size());
    bytes.resize(read.size);
    return read;
}

const char* describe(const TuneFileRead& read) {
    switch (read.status) {
        case TuneFileStatus::Read: return "read";
        case TuneFileStatus::Directory: return "is a directory";
        case TuneFileStatus::NotRegular: return "is not a regular file";
        case TuneFileStatus::TooLarge: return "is too large";
        case TuneFileStatus::CannotOpen:
        case TuneFileStatus::ReadFailed: return std::strerror(read.systemError);
    }
    return "cannot be read";
}

}  // namespace sidtune
