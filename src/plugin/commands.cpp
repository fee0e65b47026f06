#include "plugin/commands.h"

#include "audio/audio_engine.h"
#include "engine/engine_state.h"
#include "plugin/player.h"
#include "tune/tune_loader.h"

namespace sidtune {

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
void playSidtune(ScriptRuntime* runtime) {
    try {
        // Whatever the new file turns out to be, the tune that played before is stopped and released.
        closePlayer();
        if (setUpEngine() == 0) {
            const char* fileName = runtime->operations->getStringParameter(runtime, 1);
            if (loadTune(fileName, 0, kLoadFromFile) != kTuneLoaded || startSong(0) != 0) {
                shutDownEngine();
            } else {
                engine.songPlaying = true;
                engine.engineOpen = true;
            }
        }
    } catch (...) {
        engine.songPlaying = engine.engineOpen = false;
        shutDownEngine();
    }
    runtime->operations->setIntegerResult(runtime, engine.songPlaying ? -1 : 0);
}

void stopSidtune(ScriptRuntime*) { closePlayer(); }

void setSidVolume(ScriptRuntime* runtime) {
    // In Idle the parameter is not even read: there is nothing to set, and nothing is remembered.
    if (!engine.engineOpen || !engine.songPlaying) return;
    applyVolume(runtime->operations->getRealParameter(runtime, 1));
}

}  // namespace sidtune
