// The emulated machine: what tune code runs on and what it sounds through. The CPU's registers,
// the 64 KiB memory image, the sound chip and the sample player behind its extension registers,
// and the count of calls the instruction bound cut off. Nothing else: the machine knows nothing of
// tunes, players or sound devices, so the chips take only this (or less) and any number of
// machines can run side by side.
//
//   resetMachine(m, sampleRate)   the synthesizers set up for the rate, the sample players cleared,
//                                 the image cleared, fresh registers, no cut-off calls counted, one
//                                 chip
//   chipCount(m)                  the chips the machine sounds through: 1 to 3
//   setMutedVoices(m, muted)      the voices left out, the same on every chip
//
// A machine has one sound chip, which every write to $D400-$D7FF reaches, unless it is given more
// (faithful playback of a tune for two or three chips, song.h): a second and a third chip, each
// with its sample player, at the addresses the tune's header names.
//
// A new machine must be zero, as static storage is (`Machine m{}`); resetMachine makes it ready.
#pragma once

#include <array>
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
    // The second and third chip, where a machine has them: their addresses ($D420 to $D7E0, or
    // $DE00 to $DFE0; 0: none, and then none after it either), the chips and their sample players.
    std::array<uint16_t, 2> moreChipAddresses;
    std::array<SidChip, 2> moreChips;
    std::array<DigiPlayer, 2> moreDigis;
};

// Voices left out of the mix (bit v: voice v + 1), on every chip.
inline void setMutedVoices(Machine& m, uint8_t muted) {
    m.sid.mutedVoices = muted;
    for (SidChip& chip : m.moreChips) chip.mutedVoices = muted;
}

inline int chipCount(const Machine& m) {
    return m.moreChipAddresses[0] == 0 ? 1 : m.moreChipAddresses[1] == 0 ? 2 : 3;
}

void resetMachine(Machine& m, uint32_t sampleRate);

}  // namespace sidtune
