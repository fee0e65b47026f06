// Fuzz target: a tune loaded, song 0 started and two half-second blocks rendered, as the player
// does: whatever its code does to the chip, the digi registers, the timer value or itself.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "audio/render_block.h"
#include "engine/engine_state.h"
#include "engine/song.h"
#include "tune/tune_loader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace sidtune;
    static EngineState e;  // the fuzzer's own engine, reset for every input
    resetMachine(e, kSampleRate);
    if (loadTune(e, data, size, kLoadFromMemory) != kTuneLoaded || beginSong(e, 0) != kSongBegun) return 0;
    static std::vector<int16_t> block(kBlockSamples);
    for (int b = 0; b < 2; ++b) renderBlock(e, block.data(), kBlockBytes);
    return 0;
}
