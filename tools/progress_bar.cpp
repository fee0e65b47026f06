#include "progress_bar.h"

#include <cstdio>
#include <string>

#if defined(_WIN32)
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace sidtune {
namespace {

constexpr int kWidth = 40;

}  // namespace

void ProgressBar::show(uint64_t done, uint64_t total) {
    if (!on || total == 0) return;
    const int filled = int(done * kWidth / total);
    std::fprintf(stderr, "\r[%s%s] %3u%%", std::string(size_t(filled), '#').c_str(),
                 std::string(size_t(kWidth - filled), ' ').c_str(), unsigned(done * 100 / total));
    std::fflush(stderr);
    drawn = true;
}

void ProgressBar::clear() {
    if (!drawn) return;
    // Spaces over the bar and back to the start of the line: what comes next starts there.
    std::fprintf(stderr, "\r%s\r", std::string(kWidth + 7, ' ').c_str());
    std::fflush(stderr);
    drawn = false;
}

bool onTerminal(bool andStdout) { return isatty(fileno(stderr)) && (!andStdout || isatty(fileno(stdout))); }

}  // namespace sidtune
