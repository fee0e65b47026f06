#include "output_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

namespace sidtune {
namespace {

namespace fs = std::filesystem;

#if defined(_WIN32)
constexpr int kBinary = _O_BINARY;
using FileStat = struct _stat64;
int statFile(const char* path, FileStat* s) { return _stat64(path, s); }
bool isRegular(const FileStat& s) { return (s.st_mode & _S_IFMT) == _S_IFREG; }
int writeSome(int fd, const uint8_t* bytes, size_t count) { return _write(fd, bytes, unsigned(count)); }
int closeFile(int fd) { return _close(fd); }
int removeFile(const char* path) { return _unlink(path); }
int openFile(const char* path, int flags, int mode) { return _open(path, flags, mode); }
int permissionsOf(const FileStat&) { return _S_IREAD | _S_IWRITE; }
#else
constexpr int kBinary = 0;
using FileStat = struct stat;
int statFile(const char* path, FileStat* s) { return stat(path, s); }
bool isRegular(const FileStat& s) { return S_ISREG(s.st_mode); }
ssize_t writeSome(int fd, const uint8_t* bytes, size_t count) { return ::write(fd, bytes, count); }
int closeFile(int fd) { return close(fd); }
int removeFile(const char* path) { return unlink(path); }
int openFile(const char* path, int flags, int mode) { return ::open(path, flags | O_CLOEXEC, mode); }
int permissionsOf(const FileStat& s) { return int(s.st_mode & 07777); }
#endif

std::string systemReason(int error) { return std::strerror(error); }

// The names of special files that stand for a stream: written through even where they resolve to
// a regular file (/dev/stdout of a program whose output goes to a file).
bool namesAStream(const std::string& path) {
    return path.rfind("/dev/", 0) == 0 || path.rfind("/proc/", 0) == 0;
}

}  // namespace

bool OutputFile::open(const std::string& path, const std::string& avoid, std::string& error) {
    FileStat target{};
    const bool exists = statFile(path.c_str(), &target) == 0;
    if (exists && !avoid.empty()) {
        FileStat input{};
        if (statFile(avoid.c_str(), &input) == 0 && input.st_dev == target.st_dev &&
            input.st_ino == target.st_ino && isRegular(target)) {
            error = "the output is the tune being read";
            return false;
        }
    }
    if (exists && (!isRegular(target) || namesAStream(path))) {
        // A stream or a device: written as it is, never truncated or removed.
        fd = openFile(path.c_str(), O_WRONLY | kBinary, 0);
        if (fd < 0) error = systemReason(errno);
        return fd >= 0;
    }

    // A regular file, or a new one: a temporary file beside it (beside the file a link names).
    std::error_code ignored;
    fs::path place = path;
    if (fs::is_symlink(place, ignored)) place = fs::canonical(place, ignored);
    finalPath = place.string();
    const fs::path folder = place.parent_path();
    std::string stem(".");
    stem.append(place.filename().string()).append(".");
    // New files get the usual permissions (those the process's umask leaves); a replaced file keeps
    // its own.
    const int permissions = exists ? permissionsOf(target) : 0666;
    std::random_device entropy;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "%06x.tmp", unsigned(entropy()) & 0xFFFFFF);
        const std::string name = (folder / (stem + suffix)).string();
        if (name.size() >= sizeof temporary) break;
        fd = openFile(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | kBinary, permissions);
        if (fd >= 0) {
            std::memcpy(temporary, name.c_str(), name.size() + 1);
            temporaryExists = true;
            return true;
        }
        if (errno != EEXIST) break;
    }
    error = systemReason(errno);
    return false;
}

bool OutputFile::write(const uint8_t* bytes, size_t count, std::string& error) {
    while (count != 0) {
        const auto n = writeSome(fd, bytes, count);
        if (n < 0) {
            if (errno == EINTR) continue;
            error = systemReason(errno);
            return false;
        }
        bytes += n;
        count -= size_t(n);
    }
    return true;
}

bool OutputFile::commit(std::string& error) {
    const int descriptor = fd;
    fd = -1;
    if (closeFile(descriptor) != 0) {
        error = systemReason(errno);
        abandon();
        return false;
    }
    if (!temporaryExists) return true;
    std::error_code failure;
    fs::rename(temporary, finalPath, failure);
    if (failure) {
        error = failure.message();
        abandon();
        return false;
    }
    temporaryExists = false;
    temporary[0] = 0;
    return true;
}

void OutputFile::abandon() {
    if (fd >= 0) closeFile(fd);
    fd = -1;
    if (temporaryExists.exchange(false)) removeFile(temporary);
}

}  // namespace sidtune
