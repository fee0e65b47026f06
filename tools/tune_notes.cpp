#include "tune_notes.h"

namespace sidtune {

std::vector<SoundNote> soundNotes(const PsidHeader& h) {
    std::vector<SoundNote> notes;
    if (const int chips = h.chipCount(); chips > 1) {
        notes.push_back({std::to_string(chips) + " chips",
                         "written for " + std::to_string(chips) +
                             " sound chips: this player has one, and every chip's writes reach it"});
    }
    if (h.clock() == TuneClock::Ntsc) {
        notes.push_back({"NTSC",
                         "written for NTSC machines (60 frames a second): this player makes 50, as a PAL "
                         "machine does, so a tune paced by frames plays more slowly and a little lower"});
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
