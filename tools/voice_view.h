// What `sidtune play` shows of the three voices on a terminal: a bar for each voice's level as
// heard, the note it plays, its waveform, and the filter. The lines are made from a chip's
// registers and the levels alone, so that a fixed frame gives a fixed text.
//
//   noteName(hz)                      "C#4", "A-2": the nearest note of equal temperament (A4 =
//                                     440 Hz); "---" below C0 or above B8
//   voiceLines(chip, levels)          the voices' three lines and the filter's, each at most 79
//                                     columns: levels 0-255, as "SidVoiceLevel" gives them
//
// A voice's frequency register F sounds at F x phaseScale x sampleRate / 2^28 Hz: the chip's
// own pace (sid_state.h).
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "sid/sid_state.h"

namespace sidtune {

std::string noteName(double hz);
std::array<std::string, 4> voiceLines(const SidChip& chip, const std::array<int32_t, 3>& levels);

}  // namespace sidtune
