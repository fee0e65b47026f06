// The script commands, their registration with the host, and the one engine the plugin plays with.
//
//   "PlaySidtune"(file name)           -> -1 when song 1 of the tune plays afterwards, 0 otherwise
//   "StopSidtune"                      stops and releases everything; nothing in Idle
//   "SetSidVolume" value               0.0 to 1.0, while a tune plays or is paused
//   "PlaySidtuneSong"(file name, N)    -> as "PlaySidtune", for song N (counted from 1)
//   "SidtuneSongs"()                   -> the songs of the tune that plays or is paused; 0 in Idle
//   "PauseSidtune"                     Playing: the sound stops, the song keeps its place
//   "ResumeSidtune"                    Paused: the song goes on from where it paused
//
// The player is Idle (nothing set up), Playing (engine set up, song started) or Paused (the same,
// the stream stopped where it was). Every "PlaySidtune" and "PlaySidtuneSong" closes the player
// first and builds a new engine, so the volume returns to full with every tune.
#pragma once

#include "engine/engine_state.h"
#include "plugin/host_interface.h"

namespace sidtune {

// The player's whole state: there is exactly one player per loaded plugin. Static storage, so all
// zero when the library is loaded. Named only by the plugin (the commands, load and unload); the
// audio output's worker is handed it when it is opened.
extern EngineState engine;

void registerCommands(FunctionRegistry* registry);

void QUENBRIX_CALL playSidtune(ScriptRuntime* runtime);
void QUENBRIX_CALL stopSidtune(ScriptRuntime* runtime);
void QUENBRIX_CALL setSidVolume(ScriptRuntime* runtime);
void QUENBRIX_CALL playSidtuneSong(ScriptRuntime* runtime);
void QUENBRIX_CALL sidtuneSongs(ScriptRuntime* runtime);
void QUENBRIX_CALL pauseSidtune(ScriptRuntime* runtime);
void QUENBRIX_CALL resumeSidtune(ScriptRuntime* runtime);

}  // namespace sidtune
