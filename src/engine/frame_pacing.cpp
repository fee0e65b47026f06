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

namespace {

// A frame of `units` units of `unitsPerSecond`, divided by the tempo, in samples: the part of a
// sample left over is carried to the next frame. 0 when it is less than one sample.
uint32_t carriedFrame(FramePacing& pacing, uint64_t units, uint64_t unitsPerSecond, uint32_t speed) {
    const uint64_t per = unitsPerSecond * speed;
    const uint64_t whole = units * kSampleRate * kNormalSpeed;
    if (whole < per) return 0;
    // A new tempo or clock: what was carried, in the new parts.
    if (pacing.per != per)
        pacing.carried =
            pacing.per == 0 ? 0 : uint64_t(double(pacing.carried) / double(pacing.per) * double(per));
    pacing.per = per;
    const uint64_t total = whole + pacing.carried;
    pacing.carried = total % per;
    return uint32_t(total / per);
}

// The next frame's length in samples, read as its play call is made.
uint32_t nextFrame(const Machine& m, const TuneInfo& tune, FramePacing& pacing, uint32_t speed,
                   uint32_t clock) {
    const uint16_t timer = uint16_t(m.memory[0xDC04] | m.memory[0xDC05] << 8);
    if (clock != 0) {
        const uint32_t video = tune.ntsc ? kNtscFrameCycles : kPalFrameCycles;
        const uint32_t frame =
            tune.speedFlags != 0 ? carriedFrame(pacing, uint32_t(timer) + 1, clock, speed) : 0;
        // Timer values that give frames of less than one sample get the video frame, as below.
        return frame != 0 ? frame : carriedFrame(pacing, video, clock, speed);
    }
    if (speed == kNormalSpeed) return frameSamples(timer, tune.speedFlags, speed);
    uint32_t period = uint32_t(timer) * 20000 / 19456;
    if (period == 0 || tune.speedFlags == 0) period = 20000;
    const uint32_t frame = carriedFrame(pacing, period, 1000000, speed);
    return frame != 0 ? frame : carriedFrame(pacing, 20000, 1000000, speed);
}

}  // namespace

void renderChips(Machine& m, int16_t* out, uint32_t count) {
    const int chips = chipCount(m);
    if (chips == 1) return renderSamples(m.sid, m.digi, m.memory, out, count);
    // Each chip at 1/N of full scale: the sum clips nowhere a chip alone would not.
    constexpr uint32_t kPiece = 512;
    int16_t more[2][kPiece];
    while (count != 0) {
        const uint32_t n = count < kPiece ? count : kPiece;
        renderSamples(m.sid, m.digi, m.memory, out, n);
        for (int k = 0; k < chips - 1; ++k)
            renderSamples(m.moreChips[k], m.moreDigis[k], m.memory, more[k], n);
        for (uint32_t j = 0; j < n; ++j) {
            const int32_t sum = int32_t(out[j]) + more[0][j] + (chips == 3 ? more[1][j] : 0);
            out[j] = int16_t(sum / chips);
        }
        out += n;
        count -= n;
    }
}

void playFrames(Machine& m, const TuneInfo& tune, FramePacing& pacing, uint32_t speed, uint32_t clock,
                int16_t* out, uint32_t count) {
    // The design's pacing at the normal tempo cuts the last frame of a block short.
    const bool cut = clock == 0 && speed == kNormalSpeed;
    while (count != 0) {
        if (pacing.blockLeft == 0) {
            pacing.blockLeft = kBlockSamples;
            if (cut) pacing.frameLeft = 0;
        }
        if (pacing.frameLeft == 0) {
            const uint32_t frame = nextFrame(m, tune, pacing, speed, clock);
            // The play routine runs before the frame is rendered, also for a last frame cut short.
            callSubroutine(m, tune.playAddress, 0, frame * kPlayInstructionsPerSample);
            pacing.frameLeft = cut && frame > pacing.blockLeft ? pacing.blockLeft : frame;
        }
        uint32_t n = pacing.frameLeft < count ? pacing.frameLeft : count;
        if (n > pacing.blockLeft) n = pacing.blockLeft;
        renderChips(m, out, n);
        out += n;
        count -= n;
        pacing.frameLeft -= n;
        pacing.blockLeft -= n;
    }
}

}  // namespace sidtune
