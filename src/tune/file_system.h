// The system's file calls, over a file's name as its caller has it: the one place the project
// opens, examines and removes files by name, for the reader of tunes and databases and the tools'
// output alike.
//
//   FileName{text}            a name in the bytes the host gives: on Windows the ANSI code page,
//                             as the C runtime's narrow calls take it (the plugin's names)
//   utf8Name(text)            a name in UTF-8 (the tools'): on Windows opened through the wide-
//                             character calls, which can name every file
//   openFile(name, flags, mode), statFile(name, stat), statOpenFile(fd, stat), removeFile(name),
//   closeFile(fd)             the C runtime's calls; -1 or nonzero and errno on failure
//   isRegular(stat), isDirectory(stat)
//   sameFile(a, b)            both names are one existing file (through links, other names; on
//                             Windows by the file's index, as its stat has no inode)
//
// On Linux a name is bytes and is passed on as it is, either way. removeFile calls nothing but
// the system's own removal (on Windows after a conversion into a buffer on the stack), so that a
// signal handler may use it.
#pragma once

#include <sys/stat.h>

#include <string>

namespace sidtune {

struct FileName {
    const char* text;
    bool utf8 = false;
};

inline FileName utf8Name(const std::string& text) { return FileName{text.c_str(), true}; }

#if defined(_WIN32)
using FileStat = struct _stat64;
#else
using FileStat = struct stat;
#endif

int openFile(FileName name, int flags, int mode = 0);
int statFile(FileName name, FileStat* s);
int statOpenFile(int fd, FileStat* s);
int removeFile(FileName name);
int closeFile(int fd);
bool isRegular(const FileStat& s);
bool isDirectory(const FileStat& s);
bool sameFile(FileName a, FileName b);

}  // namespace sidtune
