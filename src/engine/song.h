// Beginning a song on an engine: the one way a song begins. The player (player.h), the tools, the
// tests and the benchmarks all begin songs here.
//
//   beginSong(e, song[, startOutput])   song `song` (counted from 0) of the tune loaded in e:
//                                       false when the tune has no such song (nothing done)
//   beginTune(e, bytes, size, song)     a fresh machine, the tune loaded from the bytes, and
//                                       beginSong: Begun, or why not
//   beginTuneFile(e, path, song)        the same from a file
//   beginTuneHeld(e, bytes, size, song) beginTune with the machine lock already held by the
//                                       caller: the worker beginning the next song of a tune
//
// Beginning a song holds the engine's machine lock throughout: rendering is switched on, then
// `startOutput` runs (the player starts its stream there), then the init routine runs with the
// song number in A. A worker rendering the stream takes the same lock for each block, so it does
// not enter the CPU until the init routine has returned, and its first block is the song's first.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sidtune {

struct EngineState;

enum class SongStart {
    Begun,
    Unreadable,  // the file cannot be read
    NotPsid,     // not a PSID tune
    Rsid,        // an RSID tune, which needs a whole C64
    NoSuchSong,
};

bool beginSong(EngineState& e, int32_t song, void (*startOutput)(EngineState&) = nullptr);
SongStart beginTune(EngineState& e, const uint8_t* bytes, size_t size, int32_t song,
                    void (*startOutput)(EngineState&) = nullptr);
SongStart beginTuneFile(EngineState& e, const char* path, int32_t song);
SongStart beginTuneHeld(EngineState& e, const uint8_t* bytes, size_t size, int32_t song);

}  // namespace sidtune
