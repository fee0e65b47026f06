// WAV files of 16-bit PCM: the one writer (sidtune render) and reader (the tests, of the tool's
// files and of recordings) of the format in the project.
//
//   header(sampleCount)       the canonical 44-byte header for that many 16-bit mono samples at
//                             the system's rate, kSampleRate
//   putSamples(samples, n, out)  the samples as the file holds them, little-endian
//   parse(bytes, size, audio, error)  the format and samples of a RIFF WAVE file of 16-bit PCM
//                                     held in memory; false with the reason when it is none
//   read(path, audio, error)          the same of a file, read whole
//
// The canonical file:
//
//     offset  size  field
//        0     4    "RIFF"
//        4     4    36 + data bytes
//        8     8    "WAVEfmt "
//       16     4    16: the size of the format chunk
//       20     2    1: PCM      22  2  channels      24  4  samples per second
//       28     4    bytes per second                 32  2  bytes per frame     34  2  bits per sample
//       36     4    "data"
//       40     4    data bytes
//       44          the samples
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace sidtune::wav {

constexpr uint32_t kHeaderBytes = 44;

std::array<uint8_t, kHeaderBytes> header(uint32_t sampleCount);
void putSamples(const int16_t* samples, size_t count, uint8_t* out);

struct Audio {
    uint16_t channels = 0;
    uint32_t sampleRate = 0;
    std::vector<int16_t> samples;  // interleaved when there are several channels
    // Whether the sizes in the header agree with the file: a recorder stopped by a signal may
    // leave them unwritten, and the samples are then the bytes up to the end of the file.
    bool sizesAgree = false;
};

bool parse(const uint8_t* bytes, size_t size, Audio& audio, std::string& error);
bool read(const std::string& path, Audio& audio, std::string& error);

}  // namespace sidtune::wav
