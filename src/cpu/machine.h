// The emulated machine: what tune code runs on and what it sounds through. The CPU's registers,
// the 64 KiB memory image, the sound chip and the sample player behind its extension registers,
// and the count of calls the instruction bound cut off. Nothing else: the machine knows nothing of
// tunes, players or sound devices, so the chips take only this (or less) and any number of
// machines can run side by side.
//
//   resetMachine(m, sampleRate)   the synthesizer set up for the rate, the sample player cleared,
//                                 the image cleared, fresh registers, no cut-off calls counted
//
// A new machine must be zero, as static storage is (`Machine m{}`); resetMachine makes it ready.
#pragma once

#include <cstdint>

#include "cpu/cpu_state.h"
#include "sid/sid_state.h"

namespace sidtune {

struct Machine {
    // First, so that the interpreter reaches the image and the rest of the machine through one
    // pointer (cpu.cpp asserts it).
    C64Memory memory;
    Cpu6502 cpu;
    SidChip sid;
    DigiPlayer digi;
    // Calls into tune code that the instruction bound cut off since the last reset.
    uint32_t cutOffCalls;
};

void resetMachine(Machine& m, uint32_t sampleRate);

}  // namespace sidtune
