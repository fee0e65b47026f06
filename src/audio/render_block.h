// Frame-paced rendering: how a block of samples is made from the tune.
//
// A block (in the player, one half of the one-second stream: kBlockSamples) is cut into frames.
// At the start of every frame the tune's play routine runs, then the synthesizer renders the
// frame's samples. A frame lasts 20 ms (882 samples) unless the tune's speed flags ask for timer
// pacing; then its length follows the CIA timer value the tune keeps at $DC04/$DC05, read afresh
// before each frame. Every block begins a new frame: a frame cut short at the end of a block is
// not continued in the next one.
//
//   renderBlock(e, samples, byteCount)    fills byteCount / 2 samples from engine e; silence while
//                                         e.renderEnabled is 0
//   frameSamples(timerValue, speedFlags)  the length of one frame in samples
#pragma once

#include <cstdint>

#include "audio/audio_format.h"

namespace sidtune {

struct EngineState;

constexpr uint32_t kDefaultFrameSamples = kSampleRate / 50;  // 20 ms: 882

uint32_t frameSamples(uint16_t timerValue, uint8_t speedFlags);
void renderBlock(EngineState& e, int16_t* samples, uint32_t byteCount);

}  // namespace sidtune
