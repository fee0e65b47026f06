// Reading a file the player is given, a tune or a song-length database: the one way the project
// reads one, for the loader, the player and the tools alike. A name is the host's bytes or UTF-8
// (file_system.h).
//
//   readTuneFile(path, buffer, capacity)   at most `capacity` bytes of the file into `buffer`
//   readWholeFile(path, limit, bytes)      the whole file, unless it is larger than `limit`
//                                          (TooLarge, told before anything is read)
//   describe(read)                         the reason a read failed, for a message: the system's
//                                          own ("No such file or directory", "Permission denied"),
//                                          "is a directory" or "is not a regular file"
//
// Only regular files are read. The file is opened without blocking and its type checked before
// anything is read: a FIFO would otherwise hold the host's thread in `open` until some other
// program wrote to it, and a device could deliver bytes for ever. On Windows the file's type comes
// from the same calls of the C runtime (a console or a pipe is not a regular file either).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tune/file_system.h"

namespace sidtune {

enum class TuneFileStatus {
    Read,        // the bytes were read: the whole file, or its first `capacity` bytes
    CannotOpen,  // systemError tells why
    Directory,
    NotRegular,  // a FIFO, a device, a socket, a console
    ReadFailed,  // systemError tells why; `size` bytes were read before the failure
    TooLarge,    // readWholeFile: larger than its limit
};

struct TuneFileRead {
    TuneFileStatus status;
    int systemError;  // an errno value, for CannotOpen and ReadFailed
    size_t size;      // bytes read into the buffer
};

TuneFileRead readTuneFile(FileName path, uint8_t* buffer, size_t capacity);
TuneFileRead readWholeFile(FileName path, size_t limit, std::vector<uint8_t>& bytes);
const char* describe(const TuneFileRead& read);

}  // namespace sidtune
