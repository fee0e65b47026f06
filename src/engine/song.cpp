#include "engine/song.h"

#include <mutex>

#include "cpu/cpu.h"
#include "engine/engine_state.h"
#include "sid/sid.h"

namespace sidtune {

void resetMachine(EngineState& e, uint32_t sampleRate) {
    setUpSynthesizer(e.sid, sampleRate);
    // A new tune never inherits a sample, a position or a latched value from the last one.
    e.digi = DigiPlayer{};
    e.memory.fill(0);
    e.cpu = {};
    e.cpu.SP = 0xFF;
    e.cutOffCalls = 0;
}

int beginSong(EngineState& e, int32_t song, void (*startOutput)(EngineState&)) {
    if (song < 0 || song > e.tune.lastSong) return kNoSuchSong;
    std::lock_guard<std::mutex> guard(e.machineLock);
    e.renderEnabled.store(1, std::memory_order_release);
    if (startOutput != nullptr) startOutput(e);
    callSubroutine(e, e.tune.initAddress, uint8_t(song), kInitInstructionLimit);
    return kSongBegun;
}

}  // namespace sidtune
