#include "sid/sid.h"

namespace sidtune {

// The synthesizer is not built yet: tunes run silently.
void writeSidRegister(uint8_t, uint8_t) {}
void writeDigiRegister(uint16_t, uint8_t) {}
void setUpSynthesizer(uint32_t) {}

}  // namespace sidtune
