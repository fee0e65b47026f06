// The script commands, their registration with the host, and the one engine the plugin plays with.
//
//   "PlaySidtune"(file name) -> -1 when song 0 of the tune plays afterwards, 0 otherwise
//   "StopSidtune"            stops and releases everything; nothing in Idle
//   "SetSidVolume" value     0.0 to 1.0, only while a tune plays
//
// The player is Idle (nothing set up) or Playing (engine set up, song started). Every
// "PlaySidtune" closes the player first and builds a new engine, so volume returns to full.
#pragma once

#include "engine/engine_state.h"
#include "plugin/host_interface.h"

namespace sidtune {

// The player's whole state: there is exactly one player per loaded plugin. Static storage, so all
// zero when the library is loaded. Named only by the plugin (the commands, load and unload); the
// audio engine's worker is handed it when it is set up.
extern EngineState engine;

void registerCommands(FunctionRegistry* registry);

void QUENBRIX_CALL playSidtune(ScriptRuntime* runtime);
void QUENBRIX_CALL stopSidtune(ScriptRuntime* runtime);
void QUENBRIX_CALL setSidVolume(ScriptRuntime* runtime);

}  // namespace sidtune
