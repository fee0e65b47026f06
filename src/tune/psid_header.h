// The PSID header: the one parser of it, for the loader and the tools alike. Every field is kept
// at the width the file gives it; what the player makes of them is the loader's business
// (tune_loader.h reads only some bytes of some fields, as the player always has).
//
//   PsidHeader h;
//   switch (parsePsidHeader(block, size, h)) { ... }
//
// The header, big-endian words unless said otherwise:
//
//     offset  size  field
//        0     4    magic: "PSID", or "RSID" for tunes that need a whole C64
//        4     2    version (1 to 4)
//        6     2    data offset: where the data begin (118 in version 1, 124 later)
//        8     2    load address; 0: the data begin with it, low byte first
//       10     2    init address
//       12     2    play address; 0: the init routine installs one
//       14     2    number of songs
//       16     2    start song, counted from 1: the song the tune's author marked
//       18     4    speed: bit n set, song n + 1 is paced by the CIA timer, else by 50 Hz frames
//    22/54/86  32   name, author, released: raw bytes, zero-padded, not always terminated
//      118     2    flags (version 2 on): bits 2-3 clock (1 PAL, 2 NTSC, 3 both), bits 4-5 the
//                   chip model (1 6581, 2 8580, 3 both), 6-7 and 8-9 those of a second and third chip
//      120     1    start page        121  1  page length
//      122     1    second chip's address (version 3 on): $42 means $D420; 0 none
//      123     1    third chip's address (version 4 on)
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace sidtune {

enum class HeaderStatus {
    Psid,       // a PSID header, with room for the data it announces
    Rsid,       // an RSID tune: a program for a whole C64, not a PSID tune
    Truncated,  // "PSID", but shorter than its header, or its data offset lies past the end
    NotATune,   // begins with neither "PSID" nor "RSID"
};

// The shortest header: version 1's.
constexpr size_t kPsidHeaderSize = 118;
constexpr size_t kPsidVersion2HeaderSize = 124;

enum class TuneClock : uint8_t { Unknown = 0, Pal = 1, Ntsc = 2, PalAndNtsc = 3 };
enum class ChipModel : uint8_t { Unknown = 0, Mos6581 = 1, Mos8580 = 2, Either = 3 };

struct PsidHeader {
    std::array<char, 4> magic;
    uint16_t version;
    uint16_t dataOffset;
    uint16_t loadAddress;
    uint16_t initAddress;
    uint16_t playAddress;
    uint16_t songs;
    uint16_t startSong;
    uint32_t speed;
    std::array<char, 32> name;
    std::array<char, 32> author;
    std::array<char, 32> released;
    // Version 2 and later; zero where the header has no such field.
    uint16_t flags;
    uint8_t startPage;
    uint8_t pageLength;
    uint8_t secondChip;
    uint8_t thirdChip;

    TuneClock clock() const { return TuneClock(flags >> 2 & 3); }
    ChipModel chipModel() const { return ChipModel(flags >> 4 & 3); }
    // The chips the tune writes: 1, or 2 or 3 where the header names valid addresses for more.
    int chipCount() const;
    // The address a chip number (2 or 3) byte names: $D420 for $42; 0 when it names none.
    static uint16_t chipAddress(uint8_t field);
};

// Parses the header of a block of `size` bytes. The header is filled wherever the block holds a
// whole version 1 header, whatever the status; otherwise it is left as it was.
HeaderStatus parsePsidHeader(const uint8_t* block, size_t size, PsidHeader& header);

}  // namespace sidtune
