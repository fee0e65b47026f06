#include "tune_notes.h"

namespace sidtune {

std::vector<SoundNote> soundNotes(const PsidHeader& h, bool faithful) {
    std::vector<SoundNote> notes;
    if (const int chips = h.chipCount(); chips > 1 && !faithful) {
        notes.push_back({std::to_string(chips) + " chips",
                         "written for " + std::to_string(chips) +
                             " sound chips: this player has one, and every chip's writes reach it "
                             "(--faithful plays them)"});
    }
    if (h.clock() == TuneClock::Ntsc && !faithful) {
        notes.push_back({"NTSC",
                         "written for NTSC machines (60 frames a second): this player makes 50, as a PAL "
                         "machine does, so a tune paced by frames plays more slowly and a little lower "
                         "(--faithful plays it at its own)"});
    }
    if (uint8_t(h.speed) != 0 && !faithful) {  // the byte the player reads
        notes.push_back({"timer",
                         "paced by its own timer: every half second of the stream begins a new frame here, "
                         "so its tempo may run a little fast, by up to a few percent (--faithful keeps it)"});
    }
    if (h.chipModel() == ChipModel::Mos8580) {
        notes.push_back({"8580",
                         "written for the later chip model, the 8580: this player's filter and combined "
                         "waveforms follow neither model exactly, and the tune's filter sweeps may sound "
                         "otherwise"});
    }
    return notes;
}

}  // namespace sidtune
