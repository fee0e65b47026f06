// Fuzz target: loading any block of bytes as a tune (and running its init routine when its header
// names no play routine), with the instruction bound in force.
#include <cstddef>
#include <cstdint>

#include "audio/audio_format.h"
#include "engine/engine_state.h"
#include "engine/song.h"
#include "tune/tune_loader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace sidtune;
    static EngineState e;  // the fuzzer's own engine, reset for every input
    resetMachine(e, kSampleRate);
    loadTune(e, data, size, kLoadFromMemory);
    return 0;
}
