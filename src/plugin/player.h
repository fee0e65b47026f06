// The player behind the script commands, on the engine it is handed: starting a tune, starting and
// stopping a song of the loaded tune, and closing the player (stop the song, shut the engine down).
//
//   openEngine(e)                  closes the player and sets up a new engine: true when it is set
//                                  up (nothing else is then set up: the player stays Idle)
//   startTune(e, fileName, song)   with an engine just set up: loads the file and starts song
//                                  `song` (counted from 0); true when it plays (Playing),
//                                  otherwise the engine is shut down again (Idle)
//   abandonPlayer(e)               after a failure part-way (out of memory): Idle, all released
//   startSong(e, song)             0 when the song was started, 1 when the number is out of range
//   stopSong(e)                    rendering off, stream stopped
//   pauseSong(e)                   from Playing: Paused, the stream stopped where it is
//   resumeSong(e)                  from Paused: Playing on from there
//   closePlayer(e)                 from Playing or Paused: stopSong, shutDownEngine; from Idle:
//                                  nothing
//   songsOfTune(e)                 the songs of the tune that plays or is paused; 0 when Idle
//
// "PlaySidtune" is openEngine, then (reading the file name only once the engine is set up)
// startTune with song 0.
#pragma once

#include <cstdint>

namespace sidtune {

struct EngineState;

bool openEngine(EngineState& e);
bool startTune(EngineState& e, const char* fileName, int32_t song);
void abandonPlayer(EngineState& e);
int startSong(EngineState& e, int32_t song);
int stopSong(EngineState& e);
void pauseSong(EngineState& e);
void resumeSong(EngineState& e);
int32_t songsOfTune(const EngineState& e);
void closePlayer(EngineState& e);

}  // namespace sidtune
