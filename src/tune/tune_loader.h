// The PSID tune loader: the only reader of tune files.
//
// loadTune checks that a block of bytes is a PSID tune, keeps the header values the player needs
// in the engine's TuneInfo (e.tune), clears its memory image and copies the tune's code and data
// to their load address. A tune whose header names no play routine has its init routine run once
// here (with 0 in A), and the play address is taken from the interrupt vector at $0314/$0315 it
// installed.
//
//   loadTune(e, source, size, mode)   mode 1: source is a file name (size unused);
//                                     mode 2: source points to `size` bytes in memory
//   tuneTexts(tune)                   name, author and released of a loaded tune
//
// The PSID block as read here (big-endian words unless said otherwise):
//
//     offset  size  field
//        0     4    "PSID" (RSID tunes need a real machine and are refused)
//        7     1    data offset d (byte 6 is ignored)
//        8     2    load address; 0 means the data begin with it, low byte first
//       10     2    init address
//       12     2    play address; 0 means: ask the init routine
//       14     2    number of songs
//       16     2    start song (counted from 1)
//       21     1    speed flags (the low byte of the 32-bit speed field)
//    22/54/86  32   name, author, released
//        d     ...  [load address, low byte first,] then the tune's bytes
//
// Header versions 1 and 2 and later load alike: the data offset alone says where the data are.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tune/tune_info.h"

namespace sidtune {

struct EngineState;

enum TuneLoadMode : int {
    kLoadFromFile = 1,
    kLoadFromMemory = 2,
};

// Result codes of loadTune.
constexpr int kTuneLoaded = 0;
constexpr int kTuneSourceUnavailable = 1;  // no such file, not a regular file, no memory, or an unknown mode
constexpr int kTuneNotPsid = 2;            // too short, wrong magic, or data offset past the end

// A block shorter than this cannot hold a PSID header.
constexpr size_t kPsidHeaderSize = 118;
// No PSID tune needs more than this: a header of at most 255 bytes, the embedded load address,
// and 64 KiB of data. Bytes of a file beyond it could never reach the image, so they are not read.
constexpr size_t kLargestUsefulTune = 255 + 2 + 65536;

int loadTune(EngineState& e, const void* source, size_t size, int mode);
// Whether loadTune would take this block as a PSID tune (it may still be one that stalls).
bool isPsidBlock(const uint8_t* block, size_t size);

struct TuneTexts {
    const char* name;
    const char* author;
    const char* released;
};
TuneTexts tuneTexts(const TuneInfo& tune);

}  // namespace sidtune
