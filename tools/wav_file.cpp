#include "wav_file.h"

#include <cstring>
#include <fstream>
#include <iterator>

#include "audio/audio_format.h"
#include "unicode.h"

namespace sidtune::wav {
namespace {

void putLittleEndian(uint8_t* out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out[i] = uint8_t(value >> (8 * i));
}

uint32_t getLittleEndian(const uint8_t* bytes, size_t at, int count) {
    uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i) value = value << 8 | bytes[at + size_t(i)];
    return value;
}

}  // namespace

std::array<uint8_t, kHeaderBytes> header(uint32_t sampleCount) {
    const uint32_t dataBytes = sampleCount * kBytesPerSample;
    std::array<uint8_t, kHeaderBytes> h{};
    std::memcpy(h.data(), "RIFF", 4);
    putLittleEndian(h.data() + 4, kHeaderBytes - 8 + dataBytes, 4);
    std::memcpy(h.data() + 8, "WAVEfmt ", 8);
    putLittleEndian(h.data() + 16, 16, 4);
    putLittleEndian(h.data() + 20, kStreamFormat.formatTag, 2);
    putLittleEndian(h.data() + 22, kStreamFormat.channels, 2);
    putLittleEndian(h.data() + 24, kStreamFormat.samplesPerSec, 4);
    putLittleEndian(h.data() + 28, kStreamFormat.avgBytesPerSec, 4);
    putLittleEndian(h.data() + 32, kStreamFormat.blockAlign, 2);
    putLittleEndian(h.data() + 34, kStreamFormat.bitsPerSample, 2);
    std::memcpy(h.data() + 36, "data", 4);
    putLittleEndian(h.data() + 40, dataBytes, 4);
    return h;
}

void putSamples(const int16_t* samples, size_t count, uint8_t* out) {
    for (size_t i = 0; i < count; ++i) putLittleEndian(out + 2 * i, uint16_t(samples[i]), 2);
}

bool parse(const uint8_t* bytes, size_t size, Audio& audio, std::string& error) {
    if (size < 12 || std::memcmp(bytes, "RIFF", 4) != 0 || std::memcmp(bytes + 8, "WAVE", 4) != 0) {
        error = "not a RIFF WAVE file";
        return false;
    }
    audio = Audio{};
    bool haveFormat = false;
    // The chunks one after the other, each padded to an even size.
    for (size_t at = 12; at + 8 <= size;) {
        const uint8_t* id = bytes + at;
        const uint32_t chunkSize = getLittleEndian(bytes, at + 4, 4);
        const size_t body = at + 8, left = size - body;
        if (std::memcmp(id, "fmt ", 4) == 0 && chunkSize >= 16 && left >= 16) {
            if (getLittleEndian(bytes, body, 2) != kPcmFormatTag ||
                getLittleEndian(bytes, body + 14, 2) != 16) {
                error = "does not hold 16-bit PCM";
                return false;
            }
            audio.channels = uint16_t(getLittleEndian(bytes, body + 2, 2));
            audio.sampleRate = getLittleEndian(bytes, body + 4, 4);
            haveFormat = true;
        } else if (std::memcmp(id, "data", 4) == 0 && haveFormat) {
            audio.sizesAgree = chunkSize == left && getLittleEndian(bytes, 4, 4) == size - 8;
            // A size of 0, or one past the end: a recording whose sizes were never written.
            const size_t count = (chunkSize == 0 || chunkSize > left ? left : chunkSize) / 2;
            audio.samples.resize(count);
            for (size_t i = 0; i < count; ++i)
                audio.samples[i] = int16_t(getLittleEndian(bytes, body + 2 * i, 2));
            return true;
        }
        if (chunkSize > left) break;
        at = body + chunkSize + (chunkSize & 1);
    }
    error = std::string("has no ") + (haveFormat ? "data" : "format") + " chunk";
    return false;
}

bool read(const std::string& path, Audio& audio, std::string& error) {
    std::ifstream in(pathOf(path), std::ios::binary);
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    if (parse(bytes.data(), bytes.size(), audio, error)) return true;
    error = path + ": " + error;
    return false;
}

}  // namespace sidtune::wav
