// The PSID tune loader: a tune, from a file or from bytes in memory, into a machine.
//
// Loading checks the header (psid_header.h), keeps what the player needs of it in a TuneInfo,
// clears the machine's memory image and copies the tune's code and data to their load address. A
// tune whose header names no play routine has its init routine run once here (with 0 in A), and
// the play address is taken from the interrupt vector at $0314/$0315 it installed.
//
//   readTune(path, bytes)                the one way a tune file is read, for the player, the
//                                        tools and check alike: its first kLargestUsefulTune
//                                        bytes into `bytes` (sized to what was read). Unreadable
//                                        unless the file is a regular file read to its end (or
//                                        to that size): a read that fails part-way delivers no
//                                        tune. `file` says why, for a tool's message
//   loadTuneFile(m, tune, path)          readTune, then as loadTuneBytes
//   loadTuneBytes(m, tune, bytes, size)  the block is read in place, neither kept nor released
//   tuneTexts(tune)                      name, author and released of a loaded tune
//
// A refused tune changes neither the TuneInfo nor the machine.
//
// What the player reads of the header, as it always has: the low byte of the data offset, the
// low byte of the number of songs (a field of 0 or 256 gives 256 songs), and the low byte of the
// speed field (songs 1 to 8). Header versions 1 and 2 and later load alike: the data offset alone
// says where the data are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tune/file_system.h"
#include "tune/play_error.h"
#include "tune/psid_header.h"
#include "tune/tune_file.h"
#include "tune/tune_info.h"

namespace sidtune {

struct Machine;

// No PSID tune needs more than this: a header of at most 255 bytes, the embedded load address,
// and 64 KiB of data. Bytes of a file beyond it could never reach the image, so they are not read.
constexpr size_t kLargestUsefulTune = 255 + 2 + 65536;

struct TuneRead {
    PlayError error;    // None or Unreadable
    TuneFileRead file;  // what the read of the file gave
};
TuneRead readTune(FileName path, std::vector<uint8_t>& bytes);

// None when loaded; Unreadable, NotATune or Rsid when refused.
PlayError loadTuneFile(Machine& m, TuneInfo& tune, const char* path);
PlayError loadTuneBytes(Machine& m, TuneInfo& tune, const uint8_t* bytes, size_t size);

struct TuneTexts {
    const char* name;
    const char* author;
    const char* released;
};
TuneTexts tuneTexts(const TuneInfo& tune);

}  // namespace sidtune
