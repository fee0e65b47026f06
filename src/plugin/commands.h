// The three script commands and their registration with the host.
//
//   "PlaySidtune"(file name) -> -1 when song 0 of the tune plays afterwards, 0 otherwise
//   "StopSidtune"            stops and releases everything; nothing in Idle
//   "SetSidVolume" value     0.0 to 1.0, only while a tune plays
//
// The player is Idle (nothing set up) or Playing (engine set up, song started). Every
// "PlaySidtune" closes the player first and builds a new engine, so volume returns to full.
#pragma once

#include "plugin/host_interface.h"

namespace sidtune {

void registerCommands(FunctionRegistry* registry);

void playSidtune(ScriptRuntime* runtime);
void stopSidtune(ScriptRuntime* runtime);
void setSidVolume(ScriptRuntime* runtime);

}  // namespace sidtune
