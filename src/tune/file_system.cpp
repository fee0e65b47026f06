#include "tune/file_system.h"

#include <fcntl.h>

#include <cerrno>
#include <string>

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace sidtune {

#if defined(_WIN32)

namespace {

// A UTF-8 name as the wide-character calls take it, into a buffer of the caller's (a signal
// handler's stack, too); false and errno when it is no UTF-8 or longer than any path.
bool wide(const char* text, wchar_t* out, int capacity) {
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, out, capacity);
    if (n == 0) errno = GetLastError() == ERROR_INSUFFICIENT_BUFFER ? ENAMETOOLONG : ENOENT;
    return n != 0;
}

constexpr int kLongestPath = 32768;  // in wide characters, the system's own limit

}  // namespace

int openFile(FileName name, int flags, int mode) {
    if (!name.utf8) return _open(name.text, flags, mode);
    std::wstring path(kLongestPath, L'\0');
    return wide(name.text, path.data(), kLongestPath) ? _wopen(path.c_str(), flags, mode) : -1;
}

int statFile(FileName name, FileStat* s) {
    if (!name.utf8) return _stat64(name.text, s);
    std::wstring path(kLongestPath, L'\0');
    return wide(name.text, path.data(), kLongestPath) ? _wstat64(path.c_str(), s) : -1;
}

int removeFile(FileName name) {
    if (!name.utf8) return _unlink(name.text);
    wchar_t path[kLongestPath];
    return wide(name.text, path, kLongestPath) ? _wunlink(path) : -1;
}

bool sameFile(FileName a, FileName b) {
    BY_HANDLE_FILE_INFORMATION info[2] = {};
    const FileName names[2] = {a, b};
    for (int i = 0; i < 2; ++i) {
        const int fd = openFile(names[i], _O_RDONLY | _O_BINARY);
        if (fd < 0) return false;
        const BOOL known = GetFileInformationByHandle(HANDLE(_get_osfhandle(fd)), &info[i]);
        _close(fd);
        if (!known) return false;
    }
    return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
           info[0].nFileIndexHigh == info[1].nFileIndexHigh && info[0].nFileIndexLow == info[1].nFileIndexLow;
}

int statOpenFile(int fd, FileStat* s) { return _fstat64(fd, s); }
int closeFile(int fd) { return _close(fd); }
bool isRegular(const FileStat& s) { return (s.st_mode & _S_IFMT) == _S_IFREG; }
bool isDirectory(const FileStat& s) { return (s.st_mode & _S_IFMT) == _S_IFDIR; }

#else

int openFile(FileName name, int flags, int mode) { return ::open(name.text, flags | O_CLOEXEC, mode); }
int statFile(FileName name, FileStat* s) { return ::stat(name.text, s); }
int removeFile(FileName name) { return ::unlink(name.text); }
int statOpenFile(int fd, FileStat* s) { return ::fstat(fd, s); }
int closeFile(int fd) { return ::close(fd); }
bool isRegular(const FileStat& s) { return S_ISREG(s.st_mode); }
bool isDirectory(const FileStat& s) { return S_ISDIR(s.st_mode); }

bool sameFile(FileName a, FileName b) {
    FileStat sa{}, sb{};
    return statFile(a, &sa) == 0 && statFile(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

#endif

}  // namespace sidtune
