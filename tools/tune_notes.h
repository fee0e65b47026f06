// What a tune's header says about the machine it was written for, where this player differs: the
// reasons a song that plays may sound otherwise here than on that machine. `sidtune info` gives
// them in sentences, `sidtune check` in a word each (its notes column and JSON field).
//
//   soundNotes(header, faithful)   in the order: chips, clock, timer pacing, chip model; in
//                                  faithful playback (which plays the chips, the clock and the
//                                  timer as that machine did) the chip model's alone
#pragma once

#include <string>
#include <vector>

#include "tune/psid_header.h"

namespace sidtune {

struct SoundNote {
    std::string word;      // for a table: "2 chips", "NTSC", "timer", "8580"
    std::string sentence;  // for a reader
};

std::vector<SoundNote> soundNotes(const PsidHeader& header, bool faithful = false);

}  // namespace sidtune
