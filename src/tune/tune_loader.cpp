#include "tune/tune_loader.h"

#include <algorithm>
#include <cstring>

#include "cpu/cpu.h"
#include "cpu/machine.h"
#include "tune/tune_file.h"

namespace sidtune {
namespace {

void copyText(std::array<char, 32>& field, const std::array<char, 32>& text) {
    // At most 31 bytes and always a terminator, so a 32-byte text loses its last byte.
    std::memcpy(field.data(), text.data(), 31);
    field[31] = 0;
}

}  // namespace

TuneRead readTune(FileName path, std::vector<uint8_t>& bytes) {
    bytes.resize(kLargestUsefulTune);
    TuneRead read{PlayError::None, readTuneFile(path, bytes.data(), bytes.size())};
    if (read.file.status != TuneFileStatus::Read) {
        read.error = PlayError::Unreadable;
        read.file.size = 0;
    }
    bytes.resize(read.file.size);
    return read;
}

PlayError loadTuneBytes(Machine& m, TuneInfo& tune, const uint8_t* block, size_t size) {
    if (block == nullptr) return size == 0 ? PlayError::NotATune : PlayError::Unreadable;
    PsidHeader h;
    switch (parsePsidHeader(block, size, h)) {
        case HeaderStatus::Psid: break;
        case HeaderStatus::Rsid: return PlayError::Rsid;
        case HeaderStatus::Truncated:
        case HeaderStatus::NotATune: return PlayError::NotATune;
    }
    const size_t dataOffset = h.dataOffset & 0xFF;

    // A header load address of 0 means the data begin with their load address, low byte first.
    // Any other header load address is where the data go, and the data start at the offset.
    uint16_t loadAddress = h.loadAddress;
    size_t dataStart = dataOffset;
    if (h.loadAddress == 0) {
        loadAddress = uint16_t(block[dataOffset] | block[dataOffset + 1] << 8);
        dataStart = dataOffset + 2;
    }

    // From here on the load succeeds: the header values and the image are replaced.
    copyText(tune.name, h.name);
    copyText(tune.author, h.author);
    copyText(tune.released, h.released);
    tune.loadAddress = loadAddress;
    tune.initAddress = h.initAddress;
    tune.playAddress = h.playAddress;
    tune.songCount = h.songs;
    tune.lastSong = uint8_t(h.songs - 1);
    tune.startSong = h.startSong;
    tune.speedFlags = uint8_t(h.speed);
    tune.ntsc = h.clock() == TuneClock::Ntsc;
    tune.moreChipAddresses = {h.chipCount() >= 2 ? PsidHeader::chipAddress(h.secondChip) : uint16_t(0),
                              h.chipCount() >= 3 ? PsidHeader::chipAddress(h.thirdChip) : uint16_t(0)};

    // The image receives the tune and nothing else: no ROM, no vectors, no I/O defaults. Data
    // that would run past $FFFF are cut there rather than wrapped onto page 0.
    m.memory.fill(0);
    const size_t count = std::min(size - dataStart, size_t(0x10000) - loadAddress);
    std::memcpy(m.memory.data() + loadAddress, block + dataStart, count);

    if (tune.playAddress == 0) {
        // The init routine installs its interrupt handler, the play routine, at $0314/$0315.
        callSubroutine(m, tune.initAddress, 0, kInitInstructionLimit);
        tune.playAddress = uint16_t(m.memory[0x0314] | m.memory[0x0315] << 8);
    }
    return PlayError::None;
}

PlayError loadTuneFile(Machine& m, TuneInfo& tune, const char* path) {
    if (path == nullptr) return PlayError::Unreadable;
    std::vector<uint8_t> bytes;
    const TuneRead read = readTune(FileName{path}, bytes);
    return read.error != PlayError::None ? read.error : loadTuneBytes(m, tune, bytes.data(), bytes.size());
}

TuneTexts tuneTexts(const TuneInfo& tune) {
    return {tune.name.data(), tune.author.data(), tune.released.data()};
}

}  // namespace sidtune
