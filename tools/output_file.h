// A file a tool writes, made so that nothing the tool did not create is ever destroyed.
//
//   OutputFile out;
//   if (!out.open(path, avoid, error))  refuses an output that is the file being read (`avoid`);
//                                       "-" is standard output
//   out.write(bytes, n, error)          false with the system's reason ("No space left on device")
//   out.commit(error)                   the file complete: in place
//   out.abandon()                       a failure or a signal: only what the tool created is removed
//
// A regular file (or a name that does not exist yet) is written as a temporary file beside it,
// renamed into place when complete: until then the old file is untouched, and a failed or
// interrupted write removes only the temporary file. A name that is a symbolic link is followed,
// so that the link stays and the file it names is replaced. Anything else (a pipe, a terminal, a
// device, /dev/stdout) is written straight through, and nothing is ever removed.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace sidtune {

class OutputFile {
  public:
    OutputFile() = default;
    ~OutputFile() { abandon(); }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // `avoid`: a file that must not be the output (the input of the program); empty for none.
    bool open(const std::string& path, const std::string& avoid, std::string& error);
    bool write(const uint8_t* bytes, size_t count, std::string& error);
    bool commit(std::string& error);
    // Removes the temporary file, if there is one. Safe in a signal handler: it calls nothing but
    // close and unlink (the name was made before).
    void abandon();

  private:
    int fd = -1;
    std::string finalPath;      // where the file goes
    char temporary[4096] = {};  // the temporary file's name while there is one; empty otherwise
    std::atomic<bool> temporaryExists{false};
    bool standardOutput = false;
};

}  // namespace sidtune
