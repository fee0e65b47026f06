#include "tune/tune_loader.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "cpu/cpu.h"
#include "engine/engine_state.h"
#include "tune/tune_file.h"

namespace sidtune {
namespace {

uint16_t bigEndianWord(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }

void copyText(std::array<char, 32>& field, const uint8_t* text) {
    // At most 31 bytes and always a terminator, so a 32-byte text loses its last byte.
    std::memcpy(field.data(), text, 31);
    field[31] = 0;
}

int parseBlock(EngineState& e, const uint8_t* block, size_t size) {
    if (!isPsidBlock(block, size)) return kTuneNotPsid;
    const size_t dataOffset = block[7];
    const uint16_t headerLoadAddress = bigEndianWord(block + 8);

    // A header load address of 0 means the data begin with their load address, low byte first.
    // Any other header load address is where the data go, and the data start at the offset.
    uint16_t loadAddress = headerLoadAddress;
    size_t dataStart = dataOffset;
    if (headerLoadAddress == 0) {
        loadAddress = uint16_t(block[dataOffset] | block[dataOffset + 1] << 8);
        dataStart = dataOffset + 2;
    }

    // From here on the load succeeds: the header and the image are replaced.
    TuneInfo& tune = e.tune;
    copyText(tune.name, block + 22);
    copyText(tune.author, block + 54);
    copyText(tune.released, block + 86);
    tune.loadAddress = loadAddress;
    tune.initAddress = bigEndianWord(block + 10);
    tune.playAddress = bigEndianWord(block + 12);
    tune.songCount = bigEndianWord(block + 14);
    tune.lastSong = uint8_t(block[15] - 1);
    tune.startSong = bigEndianWord(block + 16);
    tune.speedFlags = block[21];

    // The image receives the tune and nothing else: no ROM, no vectors, no I/O defaults. Data
    // that would run past $FFFF are cut there rather than wrapped onto page 0.
    e.memory.fill(0);
    const size_t count = std::min(size - dataStart, size_t(0x10000) - loadAddress);
    std::memcpy(e.memory.data() + loadAddress, block + dataStart, count);

    if (tune.playAddress == 0) {
        // The init routine installs its interrupt handler, the play routine, at $0314/$0315.
        callSubroutine(e, tune.initAddress, 0, kInitInstructionLimit);
        tune.playAddress = uint16_t(e.memory[0x0314] | e.memory[0x0315] << 8);
    }
    return kTuneLoaded;
}

int loadFile(EngineState& e, const char* fileName) {
    std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[kLargestUsefulTune]);
    if (!block) return kTuneSourceUnavailable;
    const TuneFileRead read = readTuneFile(fileName, block.get(), kLargestUsefulTune);
    // A read that fails part-way leaves a block of the bytes it delivered, which is parsed as
    // any block is; a file that cannot be opened, a directory, a FIFO or a device is no source.
    if (read.status != TuneFileStatus::Read && read.status != TuneFileStatus::ReadFailed) {
        return kTuneSourceUnavailable;
    }
    return parseBlock(e, block.get(), read.size);
}

}  // namespace

bool isPsidBlock(const uint8_t* block, size_t size) {
    // A header, the magic, and room for the embedded load address at the data offset.
    return size >= kPsidHeaderSize && std::memcmp(block, "PSID", 4) == 0 && size >= size_t(block[7]) + 2;
}

int loadTune(EngineState& e, const void* source, size_t size, int mode) {
    switch (mode) {
        case kLoadFromFile: return loadFile(e, static_cast<const char*>(source));
        case kLoadFromMemory:
            if (source == nullptr) return size == 0 ? kTuneNotPsid : kTuneSourceUnavailable;
            return parseBlock(e, static_cast<const uint8_t*>(source), size);
        default: return kTuneSourceUnavailable;
    }
}

TuneTexts tuneTexts(const TuneInfo& tune) {
    return {tune.name.data(), tune.author.data(), tune.released.data()};
}

}  // namespace sidtune
