#include "engine/engine_state.h"

namespace sidtune {

// Static storage: all zero when the library is loaded.
EngineState engine;

}  // namespace sidtune
