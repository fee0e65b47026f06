#include "plugin/commands.h"

#include <cmath>

#include "engine/player.h"

namespace sidtune {

EngineState engine;

void registerCommands(FunctionRegistry* registry) {
    const FunctionRegistryOperations* r = registry->operations;
    r->registerFunction(registry, "PlaySidtune", playSidtune, kQuenbrixInteger);
    r->addParameter(registry, kQuenbrixString);
    r->registerProcedure(registry, "StopSidtune", stopSidtune);
    r->registerProcedure(registry, "SetSidVolume", setSidVolume);
    r->addParameter(registry, kQuenbrixReal);
    // The game-music commands, after the registration steps of the three commands above.
    r->registerFunction(registry, "PlaySidtuneSong", playSidtuneSong, kQuenbrixInteger);
    r->addParameter(registry, kQuenbrixString);
    r->addParameter(registry, kQuenbrixReal);
    r->registerFunction(registry, "SidtuneSongs", sidtuneSongs, kQuenbrixInteger);
    r->registerProcedure(registry, "PauseSidtune", pauseSidtune);
    r->registerProcedure(registry, "ResumeSidtune", resumeSidtune);
}

namespace {

// "PlaySidtune" and "PlaySidtuneSong": the player closed and a new engine set up, and only then
// the parameters read (the file with index 1, the song, counted from 1, with index 2). A song
// that is no whole number from 1 to the tune's songs leaves the player Idle, as a file that is no
// tune does. No exception may reach the host: the standard library's only one here is running
// out of memory, which leaves the player Idle and the command false.
void play(ScriptRuntime* runtime, bool songGiven) {
    bool playing = false;
    try {
        if (openPlayer(engine)) {
            const char* fileName = runtime->operations->getStringParameter(runtime, 1);
            int32_t song = 0;
            if (songGiven) {
                const float n = runtime->operations->getRealParameter(runtime, 2);
                song = n >= 1.0f && n <= 256.0f && std::floor(n) == n ? int32_t(n) - 1 : -1;
            }
            playing = startTune(engine, fileName, song);
        }
    } catch (...) {
        abandonPlayer(engine);
        playing = false;
    }
    runtime->operations->setIntegerResult(runtime, playing ? -1 : 0);
}

}  // namespace

void QUENBRIX_CALL playSidtune(ScriptRuntime* runtime) { play(runtime, false); }

void QUENBRIX_CALL playSidtuneSong(ScriptRuntime* runtime) { play(runtime, true); }

void QUENBRIX_CALL sidtuneSongs(ScriptRuntime* runtime) {
    runtime->operations->setIntegerResult(runtime, songsOfTune(engine));
}

void QUENBRIX_CALL pauseSidtune(ScriptRuntime*) { pauseSong(engine); }

void QUENBRIX_CALL resumeSidtune(ScriptRuntime*) { resumeSong(engine); }

void QUENBRIX_CALL stopSidtune(ScriptRuntime*) { closePlayer(engine); }

void QUENBRIX_CALL setSidVolume(ScriptRuntime* runtime) {
    // In Idle the parameter is not even read: there is nothing to set, and nothing is remembered.
    if (playerState(engine) == PlayerState::Idle) return;
    setPlayerVolume(engine, runtime->operations->getRealParameter(runtime, 1));
}

}  // namespace sidtune
