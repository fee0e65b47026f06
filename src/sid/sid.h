// The sound chip as the CPU sees it: the entry points through which CPU writes to $D400-$D7FF
// and the machine reset reach the synthesizer.
//
//   writeSidRegister(index, value)   a write to one of the chip's 32 register indexes (0-31)
//   writeDigiRegister(address, value) a write to $D41D-$D47F, the sample-playback registers
//   setUpSynthesizer(sampleRate)      puts the synthesizer into its start state
//
// The CPU and the image do not depend on what these do: with empty entry points a tune still
// runs, silently.
#pragma once

#include <cstdint>

namespace sidtune {

void writeSidRegister(uint8_t index, uint8_t value);
void writeDigiRegister(uint16_t address, uint8_t value);
void setUpSynthesizer(uint32_t sampleRate);

}  // namespace sidtune
