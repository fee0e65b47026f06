// The tools speak UTF-8: their arguments, the names of the files they open, and what they print.
// On Linux that is the bytes as they are. On Windows the C runtime would give the arguments in the
// ANSI code page, which cannot name every file ("音楽.sid" on a Western system): the arguments come
// from the wide-character command line instead, files are opened through the wide-character calls
// (tune/file_system.h), and the console is set to show UTF-8 while the program runs.
//
//   Utf8Arguments args(argc, argv)   args.count(), args.values(): the program's arguments in UTF-8
//   pathOf(text), utf8Of(path)       a UTF-8 name as a std::filesystem path, and back
//   hostFileName(text)               a UTF-8 name as a host hands it to the plugin, which takes
//                                    names in the host's bytes: on Windows in the ANSI code page
//                                    or, where it has no letters for the name, the file's short
//                                    (8.3) name, if the system keeps one
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace sidtune {

class Utf8Arguments {
  public:
    Utf8Arguments(int argc, char** argv);
    ~Utf8Arguments();
    Utf8Arguments(const Utf8Arguments&) = delete;
    Utf8Arguments& operator=(const Utf8Arguments&) = delete;
    int count() const { return int(pointers.size()) - 1; }
    char** values() { return pointers.data(); }

  private:
    std::vector<std::string> texts;
    std::vector<char*> pointers;                    // into texts, then a null pointer, as argv is
    [[maybe_unused]] unsigned consoleCodePage = 0;  // the console's own, given back at the end (Windows)
};

std::filesystem::path pathOf(const std::string& text);
std::string utf8Of(const std::filesystem::path& path);
std::string hostFileName(const std::string& text);

}  // namespace sidtune
