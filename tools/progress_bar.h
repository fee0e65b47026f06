// A progress bar on standard error, for a terminal: drawn in place, cleared before anything else
// is printed on the terminal and gone when the work is done.
//
//   ProgressBar bar(enabled);   enabled: standard error is a terminal (and whatever else the tool asks)
//   bar.show(done, total);      redraws it
//   bar.clear();                the line is empty again (also when the bar is destroyed)
#pragma once

#include <cstdint>

namespace sidtune {

class ProgressBar {
  public:
    explicit ProgressBar(bool enabled) : on(enabled) {}
    ~ProgressBar() { clear(); }
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    void show(uint64_t done, uint64_t total);
    void clear();

  private:
    bool on;
    bool drawn = false;
};

// Whether standard error (and, where `andStdout`, standard output too) is a terminal.
bool onTerminal(bool andStdout);

}  // namespace sidtune
