// Fuzz target: a tune loaded, song 0 started and two half-second blocks rendered, as the player
// does: whatever its code does to the chip, the digi registers, the timer value or itself.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/engine_state.h"
#include "engine/frame_pacing.h"
#include "engine/song.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace sidtune;
    static EngineState e;  // the fuzzer's own engine, reset for every input
    if (beginTune(e, data, size, 0) != SongStart::Begun) return 0;
    static std::vector<int16_t> block(kBlockSamples);
    for (int b = 0; b < 2; ++b) renderBlock(e, block.data(), kBlockBytes);
    return 0;
}
