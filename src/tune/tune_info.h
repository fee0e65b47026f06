// What the player keeps of a loaded tune's header.
#pragma once

#include <array>
#include <cstdint>

namespace sidtune {

struct TuneInfo {
    uint16_t loadAddress;  // where the tune's bytes begin in the image
    uint16_t initAddress;  // called with the song number in A
    uint16_t playAddress;  // called once per frame; 0 when neither header nor init routine gave one
    uint8_t lastSong;      // number of songs - 1, modulo 256: the highest song that may be started
    uint8_t speedFlags;    // header byte 21 unchanged; nonzero selects timer-paced frames
    uint16_t songCount;    // the header's 16-bit number of songs, as the file says it
    uint16_t startSong;    // the header's start song (counted from 1); the player itself starts song 0
    bool ntsc;             // the header says NTSC alone (flags bits 2-3 = 2): faithful playback's clock
    std::array<uint16_t, 2>
        moreChipAddresses;      // the second and third chip's, where the header names them; 0 none
    std::array<char, 32> name;  // raw header bytes, at most 31 of them, always zero-terminated
    std::array<char, 32> author;
    std::array<char, 32> released;
};

}  // namespace sidtune
