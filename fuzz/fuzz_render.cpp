// Fuzz target: a tune loaded, song 0 started and two half-second blocks rendered, as the player
// does: whatever its code does to the chip, the digi registers, the timer value or itself.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "audio/render_block.h"
#include "cpu/cpu.h"
#include "engine/engine_state.h"
#include "tune/tune_loader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace sidtune;
    resetMachine(kSampleRate);
    if (loadTune(data, size, kLoadFromMemory) != kTuneLoaded) return 0;
    engine.renderEnabled = 1;
    callSubroutine(engine.tune.initAddress, 0, kInitInstructionLimit);
    static std::vector<int16_t> block(kBlockSamples);
    for (int b = 0; b < 2; ++b) renderBlock(block.data(), kBlockSamples * 2);
    engine.renderEnabled = 0;
    return 0;
}
