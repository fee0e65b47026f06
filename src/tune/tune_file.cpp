#include "tune/tune_file.h"

#include <fcntl.h>
#include <sys/stat.h>

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
int openFile(const char* path) { return _open(path, kOpenFlags); }
int readSome(int fd, uint8_t* to, size_t bytes) { return _read(fd, to, unsigned(bytes)); }
int closeFile(int fd) { return _close(fd); }
using FileStat = struct _stat64;
int statFile(const char* path, FileStat* s) { return _stat64(path, s); }
int statOpenFile(int fd, FileStat* s) { return _fstat64(fd, s); }
bool isDirectory(const FileStat& s) { return (s.st_mode & _S_IFMT) == _S_IFDIR; }
bool isRegular(const FileStat& s) { return (s.st_mode & _S_IFMT) == _S_IFREG; }
#else
// Without blocking: opening a FIFO waits for a writer otherwise. Reads of a regular file are
// unchanged by it.
constexpr int kOpenFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
int openFile(const char* path) { return open(path, kOpenFlags); }
ssize_t readSome(int fd, uint8_t* to, size_t bytes) { return read(fd, to, bytes); }
int closeFile(int fd) { return close(fd); }
using FileStat = struct stat;
int statFile(const char* path, FileStat* s) { return stat(path, s); }
int statOpenFile(int fd, FileStat* s) { return fstat(fd, s); }
bool isDirectory(const FileStat& s) { return S_ISDIR(s.st_mode); }
bool isRegular(const FileStat& s) { return S_ISREG(s.st_mode); }
#endif

TuneFileRead failed(TuneFileStatus status, int error = 0, size_t size = 0) { return {status, error, size}; }

}  // namespace

TuneFileRead readTuneFile(const char* path, uint8_t* buffer, size_t capacity) {
    if (path == nullptr) return failed(TuneFileStatus::CannotOpen, ENOENT);
    FileStat s{};
    // A directory cannot be opened on Windows, and opens but cannot be read on Linux: told apart
    // from the name first, so that it is never reported as a file that cannot be read.
    if (statFile(path, &s) == 0 && isDirectory(s)) return failed(TuneFileStatus::Directory);
    const int fd = openFile(path);
    if (fd < 0) return failed(TuneFileStatus::CannotOpen, errno);
    if (statOpenFile(fd, &s) != 0 || !isRegular(s)) {
        const bool directory = isDirectory(s);
        closeFile(fd);
        return failed(directory ? TuneFileStatus::Directory : TuneFileStatus::NotRegular);
    }
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

const char* describe(const TuneFileRead& read) {
    switch (read.status) {
        case TuneFileStatus::Read: return "read";
        case TuneFileStatus::Directory: return "is a directory";
        case TuneFileStatus::NotRegular: return "is not a regular file";
        case TuneFileStatus::CannotOpen:
        case TuneFileStatus::ReadFailed: return std::strerror(read.systemError);
    }
    return "cannot be read";
}

}  // namespace sidtune
