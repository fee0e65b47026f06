// The silence rule: a stretch of sound whose peak-to-peak swing stays within kSilentSwing (1% of
// the 16-bit range) is silence. `sidtune check` calls a song silent by it, and the player finds
// the end of a song it has no length for by it: the start of a silence that has lasted
// kSilenceToEnd (a song that never makes a sound ends that long after it starts).
//
//   SilenceWatch watch{first, songBegan[, lasting]}
//                                     samples numbered from `first` on, of a song that began at
//                                     `songBegan` (0 and 0 by default); a silence ends it once it
//                                     has lasted `lasting` samples (kSilenceToEnd by default; a
//                                     sound effect's is shorter, mix.h)
//   watch.feed(samples, count)        true once a silence has lasted that long: watch.end()
//
// A silence begins at the first sample of a run that stays within the swing: a sample that leaves
// it begins the next run.
#pragma once

#include <cstdint>

#include "audio/audio_format.h"

namespace sidtune {

constexpr int kSilentSwing = 655;
constexpr uint64_t kSilenceToEnd = 3 * kSampleRate;

class SilenceWatch {
  public:
    // Samples numbered from `first` on; a song that began at `songStart` and is silent from there on
    // ends kSilenceToEnd after it.
    SilenceWatch() : SilenceWatch(0, 0) {}
    SilenceWatch(uint64_t first, uint64_t songBegan, uint64_t lasting = kSilenceToEnd)
        : runStart(first), next(first), songStart(songBegan), toEnd(lasting) {}

    bool feed(const int16_t* samples, uint32_t count) {
        for (uint32_t i = 0; i < count; ++i, ++next) {
            const int s = samples[i];
            if (next == runStart) {
                low = high = s;
            } else if ((s > high ? s : high) - (s < low ? s : low) > kSilentSwing) {
                runStart = next;
                low = high = s;
            } else {
                low = s < low ? s : low;
                high = s > high ? s : high;
            }
            if (next + 1 - runStart >= toEnd) return found = true;
        }
        return found;
    }
    // The end: where the silence began, or its length after the start for a song that never made
    // a sound.
    uint64_t end() const { return runStart <= songStart ? songStart + toEnd : runStart; }
    bool ended() const { return found; }

  private:
    uint64_t runStart, next, songStart, toEnd;
    int low = 0, high = 0;
    bool found = false;
};

}  // namespace sidtune
