#include "engine/song.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "audio/audio_format.h"
#include "cpu/cpu.h"
#include "sid/sid.h"
#include "tune/tune_loader.h"

namespace sidtune {

PlayError loadSong(Song& s, const uint8_t* bytes, size_t size) {
    resetMachine(s.machine, kSampleRate);
    return loadTuneBytes(s.machine, s.tune, bytes, size);
}

bool beginSong(Song& s, int32_t song) {
    if (song < 0 || song > s.tune.lastSong) return false;
    s.pacing = FramePacing{};
    if (s.settings.faithful) {
        // The machine the tune was written for: its clock, and its chips where it has more.
        const uint32_t clock = pacingClock(s.settings, s.tune);
        s.machine.moreChipAddresses = s.tune.moreChipAddresses;
        setChipClock(s.machine.sid, clock);
        for (SidChip& chip : s.machine.moreChips) setChipClock(chip, clock);
    }
    setMutedVoices(s.machine, s.settings.mutedVoices);
    callSubroutine(s.machine, s.tune.initAddress, uint8_t(song), kInitInstructionLimit);
    return true;
}

PlayError beginTune(Song& s, const uint8_t* bytes, size_t size, int32_t song) {
    const PlayError loaded = loadSong(s, bytes, size);
    if (loaded != PlayError::None) return loaded;
    return beginSong(s, song) ? PlayError::None : PlayError::NoSuchSong;
}

PlayError beginTuneFile(Song& s, const char* path, int32_t song) {
    if (path == nullptr) return PlayError::Unreadable;
    std::vector<uint8_t> bytes;
    const TuneRead read = readTune(FileName{path}, bytes);
    if (read.error != PlayError::None) return read.error;
    return beginTune(s, bytes.data(), bytes.size(), song);
}

void renderSong(Song& s, int16_t* samples, uint32_t count) {
    playFrames(s.machine, s.tune, s.pacing, playSpeed(s.settings), pacingClock(s.settings, s.tune), samples,
               count);
}

void skipSong(Song& s, uint64_t count) {
    int16_t unheard[1024];
    while (count != 0) {
        const uint32_t n = uint32_t(count < 1024 ? count : 1024);
        renderSong(s, unheard, n);
        count -= n;
    }
}

uint64_t seekSamples(double seconds) {
    if (!(seconds >= 0)) return 0;
    return uint64_t(std::llround(std::min(seconds, kMostSeekSeconds) * kSampleRate));
}

}  // namespace sidtune
