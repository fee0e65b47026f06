#include "engine/song.h"

#include <vector>

#include "audio/audio_format.h"
#include "cpu/cpu.h"
#include "tune/tune_loader.h"

namespace sidtune {

PlayError loadSong(Song& s, const uint8_t* bytes, size_t size) {
    resetMachine(s.machine, kSampleRate);
    return loadTuneBytes(s.machine, s.tune, bytes, size);
}

bool beginSong(Song& s, int32_t song) {
    if (song < 0 || song > s.tune.lastSong) return false;
    s.pacing = FramePacing{};
    s.machine.sid.mutedVoices = s.settings.mutedVoices;
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
    playFrames(s.machine, s.tune, s.pacing, playSpeed(s.settings), samples, count);
}

}  // namespace sidtune
