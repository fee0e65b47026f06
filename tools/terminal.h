// The keys of a terminal, one at a time, as they are pressed: for as long as a KeyReader lives the
// terminal neither echoes nor waits for a line, and it is put back as it was on every way out,
// a stop signal included (the signal's handler calls restoreTerminal).
//
//   KeyReader keys;          raw, where standard input and output are a terminal
//   keys.active()            whether they are
//   keys.next()              the next key pressed, or -1 when none is waiting
//   restoreTerminal()        the terminal as it was (async-signal-safe; nothing when not changed)
#pragma once

namespace sidtune {

class KeyReader {
  public:
    KeyReader();
    ~KeyReader();
    KeyReader(const KeyReader&) = delete;
    KeyReader& operator=(const KeyReader&) = delete;

    bool active() const { return raw; }
    int next();

  private:
    bool raw = false;
};

void restoreTerminal();

}  // namespace sidtune
