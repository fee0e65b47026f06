// Starting a song on an engine: the machine reset, and the one way a song begins. The player
// (plugin/player.h), the tools, the tests and the benchmarks all begin songs through beginSong.
//
//   resetMachine(e, sampleRate)       synthesizer set up for the rate, digi player cleared, memory
//                                     image cleared, fresh registers, no cut-off calls counted
//   beginSong(e, song[, startOutput]) song `song` (counted from 0) of the loaded tune: 0 when it
//                                     has begun, 1 when the tune has no such song (nothing done)
//
// Beginning a song holds the engine's machine lock throughout: rendering is switched on, then
// `startOutput` runs (the player starts its stream there), then the init routine runs with the
// song number in A. A worker rendering the stream takes the same lock for each block, so it does
// not enter the CPU until the init routine has returned, and its first block is the song's first.
#pragma once

#include <cstdint>

namespace sidtune {

struct EngineState;

constexpr int kSongBegun = 0;
constexpr int kNoSuchSong = 1;

void resetMachine(EngineState& e, uint32_t sampleRate);
int beginSong(EngineState& e, int32_t song, void (*startOutput)(EngineState&) = nullptr);

}  // namespace sidtune
