// The sound chip: register writes, synthesizer set-up, and rendering.
//
// The tune's play routine writes registers through the CPU (writeSidRegister); rendering then
// latches the register file once per call and makes samples from it. Only the last value written
// to a register before a rendering call is heard, except for the gate bit, whose every write moves
// the envelope at once: gate off and on within one frame restarts the attack.
//
//   writeSidRegister(chip, index, value)  CPU writes to $D400-$D7FF, index = address AND $1F
//   latchParameters(chip)                 the register file into the synthesizer's parameters
//   setUpSynthesizer(chip, sampleRate)    rate-dependent tables, everything else cleared; the
//                                         design's clock (pitch, envelope times, sample periods)
//   setChipClock(chip, clock)             the chip run at a machine's clock in cycles per second
//                                         (faithful playback): its pitch, its envelope times and
//                                         its sample player's rate follow it; nothing else changes
//   renderSamples(chip, digi, memory, samples, count)
//                                         count signed 16-bit mono samples from the chip, with
//                                         the sample player's, which reads the memory image
//   renderSamplesBuiltFor(build, ...)     the same, by one build of the loops (for the tests)
//
// The sample player (digis through $D41D-$D47F, DigiRegister in sid_state.h):
//
//   writeDigiRegister(digi, address, value)        CPU writes to $D41D-$D47F
//   mixDigiSample(digi, memory, sampleRate, clock, mix)  adds the sounding sample value to one
//                                                  output sample, stepping through the sample in
//                                                  memory by periods of the chip's clock
//
// Files: registers.cpp (the register file and latching), envelope.h (the envelopes),
// voice_kernels.h (the voices), synthesizer.cpp (set-up and the rendering pipeline), digi.cpp.
//
// Rendering is 32-bit integer fixed point throughout and allocates nothing; floating point is
// used only at set-up, for the envelope step tables.
#pragma once

#include <cstdint>

#include "cpu/cpu_state.h"
#include "sid/sid_state.h"

namespace sidtune {

// Inline: the interpreter's every store to the chip comes here, and most only keep the byte.
inline void writeSidRegister(SidChip& chip, uint8_t index, uint8_t value) {
    if (index >= kSidRegisterCount) return;  // 25-31: nothing
    chip.registers.bytes[index] = value;
    // A control register's gate moves the envelope at once; the level itself is left where it is,
    // so an attack rises from wherever the release had got to.
    if (!isControlRegister(index)) return;
    EnvelopeState& state = chip.voices[voiceOfRegister(index)].envelopeState;
    if (!gateOn(value)) {
        state = EnvelopeState::Release;
    } else if (state == EnvelopeState::Release) {
        state = EnvelopeState::Attack;
    }
}
void latchParameters(SidChip& chip);
void setUpSynthesizer(SidChip& chip, uint32_t sampleRate);
void setChipClock(SidChip& chip, uint32_t clock);
void renderSamples(SidChip& chip, DigiPlayer& digi, const C64Memory& memory, int16_t* samples,
                   uint32_t count);
// The builds of the rendering loops, each for a set of processors (synthesizer.cpp). All make the
// same samples; renderSamples uses the widest the processor runs. Here so that the tests can
// compare them: renderSamplesBuiltFor may only be given a build that processorRuns.
enum class RenderBuild { Baseline, Sse41, Avx2 };
bool processorRuns(RenderBuild build);
void renderSamplesBuiltFor(RenderBuild build, SidChip& chip, DigiPlayer& digi, const C64Memory& memory,
                           int16_t* samples, uint32_t count);

void writeDigiRegister(DigiPlayer& digi, uint16_t address, uint8_t value);
int32_t mixDigiSample(DigiPlayer& digi, const C64Memory& memory, uint32_t sampleRate, uint32_t clock,
                      int32_t mix);

}  // namespace sidtune
