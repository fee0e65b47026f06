#include "output_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>

#include "tune/file_system.h"
#include "unicode.h"

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
int writeSome(int fd, const uint8_t* bytes, size_t count) { return _write(fd, bytes, unsigned(count)); }
int permissionsOf(const FileStat&) { return _S_IREAD | _S_IWRITE; }
#else
constexpr int kBinary = 0;
ssize_t writeSome(int fd, const uint8_t* bytes, size_t count) { return ::write(fd, bytes, count); }
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
    if (path == "-") {
        // Standard output, written through (in binary on Windows), and left open for the program;
        // but not to a terminal, which a WAV file's bytes would only garble.
#if defined(_WIN32)
        if (_isatty(1)) {
#else
        if (isatty(1)) {
#endif
            error = "standard output is a terminal (redirect it: > out.wav)";
            return false;
        }
#if defined(_WIN32)
        _setmode(1, _O_BINARY);
#endif
        fd = 1;
        standardOutput = true;
        return true;
    }
    FileStat target{};
    const bool exists = statFile(utf8Name(path), &target) == 0;
    if (exists && !avoid.empty() && isRegular(target) && sameFile(utf8Name(path), utf8Name(avoid))) {
        error = "the output is the tune being read";
        return false;
    }
    if (exists && (!isRegular(target) || namesAStream(path))) {
        // A stream or a device: written as it is, never truncated or removed.
        fd = openFile(utf8Name(path), O_WRONLY | kBinary, 0);
        if (fd < 0) error = systemReason(errno);
        return fd >= 0;
    }

    // A regular file, or a new one: a temporary file beside it (beside the file a link names).
    std::error_code ignored;
    fs::path place = pathOf(path);
    if (fs::is_symlink(place, ignored)) place = fs::canonical(place, ignored);
    finalPath = utf8Of(place);
    const fs::path folder = place.parent_path();
    std::string stem(".");
    stem.append(utf8Of(place.filename())).append(".");
    // New files get the usual permissions (those the process's umask leaves); a replaced file keeps
    // its own.
    const int permissions = exists ? permissionsOf(target) : 0666;
    std::random_device entropy;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "%06x.tmp", unsigned(entropy()) & 0xFFFFFF);
        const std::string name = utf8Of(folder / pathOf(stem + suffix));
        if (name.size() >= sizeof temporary) break;
        fd = openFile(utf8Name(name), O_WRONLY | O_CREAT | O_EXCL | kBinary, permissions);
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
    if (standardOutput) return true;
    if (closeFile(descriptor) != 0) {
        error = systemReason(errno);
        abandon();
        return false;
    }
    if (!temporaryExists) return true;
    std::error_code failure;
    fs::rename(pathOf(temporary), pathOf(finalPath), failure);
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
    if (fd >= 0 && !standardOutput) closeFile(fd);
    fd = -1;
    if (temporaryExists.exchange(false)) removeFile(FileName{temporary, true});
}

}  // namespace sidtune
