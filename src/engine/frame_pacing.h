// Frame pacing: how a song's samples are made from its tune, the machine's "play one block".
//
// A song is rendered in blocks of kBlockSamples (in the player, one half of the one-second
// stream), each cut into frames. At the start of every frame the tune's play routine runs, then
// the synthesizer renders the frame's samples. A frame lasts 20 ms (882 samples) unless the
// tune's speed flags ask for timer pacing; then its length follows the CIA timer value the tune
// keeps at $DC04/$DC05, read afresh before each frame. Every block begins a new frame: a frame cut
// short at the end of a block is not continued in the next one.
//
// The tempo (a setting of the player's) divides every frame's length, the timer's too: the play
// routine runs that many times as often, and the synthesizer's pitch stays as it is. A new tempo
// applies from the next frame on; at 1.0 every sample is as without one.
//
//   frameSamples(timerValue, speedFlags, speed)     the length of one frame in samples
//   playFrames(m, tune, pacing, speed, out, count)  the song's next `count` samples, wherever
//                                                   its blocks and frames begin (pacing says
//                                                   where it is)
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

// Where a song is in its blocks and frames.
struct FramePacing {
    uint32_t blockLeft;  // samples left in the block; 0: the next sample begins a block
    uint32_t frameLeft;  // samples left in the frame; 0: the next sample begins a frame
};

uint32_t frameSamples(uint16_t timerValue, uint8_t speedFlags, uint32_t speed = kNormalSpeed);
void playFrames(Machine& m, const TuneInfo& tune, FramePacing& pacing, uint32_t speed, int16_t* out,
                uint32_t count);

}  // namespace sidtune
