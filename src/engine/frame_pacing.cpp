#include "engine/frame_pacing.h"

#include "cpu/cpu.h"
#include "cpu/machine.h"
#include "sid/sid.h"
#include "tune/tune_info.h"

namespace sidtune {

uint32_t frameSamples(uint16_t timerValue, uint8_t speedFlags, uint32_t speed) {
    // The timer value 19456 ($4C00) gives exactly 20000 microseconds.
    uint32_t period = uint32_t(timerValue) * 20000 / 19456;
    if (period == 0 || speedFlags == 0) period = 20000;
    // At the normal speed this is period x 44100 / 1000000, to the sample.
    const uint32_t samples =
        uint32_t(uint64_t(period) * kSampleRate * kNormalSpeed / (uint64_t(1000000) * speed));
    // Timer values 1 to 22 give frames of less than one sample: garbage that would call the play
    // routine 22050 times a block for nothing. They get the default frame.
    return samples != 0 ? samples : uint32_t(uint64_t(kDefaultFrameSamples) * kNormalSpeed / speed);
}

void playFrames(Machine& m, const TuneInfo& tune, FramePacing& pacing, uint32_t speed, int16_t* out,
                uint32_t count) {
    while (count != 0) {
        if (pacing.blockLeft == 0) {
            pacing.blockLeft = kBlockSamples;
            pacing.frameLeft = 0;
        }
        if (pacing.frameLeft == 0) {
            const uint16_t timer = uint16_t(m.memory[0xDC04] | m.memory[0xDC05] << 8);
            const uint32_t frame = frameSamples(timer, tune.speedFlags, speed);
            // The play routine runs before the frame is rendered, also for a last frame cut short.
            callSubroutine(m, tune.playAddress, 0, frame * kPlayInstructionsPerSample);
            pacing.frameLeft = frame < pacing.blockLeft ? frame : pacing.blockLeft;
        }
        const uint32_t n = pacing.frameLeft < count ? pacing.frameLeft : count;
        renderSamples(m.sid, m.digi, m.memory, out, n);
        out += n;
        count -= n;
        pacing.frameLeft -= n;
        pacing.blockLeft -= n;
    }
}

}  // namespace sidtune
