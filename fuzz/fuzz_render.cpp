// Fuzz target: a tune loaded, song 0 started and two half-second blocks rendered, as the player
// does: whatever its code does to the chip, the digi registers, the timer value or itself. The
// input's last byte chooses faithful playback (odd), where the header's second and third chip and
// its clock come in.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/frame_pacing.h"
#include "engine/song.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace sidtune;
    static Song song;  // the fuzzer's own song, reset for every input
    song.settings.faithful = size != 0 && (data[size - 1] & 1) != 0;
    if (beginTune(song, data, size, 0) != PlayError::None) return 0;
    static std::vector<int16_t> block(kBlockSamples);
    for (int b = 0; b < 2; ++b) renderSong(song, block.data(), kBlockSamples);
    return 0;
}
