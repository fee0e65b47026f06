#include "engine/song.h"

#include <mutex>
#include <vector>

#include "audio/audio_format.h"
#include "cpu/cpu.h"
#include "engine/engine_state.h"
#include "tune/tune_file.h"
#include "tune/tune_loader.h"

namespace sidtune {

bool beginSong(EngineState& e, int32_t song, void (*startOutput)(EngineState&)) {
    if (song < 0 || song > e.tune.lastSong) return false;
    std::lock_guard<std::mutex> guard(e.machineLock);
    e.pacing = FramePacing{};
    e.machine.sid.mutedVoices = e.settings.mutedVoices;
    e.renderEnabled.store(1, std::memory_order_release);
    if (startOutput != nullptr) startOutput(e);
    callSubroutine(e.machine, e.tune.initAddress, uint8_t(song), kInitInstructionLimit);
    return true;
}

SongStart beginTune(EngineState& e, const uint8_t* bytes, size_t size, int32_t song,
                    void (*startOutput)(EngineState&)) {
    resetMachine(e.machine, kSampleRate);
    switch (loadTuneBytes(e.machine, e.tune, bytes, size)) {
        case LoadStatus::Loaded: break;
        case LoadStatus::Unreadable: return SongStart::Unreadable;
        case LoadStatus::NotPsid: return SongStart::NotPsid;
        case LoadStatus::Rsid: return SongStart::Rsid;
    }
    return beginSong(e, song, startOutput) ? SongStart::Begun : SongStart::NoSuchSong;
}

SongStart beginTuneFile(EngineState& e, const char* path, int32_t song) {
    std::vector<uint8_t> bytes(kLargestUsefulTune);
    const TuneFileRead read = readTuneFile(path, bytes.data(), bytes.size());
    if (read.status != TuneFileStatus::Read && read.status != TuneFileStatus::ReadFailed)
        return SongStart::Unreadable;
    return beginTune(e, bytes.data(), read.size, song);
}

}  // namespace sidtune
