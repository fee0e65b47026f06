#include "engine/song.h"

#include <mutex>
#include <vector>

#include "audio/audio_format.h"
#include "cpu/cpu.h"
#include "engine/engine_state.h"
#include "tune/tune_file.h"
#include "tune/tune_loader.h"

namespace sidtune {
namespace {

// The song's beginning on the machine, with the lock held: the player's settings, and the init
// routine with the song number in A.
void runInit(EngineState& e, int32_t song) {
    e.pacing = FramePacing{};
    e.machine.sid.mutedVoices = e.settings.mutedVoices;
    callSubroutine(e.machine, e.tune.initAddress, uint8_t(song), kInitInstructionLimit);
}

SongStart load(EngineState& e, const uint8_t* bytes, size_t size) {
    resetMachine(e.machine, kSampleRate);
    switch (loadTuneBytes(e.machine, e.tune, bytes, size)) {
        case LoadStatus::Loaded: return SongStart::Begun;
        case LoadStatus::Unreadable: return SongStart::Unreadable;
        case LoadStatus::NotPsid: return SongStart::NotPsid;
        case LoadStatus::Rsid: return SongStart::Rsid;
    }
    return SongStart::NotPsid;
}

}  // namespace

bool beginSong(EngineState& e, int32_t song, void (*startOutput)(EngineState&)) {
    if (song < 0 || song > e.tune.lastSong) return false;
    std::lock_guard<std::mutex> guard(e.machineLock);
    e.renderEnabled.store(1, std::memory_order_release);
    if (startOutput != nullptr) startOutput(e);
    runInit(e, song);
    return true;
}

SongStart beginTune(EngineState& e, const uint8_t* bytes, size_t size, int32_t song,
                    void (*startOutput)(EngineState&)) {
    const SongStart loaded = load(e, bytes, size);
    if (loaded != SongStart::Begun) return loaded;
    return beginSong(e, song, startOutput) ? SongStart::Begun : SongStart::NoSuchSong;
}

SongStart beginTuneFile(EngineState& e, const char* path, int32_t song) {
    std::vector<uint8_t> bytes(kLargestUsefulTune);
    const TuneFileRead read = readTuneFile(FileName{path}, bytes.data(), bytes.size());
    if (read.status != TuneFileStatus::Read && read.status != TuneFileStatus::ReadFailed)
        return SongStart::Unreadable;
    return beginTune(e, bytes.data(), read.size, song);
}

SongStart beginTuneHeld(EngineState& e, const uint8_t* bytes, size_t size, int32_t song) {
    const SongStart loaded = load(e, bytes, size);
    if (loaded != SongStart::Begun) return loaded;
    if (song < 0 || song > e.tune.lastSong) return SongStart::NoSuchSong;
    runInit(e, song);
    return SongStart::Begun;
}

}  // namespace sidtune
