#include "engine/engine_state.h"

namespace sidtune {

// Static storage: all zero when the library is loaded.
EngineState engine;

}  // namespace sidtune

namespace sidtune {

// The whole player, the 64 KiB memory image included, is one small record; with the one-second
// stream buffer (88200 bytes) it stays under a quarter of a megabyte.
static_assert(sizeof(EngineState) + 88200 < 256 * 1024, "the engine's state has grown past 256 KiB");

}  // namespace sidtune
