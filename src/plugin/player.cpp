#include "plugin/player.h"

#include "audio/audio_engine.h"
#include "engine/engine_state.h"
#include "engine/song.h"
#include "tune/tune_loader.h"

namespace sidtune {

bool openEngine(EngineState& e) {
    // Whatever the new file turns out to be, the tune that played before is stopped and released.
    closePlayer(e);
    return setUpEngine(e) == 0;
}

bool startTune(EngineState& e, const char* fileName, int32_t song) {
    if (loadTune(e, fileName, 0, kLoadFromFile) != kTuneLoaded || startSong(e, song) != 0) {
        shutDownEngine(e);
        return false;
    }
    e.songPlaying = true;
    e.engineOpen = true;
    return true;
}

void abandonPlayer(EngineState& e) {
    e.songPlaying = e.songPaused = e.engineOpen = false;
    shutDownEngine(e);
}

int startSong(EngineState& e, int32_t song) {
    // The stream starts playing inside the song's beginning, after rendering is on and before the
    // init routine runs: the worker's first block then waits on the machine lock until the init
    // routine has returned.
    return beginSong(e, song, [](EngineState& started) { setStreamPlaying(started, 1); });
}

int stopSong(EngineState& e) {
    e.renderEnabled.store(0, std::memory_order_release);
    setStreamPlaying(e, 0);
    return 0;
}

void pauseSong(EngineState& e) {
    if (!e.songPlaying || e.songPaused) return;
    pauseStream(e);
    e.songPaused = true;
}

void resumeSong(EngineState& e) {
    if (!e.songPaused) return;
    resumeStream(e);
    e.songPaused = false;
}

int32_t songsOfTune(const EngineState& e) { return e.songPlaying ? e.tune.lastSong + 1 : 0; }

void closePlayer(EngineState& e) {
    if (!e.engineOpen) return;
    if (e.songPlaying) {
        stopSong(e);
        e.songPlaying = e.songPaused = false;
    }
    shutDownEngine(e);
    e.engineOpen = false;
}

}  // namespace sidtune
