// Frame pacing: how a song's samples are made from its tune, the machine's "play one block".
//
// A song is rendered in blocks of kBlockSamples (in the player, one half of the one-second
// stream), each cut into frames. At the start of every frame the tune's play routine runs, then
// the synthesizer renders the frame's samples (each chip's, summed: machine.h). A frame lasts
// 20 ms (882 samples) unless the tune's speed flags ask for timer pacing; then its length follows
// the CIA timer value the tune keeps at $DC04/$DC05, read afresh before each frame. At the normal
// tempo every block begins a new frame: a frame cut short at the end of a block is not continued
// in the next one.
//
// The tempo (a setting of the player's) divides every frame's length, the timer's too: the play
// routine runs that many times as often, and the synthesizer's pitch stays as it is. A new tempo
// applies from the next frame on; at 1.0 every sample is as without one. Off 1.0 frames run on
// across the blocks, each as long as its share of the time to the sample, the part of a sample
// left over carried to the next frame: R times as many play calls as at 1.0, however the blocks
// fall.
//
// Faithful pacing (a clock given: the machine's, 985248 or 1022727 cycles a second) times frames
// by the machine's cycles instead: the video frame (kPalFrameCycles or kNtscFrameCycles) or the
// timer's value + 1, carried across the blocks at every tempo.
//
//   frameSamples(timerValue, speedFlags, speed)     the length of one frame in samples (the
//                                                   design's pacing at 1.0: whole samples)
//   playFrames(m, tune, pacing, speed, clock, out, count)
//                                                   the song's next `count` samples, wherever
//                                                   its blocks and frames begin (pacing says
//                                                   where it is); clock 0: the design's pacing
//   renderChips(m, out, count)                      `count` samples of the machine's chips as
//                                                   they are now, summed
//
// A song begun afresh (FramePacing{}) and rendered a block at a time makes each block exactly as
// a whole; cut into other pieces, it makes the same samples.
#pragma once

#include <cstdint>

#include "audio/audio_format.h"

namespace sidtune {

struct Machine;
struct TuneInfo;

constexpr uint32_t kDefaultFrameSamples = kSampleRate / 50;  // 20 ms: 882

// The tempo, in 1/65536: 1.0 and the range a player may set.
constexpr uint32_t kNormalSpeed = 65536;
constexpr uint32_t kSlowestSpeed = kNormalSpeed / 4;
constexpr uint32_t kFastestSpeed = kNormalSpeed * 4;

// The machine's clocks, in cycles a second, and its video frame, in cycles.
constexpr uint32_t kPalClock = 985248;
constexpr uint32_t kNtscClock = 1022727;
constexpr uint32_t kPalFrameCycles = 19656;   // 63 x 312: 50.125 Hz
constexpr uint32_t kNtscFrameCycles = 17095;  // 65 x 263: 59.826 Hz

// Where a song is in its blocks and frames.
struct FramePacing {
    uint32_t blockLeft;  // samples left in the block; 0: the next sample begins a block
    uint32_t frameLeft;  // samples left in the frame; 0: the next sample begins a frame
    // Frames that run on across blocks: the part of a sample the frames so far have left over,
    // in 1/`per` of a sample.
    uint64_t carried;
    uint64_t per;
};

uint32_t frameSamples(uint16_t timerValue, uint8_t speedFlags, uint32_t speed = kNormalSpeed);
void playFrames(Machine& m, const TuneInfo& tune, FramePacing& pacing, uint32_t speed, uint32_t clock,
                int16_t* out, uint32_t count);
void renderChips(Machine& m, int16_t* out, uint32_t count);

}  // namespace sidtune
