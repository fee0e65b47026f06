#include "terminal.h"

#if defined(_WIN32)
#include <conio.h>
#include <io.h>
#else
#include <termios.h>
#include <unistd.h>
#endif

#include <atomic>

namespace sidtune {
namespace {

#if defined(_WIN32)
// The console reads keys one at a time through _getch: nothing to change or restore.
bool makeRaw() { return _isatty(0) && _isatty(1); }
void restore() {}
int readKey() { return _kbhit() ? _getch() : -1; }
#else
termios saved;
std::atomic<bool> changed{false};

bool makeRaw() {
    if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO) || tcgetattr(STDIN_FILENO, &saved) != 0) return false;
    termios raw = saved;
    raw.c_lflag &= tcflag_t(~(ICANON | ECHO));
    raw.c_cc[VMIN] = 0;  // a read returns at once, with a key or without
    raw.c_cc[VTIME] = 0;
    if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) != 0) return false;
    changed = true;
    return true;
}

void restore() {
    if (changed.exchange(false)) tcsetattr(STDIN_FILENO, TCSANOW, &saved);
}

int readKey() {
    unsigned char c = 0;
    return read(STDIN_FILENO, &c, 1) == 1 ? c : -1;
}
#endif

}  // namespace

KeyReader::KeyReader() : raw(makeRaw()) {}

KeyReader::~KeyReader() { restore(); }

int KeyReader::next() { return raw ? readKey() : -1; }

void restoreTerminal() { restore(); }

}  // namespace sidtune
