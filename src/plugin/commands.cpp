#include "plugin/commands.h"

#include "audio/audio_engine.h"
#include "plugin/player.h"

namespace sidtune {

EngineState engine;

void registerCommands(FunctionRegistry* registry) {
    const FunctionRegistryOperations* r = registry->operations;
    r->registerFunction(registry, "PlaySidtune", playSidtune, kQuenbrixInteger);
    r->addParameter(registry, kQuenbrixString);
    r->registerProcedure(registry, "StopSidtune", stopSidtune);
    r->registerProcedure(registry, "SetSidVolume", setSidVolume);
    r->addParameter(registry, kQuenbrixReal);
}

// No exception may reach the host: the standard library's only one here is running out of
// memory, which leaves the player Idle and the command false.
void QUENBRIX_CALL playSidtune(ScriptRuntime* runtime) {
    bool playing = false;
    try {
        if (openEngine(engine)) {
            playing = startTune(engine, runtime->operations->getStringParameter(runtime, 1), 0);
        }
    } catch (...) {
        abandonPlayer(engine);
        playing = false;
    }
    runtime->operations->setIntegerResult(runtime, playing ? -1 : 0);
}

void QUENBRIX_CALL stopSidtune(ScriptRuntime*) { closePlayer(engine); }

void QUENBRIX_CALL setSidVolume(ScriptRuntime* runtime) {
    // In Idle the parameter is not even read: there is nothing to set, and nothing is remembered.
    if (!engine.engineOpen || !engine.songPlaying) return;
    applyVolume(engine, runtime->operations->getRealParameter(runtime, 1));
}

}  // namespace sidtune
