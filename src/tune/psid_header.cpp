#include "tune/psid_header.h"

#include <cstring>

namespace sidtune {
namespace {

uint16_t word(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }

void copyField(std::array<char, 32>& field, const uint8_t* text) {
    std::memcpy(field.data(), text, field.size());
}

}  // namespace

uint16_t PsidHeader::chipAddress(uint8_t field) {
    // Even values from $42 ($D420) to $7E and from $E0 to $FE: $D000 plus 16 times the value.
    const bool valid = field % 2 == 0 && ((field >= 0x42 && field <= 0x7E) || field >= 0xE0);
    return valid ? uint16_t(0xD000 + field * 16) : 0;
}

int PsidHeader::chipCount() const {
    if (version < 3 || chipAddress(secondChip) == 0) return 1;
    return version >= 4 && chipAddress(thirdChip) != 0 && thirdChip != secondChip ? 3 : 2;
}

HeaderStatus parsePsidHeader(const uint8_t* block, size_t size, PsidHeader& h) {
    const bool psid = size >= 4 && std::memcmp(block, "PSID", 4) == 0;
    const bool rsid = size >= 4 && std::memcmp(block, "RSID", 4) == 0;
    if (!psid && !rsid) return HeaderStatus::NotATune;
    if (size < kPsidHeaderSize) return rsid ? HeaderStatus::Rsid : HeaderStatus::Truncated;

    h = PsidHeader{};
    std::memcpy(h.magic.data(), block, 4);
    h.version = word(block + 4);
    h.dataOffset = word(block + 6);
    h.loadAddress = word(block + 8);
    h.initAddress = word(block + 10);
    h.playAddress = word(block + 12);
    h.songs = word(block + 14);
    h.startSong = word(block + 16);
    h.speed = uint32_t(word(block + 18)) << 16 | word(block + 20);
    copyField(h.name, block + 22);
    copyField(h.author, block + 54);
    copyField(h.released, block + 86);
    if (h.version >= 2 && size >= kPsidVersion2HeaderSize) {
        h.flags = word(block + 118);
        h.startPage = block[120];
        h.pageLength = block[121];
        h.secondChip = block[122];
        h.thirdChip = block[123];
    }
    if (rsid) return HeaderStatus::Rsid;
    // The player reads the low byte of the data offset; the embedded load address must be there.
    return size >= size_t(h.dataOffset & 0xFF) + 2 ? HeaderStatus::Psid : HeaderStatus::Truncated;
}

}  // namespace sidtune
