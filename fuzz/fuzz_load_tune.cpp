// Fuzz target: loading any block of bytes as a tune (and running its init routine when its header
// names no play routine), with the instruction bound in force.
#include <cstddef>
#include <cstdint>

#include "cpu/cpu.h"
#include "tune/tune_loader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    sidtune::resetMachine(44100);
    sidtune::loadTune(data, size, sidtune::kLoadFromMemory);
    return 0;
}
