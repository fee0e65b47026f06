#include "audio/render_block.h"

#include <cstring>

#include "cpu/cpu.h"
#include "engine/engine_state.h"
#include "sid/sid.h"

namespace sidtune {

uint32_t frameSamples(uint16_t timerValue, uint8_t speedFlags) {
    // The timer value 19456 ($4C00) gives exactly 20000 microseconds.
    uint32_t period = uint32_t(timerValue) * 20000 / 19456;
    if (period == 0 || speedFlags == 0) period = 20000;
    const uint32_t samples = period * kSampleRate / 1000000;
    // Timer values 1 to 22 give frames of less than one sample: garbage that would call the play
    // routine 22050 times a block for nothing. They get the default frame.
    return samples == 0 ? kDefaultFrameSamples : samples;
}

void renderBlock(EngineState& e, int16_t* samples, uint32_t byteCount) {
    if (e.renderEnabled.load(std::memory_order_acquire) == 0) {
        std::memset(samples, 0, byteCount);
        return;
    }
    uint32_t remaining = byteCount >> 1;
    int16_t* position = samples;
    while (remaining != 0) {
        const uint16_t timer = uint16_t(e.memory[0xDC04] | e.memory[0xDC05] << 8);
        const uint32_t frame = frameSamples(timer, e.tune.speedFlags);
        // The play routine runs before the frame is rendered, also for a last frame cut short.
        callSubroutine(e, e.tune.playAddress, 0, frame * kPlayInstructionsPerSample);
        const uint32_t count = frame < remaining ? frame : remaining;
        renderSamples(e, position, count);
        position += count;
        remaining -= count;
    }
}

}  // namespace sidtune
