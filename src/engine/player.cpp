#include "engine/player.h"

#include <cmath>
#include <mutex>
#include <vector>

#include "audio/volume.h"
#include "engine/engine_state.h"
#include "engine/song.h"
#include "tune/md5.h"
#include "tune/song_lengths.h"
#include "tune/tune_file.h"
#include "tune/tune_loader.h"

namespace sidtune {
namespace {

// The worker's block source: the stream's next samples, made while the host's thread is not
// running an init routine on the machine.
void fillFromEngine(void* engine, int16_t* samples, uint32_t count) {
    EngineState& e = *static_cast<EngineState*>(engine);
    std::lock_guard<std::mutex> guard(e.machineLock);
    playSongStream(e, samples, count);
}

// Whether the listener has heard the song that plays to its end.
bool endHeardNow(EngineState& e) {
    const uint64_t heard = samplesHeard(e.audio);
    const SongMark song = songHeard(e, heard);
    return song.endAt != kNoEnd && heard >= song.endAt;
}

// From now on the ends of songs are looked for (Player::endsWanted).
void wantEnds(EngineState& e) {
    if (e.player.endsWanted) return;
    std::lock_guard<std::mutex> guard(e.machineLock);
    e.player.endsWanted = true;
}

// How long a device that stopped at a song's end stays open after the end was heard by the
// clock: what the sound system still held then plays out (a server behind Wine's DirectSound holds
// some 50 ms that its clock does not count), instead of being cut off by the release.
constexpr uint64_t kPlayOutSamples = kSampleRate / 4;

// What happened since the last call: a lost output, a fade-out that is over, or a song heard to
// its end that stops there leaves the player Idle from here on. After a stop at the end, the
// device is released once it has played out.
void catchUp(EngineState& e) {
    if (e.player.state == PlayerState::Idle) {
        if (e.player.playingOut && samplesHeard(e.audio) >= e.player.playedOutAt) {
            e.player.playingOut = false;
            shutDownEngine(e);
        }
        return;
    }
    const bool ended = endHeardNow(e);
    if (outputLost(e.audio)) {
        closePlayer(e);
        e.player.lastError = PlayError::NoSoundOutput;
    } else if (fadeEnded(e.audio)) {
        closePlayer(e);
    } else if (ended && e.settings.endMode == EndMode::Stop) {
        // The stream is silence from the end on: nothing is heard after it, played out or not.
        e.player.state = PlayerState::Idle;
        e.player.playingOut = true;
        e.player.playedOutAt = samplesHeard(e.audio) + kPlayOutSamples;
    } else {
        return;
    }
    e.player.endHeard = ended;
}

// Each song's length from the song-length database, for the tune file's bytes; empty without one.
std::vector<uint32_t> lengthsOf(const EngineState& e, const std::vector<uint8_t>& bytes) {
    const SongLengthDatabase* db = e.player.songLengths.get();
    if (db == nullptr || db->tunes.empty()) return {};
    const auto found = db->tunes.find(md5(bytes.data(), bytes.size()));
    return found != db->tunes.end() ? found->second : std::vector<uint32_t>{};
}

PlayError errorOf(SongStart start) {
    switch (start) {
        case SongStart::Begun: return PlayError::None;
        case SongStart::Unreadable: return PlayError::Unreadable;
        case SongStart::NotPsid: return PlayError::NotATune;
        case SongStart::Rsid: return PlayError::Rsid;
        case SongStart::NoSuchSong: return PlayError::NoSuchSong;
    }
    return PlayError::NotATune;
}

}  // namespace

bool setUpEngine(EngineState& e) {
    resetMachine(e.machine, kSampleRate);
    return openAudioOutput(e.audio, BlockSource{fillFromEngine, &e});
}

void shutDownEngine(EngineState& e) { closeAudioOutput(e.audio); }

bool openPlayer(EngineState& e) {
    // Whatever the new file turns out to be, the tune that played before is stopped and released.
    closePlayer(e);
    const bool open = setUpEngine(e);
    e.player.lastError = open ? PlayError::None : PlayError::NoSoundOutput;
    return open;
}

bool startTune(EngineState& e, const char* fileName, int32_t song) {
    std::vector<uint8_t>& bytes = e.songs.tune;
    bytes.resize(kLargestUsefulTune);
    const TuneFileRead read = readTuneFile(FileName{fileName}, bytes.data(), bytes.size());
    bytes.resize(read.size);  // kept, for the next song (end mode "next") and the lengths' key
    // A read that fails part-way leaves a block of the bytes it delivered, which is parsed as any
    // block is; a file that cannot be opened, a directory, a FIFO or a device is no source.
    SongStart start = SongStart::Unreadable;
    if (read.status == TuneFileStatus::Read || read.status == TuneFileStatus::ReadFailed) {
        switch (loadTuneBytes(e.machine, e.tune, bytes.data(), bytes.size())) {
            case LoadStatus::Loaded:
                start = startSong(e, song) ? SongStart::Begun : SongStart::NoSuchSong;
                break;
            case LoadStatus::Unreadable: start = SongStart::Unreadable; break;
            case LoadStatus::NotPsid: start = SongStart::NotPsid; break;
            case LoadStatus::Rsid: start = SongStart::Rsid; break;
        }
    }
    e.player.lastError = errorOf(start);
    e.player.endHeard = false;
    if (start != SongStart::Begun) {
        shutDownEngine(e);
        return false;
    }
    e.player.state = PlayerState::Playing;
    return true;
}

void abandonPlayer(EngineState& e) {
    e.player.state = PlayerState::Idle;
    shutDownEngine(e);
}

bool startSong(EngineState& e, int32_t song) {
    if (song < 0 || song > e.tune.lastSong) return false;
    const std::vector<uint32_t> lengths = lengthsOf(e, e.songs.tune);
    if (!e.settings.quickStart) {
        // The stream's first half is silence; the song is heard from its second.
        startSongStream(e, song, kBlockSamples, lengths, e.songs.tune);
        // The stream starts playing inside the song's beginning, after rendering is on and before
        // the init routine runs: the worker's first block then waits on the machine lock until
        // the init routine has returned.
        return beginSong(e, song, [](EngineState& started) { setStreamPlaying(started.audio, true); });
    }
    // Quick start: the init routine runs with nothing playing, the first half is made from the
    // song, and only then does the stream start, with the song's first sample.
    startSongStream(e, song, 0, lengths, e.songs.tune);
    beginSong(e, song);
    primeStream(e.audio);
    setStreamPlaying(e.audio, true);
    return true;
}

void stopSong(EngineState& e) {
    e.renderEnabled.store(0, std::memory_order_release);
    setStreamPlaying(e.audio, false);
}

void pauseSong(EngineState& e) {
    catchUp(e);
    if (e.player.state != PlayerState::Playing) return;
    endFade(e.audio);
    pauseStream(e.audio);
    e.player.state = PlayerState::Paused;
}

void resumeSong(EngineState& e) {
    catchUp(e);
    if (e.player.state != PlayerState::Paused) return;
    resumeStream(e.audio);
    e.player.state = PlayerState::Playing;
}

void setPlayerVolume(EngineState& e, float value) {
    // While paused it sets the volume the resumed sound has.
    catchUp(e);
    if (e.player.state != PlayerState::Idle) applyVolume(e.audio, value);
}

void fadePlayer(EngineState& e, float to, float seconds, bool thenIdle) {
    catchUp(e);
    if (e.player.state == PlayerState::Idle) return;
    fadeVolume(e.audio, to, seconds, thenIdle);
    catchUp(e);  // a fade of no length is over at once
}

void closePlayer(EngineState& e) {
    e.player.endHeard = e.player.playingOut = false;
    if (e.player.state != PlayerState::Idle) {
        stopSong(e);
        e.player.state = PlayerState::Idle;
    }
    // Also after a set-up that no tune followed; nothing is called when nothing is open.
    shutDownEngine(e);
}

PlayerState playerState(EngineState& e) {
    catchUp(e);
    return e.player.state;
}

int32_t songsOfTune(EngineState& e) { return playerState(e) != PlayerState::Idle ? e.tune.lastSong + 1 : 0; }

int32_t songNow(EngineState& e) {
    if (playerState(e) == PlayerState::Idle) return 0;
    return songHeard(e, samplesHeard(e.audio)).song + 1;
}

int32_t songMilliseconds(EngineState& e) {
    if (playerState(e) == PlayerState::Idle) return 0;
    const uint64_t heard = samplesHeard(e.audio);
    const SongMark song = songHeard(e, heard);
    if (heard <= song.at) return 0;
    const uint64_t ms = (heard - song.at) * 1000 / kSampleRate;
    return ms > uint64_t(INT32_MAX) ? INT32_MAX : int32_t(ms);
}

PlayError lastPlayError(const EngineState& e) { return e.player.lastError; }

void setSpeed(EngineState& e, float ratio) {
    // The worker reads the speed at every frame it begins: it changes under the machine lock. The
    // song sounds otherwise from here on, and its end is looked for afresh.
    std::lock_guard<std::mutex> guard(e.machineLock);
    e.settings.speed = speedOfRatio(ratio, playSpeed(e.settings));
    if (e.player.state != PlayerState::Idle) rescout(e);
}

void setVoiceMuted(EngineState& e, int32_t voice, float muted) {
    if (std::isnan(muted)) return;
    std::lock_guard<std::mutex> guard(e.machineLock);
    e.settings.mutedVoices = mutedAfter(e.settings.mutedVoices, voice, muted != 0.0f);
    // A song that plays hears it from its next rendering on.
    if (e.player.state != PlayerState::Idle) {
        e.machine.sid.mutedVoices = e.settings.mutedVoices;
        rescout(e);
    }
}

void setQuickStart(EngineState& e, float on) {
    if (!std::isnan(on)) e.settings.quickStart = on != 0.0f;
}

void setEndMode(EngineState& e, float mode) {
    if (mode != 0.0f && mode != 1.0f && mode != 2.0f) return;
    std::lock_guard<std::mutex> guard(e.machineLock);
    e.settings.endMode = EndMode(int(mode));
    e.player.endsWanted = true;
}

void resetSettings(EngineState& e) {
    std::lock_guard<std::mutex> guard(e.machineLock);
    e.settings = PlaySettings{};
    e.player.songLengths.reset();
    e.player.endsWanted = false;
}

int32_t loadSongLengths(EngineState& e, const std::string& path) {
    auto db = std::make_shared<SongLengthDatabase>();
    readSongLengths(FileName{path.c_str()}, *db);  // none when it cannot be read
    e.player.songLengths = db;
    wantEnds(e);
    return int32_t(db->tunes.size());
}

int32_t songLengthNow(EngineState& e) {
    if (playerState(e) == PlayerState::Idle) return 0;
    return int32_t(songHeard(e, samplesHeard(e.audio)).lengthMs);
}

bool songEnded(EngineState& e) {
    wantEnds(e);
    if (playerState(e) == PlayerState::Idle) return e.player.endHeard;
    return endHeardNow(e);
}

}  // namespace sidtune
