// Fuzz target: any sequence of writes to $D400-$D7FF (the chip and the digi registers),
// interleaved with rendering calls of any length. The input's tail fills the memory image, where
// digi samples are read from.
//   a command byte below $C0: a write; the next two bytes give the address ($D400 + 10 bits) and
//   the value. From $C0: render (next two bytes) mod 256 samples.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "audio/audio_format.h"
#include "cpu/cpu.h"
#include "cpu/machine.h"
#include "sid/sid.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace sidtune;
    static Machine m;  // the fuzzer's own machine, reset for every input
    resetMachine(m, kSampleRate);
    std::memcpy(m.memory.data(), data, size < 65536 ? size : 65536);
    static std::vector<int16_t> samples(256);
    for (size_t i = 0; i + 2 < size; i += 3) {
        const uint8_t command = data[i];
        const uint16_t operand = uint16_t(data[i + 1] | data[i + 2] << 8);
        if (command < 0xC0) {
            writeMemory(m, uint16_t(0xD400 + ((command << 8 | data[i + 1]) & 0x3FF)), data[i + 2]);
        } else {
            renderSamples(m.sid, m.digi, m.memory, samples.data(), operand % 256);
        }
    }
    return 0;
}
