#include "engine/player.h"

#include <mutex>

#include "audio/volume.h"
#include "engine/engine_state.h"
#include "engine/song.h"
#include "tune/tune_loader.h"

namespace sidtune {
namespace {

// The worker's block source: the engine's next block, made while the host's thread is not running
// an init routine on the machine.
void fillFromEngine(void* engine, int16_t* samples, uint32_t count) {
    EngineState& e = *static_cast<EngineState*>(engine);
    std::lock_guard<std::mutex> guard(e.machineLock);
    renderBlock(e, samples, count * kBytesPerSample);
}

}  // namespace

bool setUpEngine(EngineState& e) {
    resetMachine(e.machine, kSampleRate);
    return openAudioOutput(e.audio, BlockSource{fillFromEngine, &e});
}

void shutDownEngine(EngineState& e) { closeAudioOutput(e.audio); }

bool openPlayer(EngineState& e) {
    // Whatever the new file turns out to be, the tune that played before is stopped and released.
    closePlayer(e);
    return setUpEngine(e);
}

bool startTune(EngineState& e, const char* fileName, int32_t song) {
    if (loadTuneFile(e.machine, e.tune, fileName) != LoadStatus::Loaded || !startSong(e, song)) {
        shutDownEngine(e);
        return false;
    }
    e.player.state = PlayerState::Playing;
    return true;
}

void abandonPlayer(EngineState& e) {
    e.player.state = PlayerState::Idle;
    shutDownEngine(e);
}

bool startSong(EngineState& e, int32_t song) {
    // The stream starts playing inside the song's beginning, after rendering is on and before the
    // init routine runs: the worker's first block then waits on the machine lock until the init
    // routine has returned.
    return beginSong(e, song, [](EngineState& started) { setStreamPlaying(started.audio, true); });
}

void stopSong(EngineState& e) {
    e.renderEnabled.store(0, std::memory_order_release);
    setStreamPlaying(e.audio, false);
}

void pauseSong(EngineState& e) {
    if (e.player.state != PlayerState::Playing) return;
    pauseStream(e.audio);
    e.player.state = PlayerState::Paused;
}

void resumeSong(EngineState& e) {
    if (e.player.state != PlayerState::Paused) return;
    resumeStream(e.audio);
    e.player.state = PlayerState::Playing;
}

void setPlayerVolume(EngineState& e, float value) {
    // While paused it sets the volume the resumed sound has.
    if (e.player.state != PlayerState::Idle) applyVolume(e.audio, value);
}

void closePlayer(EngineState& e) {
    if (e.player.state != PlayerState::Idle) {
        stopSong(e);
        e.player.state = PlayerState::Idle;
    }
    // Also after a set-up that no tune followed; nothing is called when nothing is open.
    shutDownEngine(e);
}

PlayerState playerState(const EngineState& e) { return e.player.state; }

int32_t songsOfTune(const EngineState& e) {
    return e.player.state != PlayerState::Idle ? e.tune.lastSong + 1 : 0;
}

}  // namespace sidtune
