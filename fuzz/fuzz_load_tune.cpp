// Fuzz target: loading any block of bytes as a tune (and running its init routine when its header
// names no play routine), with the instruction bound in force.
#include <cstddef>
#include <cstdint>

#include "audio/audio_format.h"
#include "cpu/machine.h"
#include "tune/tune_info.h"
#include "tune/tune_loader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace sidtune;
    static Machine m;  // the fuzzer's own machine, reset for every input
    static TuneInfo tune;
    resetMachine(m, kSampleRate);
    loadTuneBytes(m, tune, data, size);
    return 0;
}
