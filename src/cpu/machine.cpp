#include "cpu/machine.h"

#include "sid/sid.h"

namespace sidtune {

void resetMachine(Machine& m, uint32_t sampleRate) {
    setUpSynthesizer(m.sid, sampleRate);
    // A new tune never inherits a sample, a position or a latched value from the last one.
    m.digi = DigiPlayer{};
    for (SidChip& chip : m.moreChips) setUpSynthesizer(chip, sampleRate);
    m.moreDigis = {};
    m.moreChipAddresses = {};
    m.memory.fill(0);
    m.cpu = {};
    m.cpu.SP = 0xFF;
    m.cutOffCalls = 0;
}

}  // namespace sidtune
