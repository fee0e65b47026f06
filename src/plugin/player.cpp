#include "plugin/player.h"

#include <mutex>

#include "audio/audio_engine.h"
#include "cpu/cpu.h"
#include "engine/engine_state.h"

namespace sidtune {

int startSong(int32_t song) {
    if (song < 0 || song > engine.tune.lastSong) return 1;
    // Rendering on and the stream playing first; the worker's first block then waits on the
    // machine lock until the init routine has returned.
    std::lock_guard<std::mutex> guard(engine.machineLock);
    engine.renderEnabled.store(1, std::memory_order_release);
    setStreamPlaying(1);
    callSubroutine(engine.tune.initAddress, uint8_t(song), kInitInstructionLimit);
    return 0;
}

int stopSong() {
    engine.renderEnabled.store(0, std::memory_order_release);
    setStreamPlaying(0);
    return 0;
}

void closePlayer() {
    if (!engine.engineOpen) return;
    if (engine.songPlaying) {
        stopSong();
        engine.songPlaying = false;
    }
    shutDownEngine();
    engine.engineOpen = false;
}

}  // namespace sidtune
