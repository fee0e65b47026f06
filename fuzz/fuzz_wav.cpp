// Fuzz target: any block of bytes parsed as a WAV file, as the tests read recordings and renders.
#include <cstddef>
#include <cstdint>
#include <string>

#include "wav_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    sidtune::wav::Audio audio;
    std::string error;
    sidtune::wav::parse(data, size, audio, error);
    return 0;
}
