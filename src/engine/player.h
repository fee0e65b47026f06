// The player behind the script commands, on the engine it is handed: Idle, Playing or Paused,
// owned here and asked through playerState. The command layer (plugin/commands.cpp) calls these
// and reads no field of the engine.
//
//   setUpEngine(e)                 the machine reset for the stream's rate, then the audio output
//                                  opened (its worker renders e): true when it is open
//   shutDownEngine(e)              the audio output closed; safe when nothing is open
//   openPlayer(e)                  closes the player and sets up a new engine: true when it is
//                                  set up (the player stays Idle until a tune starts)
//   startTune(e, fileName, song)   with an engine just set up: loads the file and starts song
//                                  `song` (counted from 0); true when it plays (Playing),
//                                  otherwise the engine is shut down again (Idle)
//   abandonPlayer(e)               after a failure part-way (out of memory): Idle, all released
//   startSong(e, song)             false when the number is out of range (nothing done)
//   stopSong(e)                    rendering off, stream stopped
//   pauseSong(e)                   from Playing: Paused, the stream stopped where it is
//   resumeSong(e)                  from Paused: Playing on from there
//   setPlayerVolume(e, value)      while Playing or Paused: the volume (audio/volume.h)
//   closePlayer(e)                 from Playing or Paused: stopSong, shutDownEngine; from Idle:
//                                  nothing
//   playerState(e)                 Idle, Playing or Paused
//   songsOfTune(e)                 the songs of the tune that plays or is paused; 0 when Idle
//
// "PlaySidtune" is openPlayer, then (reading the file name only once the engine is set up)
// startTune with song 0.
#pragma once

#include <cstdint>

namespace sidtune {

struct EngineState;

enum class PlayerState { Idle, Playing, Paused };

struct Player {
    PlayerState state;
};

bool setUpEngine(EngineState& e);
void shutDownEngine(EngineState& e);
bool openPlayer(EngineState& e);
bool startTune(EngineState& e, const char* fileName, int32_t song);
void abandonPlayer(EngineState& e);
bool startSong(EngineState& e, int32_t song);
void stopSong(EngineState& e);
void pauseSong(EngineState& e);
void resumeSong(EngineState& e);
void setPlayerVolume(EngineState& e, float value);
void closePlayer(EngineState& e);
PlayerState playerState(const EngineState& e);
int32_t songsOfTune(const EngineState& e);

}  // namespace sidtune
