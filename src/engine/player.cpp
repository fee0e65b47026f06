#include "engine/player.h"

#include <cmath>
#include <cstring>
#include <mutex>
#include <vector>

#include "audio/volume.h"
#include "engine/song.h"
#include "tune/md5.h"
#include "tune/song_lengths.h"
#include "tune/tune_loader.h"

namespace sidtune {
namespace {

// The music's marks, for the host's thread: after every change, with the song lock held.
void publishMarks(Player& p) {
    std::lock_guard<std::mutex> guard(p.marksLock);
    p.heardMarks = p.music.stream.marks;
}

// The music's stream sample the listener has got to: the stream's, less the time the music was held
// while paused, standing where it was held while it is.
uint64_t musicHeard(Player& p) {
    const uint64_t heard = p.mix.musicHeld ? p.mix.heldFrom : samplesHeard(p.audio);
    return heard - std::min(heard, p.mix.musicShift);
}

// The song heard at the music's stream sample `heard`.
SongMark markHeard(Player& p, uint64_t heard) {
    std::lock_guard<std::mutex> guard(p.marksLock);
    return songHeard(p.heardMarks, heard);
}

// The worker's block source: the stream's next samples, made while the host's thread is not
// running an init routine on a song.
void fillFromPlayer(void* player, int16_t* samples, uint32_t count) {
    Player& p = *static_cast<Player*>(player);
    std::lock_guard<std::mutex> guard(p.songLock);
    Mix& m = p.mix;
    m.musicSilent = p.renderEnabled.load(std::memory_order_acquire) == 0;
    if (!m.musicSilent && !m.musicHeld && m.heldNext == m.heldCount && !m.crossfading)
        saveSongPlace(p.places[p.nextPlace++ % p.places.size()], p.music, m.made);
    mixSamples(m, p.music, samples, count);
    publishMarks(p);
}

// The first stream sample the device lets a change reach, with the song lock held (at the latest
// the next sample made): what it takes next, or the first of what it holds and can take again.
uint64_t firstChangeable(Player& p) {
    const uint64_t taken = samplesTaken(p.audio), made = p.mix.made;
    // No earlier than the mix keeps, which is as far back as the stream buffer holds (a sound
    // output that holds much beyond it has the halves refilled later: software_stream.h).
    return std::max(std::min(taken - std::min(samplesRetakable(p.audio), taken), made),
                    made - std::min<uint64_t>(made, kKeptSamples));
}

// Where a change to the mix begins while the stream plays: kChangeLead past the first sample it
// can reach.
uint64_t changePoint(Player& p) { return std::min(firstChangeable(p) + kChangeLead, p.mix.made); }

// The stream from `at` on (made, not yet taken) mixed again and written over, with the song lock
// held.
void remixStream(Player& p, uint64_t at) {
    const uint32_t n = beginRemix(p.mix, p.music, at);
    const BlockSource remix{
        [](void* mix, int16_t* out, uint32_t count) { remixNext(*static_cast<Mix*>(mix), out, count); },
        &p.mix};
    if (n == 0 || rewriteStream(p.audio, at, n, remix)) return;
    // The buffer could not be had: the mix goes on from where the remix ends all the same.
    int16_t unheard[256];
    while (p.mix.remixAt < p.mix.made) remixNext(p.mix, unheard, 256);
}

// The music's places no longer serve (it is another song, or was made otherwise since).
void forgetPlaces(Player& p) {
    for (SongPlace& place : p.places) place.saved = false;
}

// The music made again from stream sample `at` with its settings as they are now, with the song
// lock held: from the latest place saved at or before `at`, made up to it unheard with the settings
// it was made with (`before`), then mixed again from there. false when no place serves.
bool remakeMusic(Player& p, uint64_t at, const SongSettings& before) {
    Mix& m = p.mix;
    if (m.musicHeld || m.heldNext != m.heldCount || m.crossfading || at > m.made ||
        m.made - at > kKeptSamples)
        return false;
    SongPlace* from = nullptr;
    for (SongPlace& place : p.places) {
        if (place.saved && place.at <= at && place.made + m.musicShift == place.at &&
            (from == nullptr || place.at > from->at))
            from = &place;
    }
    if (from == nullptr) return false;
    const SongSettings now = p.music.settings;
    restoreSongPlace(p.music, *from);
    p.music.settings = before;
    int16_t unheard[512];
    for (uint64_t left = at - from->at; left != 0;) {
        const uint32_t n = uint32_t(std::min<uint64_t>(left, 512));
        playSongStream(p.music, unheard, n);
        left -= n;
    }
    // The place from here on is this one: what was made before it with other settings is not.
    forgetPlaces(p);
    saveSongPlace(p.places[(p.nextPlace + p.places.size() - 1) % p.places.size()], p.music,
                  at);  // (the worker's last)
    p.music.settings = now;
    setMutedVoices(p.music.machine, now.mutedVoices);
    remixStream(p, at);
    return true;
}

// The player's settings, for a song that plays already: whether it is played faithfully stays what
// it began with (its machine was made for it).
SongSettings settingsOfPlaying(const Player& p, const Song& song) {
    SongSettings s = p.settings;
    s.faithful = song.settings.faithful;
    return s;
}

// The music's settings changed (p.settings): heard from the change point on where the music can be
// made again from there, else from the next sample made. Its end is looked for afresh. With the
// song lock held.
void settingsChanged(Player& p, const SongSettings& before) {
    p.music.settings = settingsOfPlaying(p, p.music);
    if (p.state == PlayerState::Idle) return;
    const uint64_t at = p.state == PlayerState::Paused ? firstChangeable(p) : changePoint(p);
    if (!remakeMusic(p, at, before)) {
        setMutedVoices(p.music.machine, p.settings.mutedVoices);
        forgetPlaces(p);
    }
    rescout(p.music);
    publishMarks(p);
}

// Whether an effect is still to be heard.
bool effectsAhead(Player& p) {
    const uint64_t heard = samplesHeard(p.audio);
    std::lock_guard<std::mutex> guard(p.songLock);
    for (const Effect& e : p.mix.effects) {
        if (e.used && e.endAt > heard) return true;
    }
    return false;
}

// Whether the listener has heard the song that plays to its end.
bool endHeardNow(Player& p) {
    const uint64_t heard = musicHeard(p);
    const SongMark song = markHeard(p, heard);
    return song.endAt != kNoEnd && heard >= song.endAt;
}

// From now on the ends of songs are looked for (SongSettings::findEnds).
void wantEnds(Player& p) {
    if (p.settings.findEnds) return;
    std::lock_guard<std::mutex> guard(p.songLock);
    p.settings.findEnds = p.music.settings.findEnds = true;
}

// How long a device that stopped at a song's end stays open after the end was heard by the
// clock: what the sound system still held then plays out (a server behind Wine's DirectSound holds
// some 50 ms that its clock does not count), instead of being cut off by the release.
constexpr uint64_t kPlayOutSamples = kSampleRate / 4;

// What happened since the last call: a lost output, a fade-out that is over, or a song heard to
// its end that stops there leaves the player Idle from here on. After a stop at the end, the
// device is released once it has played out.
void catchUp(Player& p) {
    if (p.effectsAlone && (outputLost(p.audio) || !effectsAhead(p))) {
        p.effectsAlone = false;
        shutDownEngine(p);
    }
    if (p.state == PlayerState::Idle) {
        if (p.playingOut && samplesHeard(p.audio) >= p.playedOutAt) {
            p.playingOut = false;
            shutDownEngine(p);
        }
        return;
    }
    // (The clock asked once: every command that asks about the state comes here.)
    const uint64_t heard = musicHeard(p);
    const SongMark mark = markHeard(p, heard);
    const bool ended = mark.endAt != kNoEnd && heard >= mark.endAt;
    const uint32_t ends = endsHeardAt(mark, heard);
    if (outputLost(p.audio)) {
        closePlayer(p);
        p.lastError = PlayError::NoSoundOutput;
    } else if (fadeEnded(p.audio)) {
        closePlayer(p);
    } else if (ended && p.settings.endMode == EndMode::Stop) {
        // The stream is silence from the end on: nothing is heard after it, played out or not.
        p.state = PlayerState::Idle;
        p.playingOut = true;
        p.playedOutAt = samplesHeard(p.audio) + kPlayOutSamples;
    } else {
        return;
    }
    p.endHeard = ended;
    p.endsKept = ends;
}

// Each song's length from the song-length database, for the tune file's bytes; empty without one.
std::vector<uint32_t> lengthsOf(const Player& p, const std::vector<uint8_t>& bytes) {
    const SongLengthDatabase* db = p.songLengths.get();
    if (db == nullptr || db->tunes.empty()) return {};
    const auto found = db->tunes.find(md5(bytes.data(), bytes.size()));
    return found != db->tunes.end() ? found->second : std::vector<uint32_t>{};
}

}  // namespace

bool setUpEngine(Player& p) {
    resetMachine(p.music.machine, kSampleRate);
    return openAudioOutput(p.audio, BlockSource{fillFromPlayer, &p});
}

void shutDownEngine(Player& p) { closeAudioOutput(p.audio); }

bool openPlayer(Player& p) {
    // Whatever the new file turns out to be, the tune that played before is stopped and released.
    closePlayer(p);
    const bool open = setUpEngine(p);
    p.lastError = open ? PlayError::None : PlayError::NoSoundOutput;
    return open;
}

bool startTune(Player& p, const char* fileName, int32_t song) {
    std::vector<uint8_t> bytes;
    PlayError error = readTune(FileName{fileName}, bytes).error;
    // The bytes are kept by the song's stream, for the next song (end mode "next") and the
    // lengths' key.
    if (error == PlayError::None) error = loadSong(p.music, bytes.data(), bytes.size());
    p.music.stream.tune = std::move(bytes);
    if (error == PlayError::None && !startSong(p, song)) error = PlayError::NoSuchSong;
    p.lastError = error;
    p.endHeard = false;
    p.endsKept = 0;
    if (error != PlayError::None) {
        shutDownEngine(p);
        return false;
    }
    p.state = PlayerState::Playing;
    return true;
}

void abandonPlayer(Player& p) {
    p.state = PlayerState::Idle;
    p.effectsAlone = false;
    p.fadeInSamples = 0;
    shutDownEngine(p);
}

bool startSong(Player& p, int32_t song) {
    Song& music = p.music;
    if (song < 0 || song > music.tune.lastSong) return false;
    const std::vector<uint32_t> lengths = lengthsOf(p, music.stream.tune);
    {
        std::lock_guard<std::mutex> guard(p.songLock);
        restartMix(p.mix, p.quickStart ? 0 : kBlockSamples);
        forgetPlaces(p);
        if (p.fadeInSamples != 0) fadeInMusic(p.mix, p.mix.made, p.fadeInSamples);
        music.settings = p.settings;
        // Without the quick start the stream's first half is silence, and the song is heard from
        // its second; with it the first half is made from the song.
        startSongStream(music, song, p.quickStart ? 0 : kBlockSamples, lengths, music.stream.tune);
        publishMarks(p);
        p.renderEnabled.store(1, std::memory_order_release);
        if (!p.quickStart) {
            // The stream starts playing before the init routine runs: the worker's first block
            // then waits on the song lock until the init routine has returned.
            setStreamPlaying(p.audio, true);
            return beginSong(music, song);
        }
        beginSong(music, song);
    }
    // Quick start: the init routine has run with nothing playing; the first half is made from the
    // song, and only then does the stream start, with the song's first sample.
    primeStream(p.audio);
    setStreamPlaying(p.audio, true);
    return true;
}

void stopSong(Player& p) {
    p.renderEnabled.store(0, std::memory_order_release);
    setStreamPlaying(p.audio, false);
}

void pauseSong(Player& p) {
    catchUp(p);
    if (p.state != PlayerState::Playing) return;
    endFade(p.audio);
    pauseStream(p.audio);
    p.state = PlayerState::Paused;
}

void resumeSong(Player& p) {
    catchUp(p);
    if (p.state != PlayerState::Paused) return;
    if (p.mix.musicHeld) {
        // The stream plays effects: the music goes on from where it was held, heard at once.
        std::lock_guard<std::mutex> guard(p.songLock);
        const uint64_t at = changePoint(p);
        releaseMusic(p.mix, p.music, at);
        remixStream(p, at);
        p.state = PlayerState::Playing;
        return;
    }
    resumeStream(p.audio);
    p.state = PlayerState::Playing;
}

void setPlayerVolume(Player& p, float value) {
    // While paused it sets the volume the resumed sound has.
    catchUp(p);
    if (p.state != PlayerState::Idle) applyVolume(p.audio, value);
}

void fadePlayer(Player& p, float to, float seconds, bool thenIdle) {
    catchUp(p);
    if (p.state == PlayerState::Idle) return;
    fadeVolume(p.audio, to, seconds, thenIdle);
    catchUp(p);  // a fade of no length is over at once
}

void closePlayer(Player& p) {
    p.endHeard = p.playingOut = p.effectsAlone = false;
    p.endsKept = 0;
    if (p.state != PlayerState::Idle) {
        stopSong(p);
        p.state = PlayerState::Idle;
    }
    // Also after a set-up that no tune followed; nothing is called when nothing is open.
    shutDownEngine(p);
}

PlayerState playerState(Player& p) {
    catchUp(p);
    return p.state;
}

int32_t songsOfTune(Player& p) { return playerState(p) != PlayerState::Idle ? p.music.tune.lastSong + 1 : 0; }

int32_t songNow(Player& p) {
    if (playerState(p) == PlayerState::Idle) return 0;
    return markHeard(p, musicHeard(p)).song + 1;
}

int32_t songMilliseconds(Player& p) {
    if (playerState(p) == PlayerState::Idle) return 0;
    const uint64_t heard = musicHeard(p);
    const uint64_t ms = songSamplesAt(markHeard(p, heard), heard) * 1000 / kSampleRate;
    return ms > uint64_t(INT32_MAX) ? INT32_MAX : int32_t(ms);
}

PlayError lastPlayError(const Player& p) { return p.lastError; }

void setSpeed(Player& p, float ratio) {
    // The worker reads the speed at every frame it begins: it changes under the song lock.
    catchUp(p);
    std::lock_guard<std::mutex> guard(p.songLock);
    const SongSettings before = p.music.settings;
    p.settings.speed = speedOfRatio(ratio, playSpeed(p.settings));
    settingsChanged(p, before);
}

void setVoiceMuted(Player& p, int32_t voice, float muted) {
    if (std::isnan(muted)) return;
    catchUp(p);
    std::lock_guard<std::mutex> guard(p.songLock);
    const SongSettings before = p.music.settings;
    p.settings.mutedVoices = mutedAfter(p.settings.mutedVoices, voice, muted != 0.0f);
    settingsChanged(p, before);
}

void setQuickStart(Player& p, float on) {
    if (!std::isnan(on)) p.quickStart = on != 0.0f;
}

void setEndMode(Player& p, float mode) {
    if (mode != 0.0f && mode != 1.0f && mode != 2.0f && mode != 3.0f) return;
    std::lock_guard<std::mutex> guard(p.songLock);
    p.settings.endMode = p.music.settings.endMode = EndMode(int(mode));
    p.settings.findEnds = p.music.settings.findEnds = true;
}

void setFaithful(Player& p, float on) {
    if (std::isnan(on)) return;
    std::lock_guard<std::mutex> guard(p.songLock);
    p.settings.faithful = on != 0.0f;
}

void resetSettings(Player& p) {
    std::lock_guard<std::mutex> guard(p.songLock);
    p.settings = SongSettings{};
    p.quickStart = false;
    setEffectVolume(p.mix, 1.0f);
    setMusicDuck(p.mix, 1.0f);
    p.songLengths.reset();
}

int32_t loadSongLengths(Player& p, const std::string& path) {
    auto db = std::make_shared<SongLengthDatabase>();
    readSongLengths(FileName{path.c_str()}, *db);  // none when it cannot be read
    p.songLengths = db;
    wantEnds(p);
    return int32_t(db->tunes.size());
}

int32_t songLengthNow(Player& p) {
    if (playerState(p) == PlayerState::Idle) return 0;
    return int32_t(markHeard(p, musicHeard(p)).lengthMs);
}

bool songEnded(Player& p) {
    wantEnds(p);
    if (playerState(p) == PlayerState::Idle) return p.endHeard;
    return endHeardNow(p);
}

namespace {

// Song `song` of a tune file, read: its bytes and each song's length, or why not.
PlayError readSong(Player& p, const char* fileName, int32_t song, std::vector<uint8_t>& bytes,
                   std::vector<uint32_t>& lengths) {
    const PlayError error = readTune(FileName{fileName}, bytes).error;
    if (error != PlayError::None) return error;
    lengths = lengthsOf(p, bytes);
    return song < 0 ? PlayError::NoSuchSong : PlayError::None;
}

}  // namespace

bool playEffect(Player& p, const char* fileName, int32_t song, float seconds) {
    catchUp(p);
    std::vector<uint8_t> bytes;
    std::vector<uint32_t> lengths;
    PlayError error = readSong(p, fileName, song, bytes, lengths);
    const uint32_t lengthMs = size_t(song) < lengths.size() ? lengths[size_t(song)] : 0;
    const double length = seconds > 0 && std::isfinite(seconds) ? double(seconds) : 0.0;
    if (error == PlayError::None && p.state == PlayerState::Idle && !p.effectsAlone) {
        // Nothing plays: the effect is heard alone, on an output of its own, from its first sample.
        if (p.playingOut) {
            p.playingOut = false;
            shutDownEngine(p);
        }
        if (!setUpEngine(p)) {
            p.lastError = PlayError::NoSoundOutput;
            return false;
        }
        {
            std::lock_guard<std::mutex> guard(p.songLock);
            p.renderEnabled.store(0, std::memory_order_release);
            restartMix(p.mix, 0);
            error = startEffect(p.mix, 0, bytes.data(), bytes.size(), song, length, lengthMs);
        }
        if (error == PlayError::None) {
            primeStream(p.audio);
            setStreamPlaying(p.audio, true);
            p.effectsAlone = true;
        } else {
            shutDownEngine(p);
        }
    } else if (error == PlayError::None && p.state == PlayerState::Paused && !p.mix.musicHeld) {
        // The music paused, the stream stopped: it plays again for the effect, the music held
        // silent where the device will go on from (all it holds is taken again).
        {
            std::lock_guard<std::mutex> guard(p.songLock);
            const uint64_t at = firstChangeable(p);  // (nothing plays meanwhile)
            error = startEffect(p.mix, at, bytes.data(), bytes.size(), song, length, lengthMs);
            if (error == PlayError::None) {
                holdMusic(p.mix, at);
                remixStream(p, at);
            }
        }
        if (error == PlayError::None) resumeStream(p.audio);
    } else if (error == PlayError::None) {
        std::lock_guard<std::mutex> guard(p.songLock);
        const uint64_t at = changePoint(p);
        error = startEffect(p.mix, at, bytes.data(), bytes.size(), song, length, lengthMs);
        if (error == PlayError::None) remixStream(p, at);
    }
    p.lastError = error;
    return error == PlayError::None;
}

void stopEffects(Player& p) {
    std::lock_guard<std::mutex> guard(p.songLock);
    if (p.audio.streamBuffer == nullptr) return;
    const uint64_t at = changePoint(p);
    stopEffects(p.mix, at);
    remixStream(p, at);
}

int32_t effectsHeard(Player& p) {
    catchUp(p);
    if (p.audio.streamBuffer == nullptr) return 0;
    const uint64_t heard = samplesHeard(p.audio);
    std::lock_guard<std::mutex> guard(p.songLock);
    return effectsPlaying(p.mix, heard);
}

void setEffectVolume(Player& p, float value) {
    std::lock_guard<std::mutex> guard(p.songLock);
    setEffectVolume(p.mix, value);
}

void setMusicDuck(Player& p, float share) {
    std::lock_guard<std::mutex> guard(p.songLock);
    setMusicDuck(p.mix, share);
}

bool crossfadeTo(Player& p, const char* fileName, int32_t song, float seconds) {
    catchUp(p);
    const uint64_t samples =
        seconds > 0 && std::isfinite(seconds) ? uint64_t(std::llround(double(seconds) * kSampleRate)) : 0;
    if (p.state != PlayerState::Playing) {
        // From Idle or Paused: a play that rises from silence.
        if (!openPlayer(p)) return false;
        p.fadeInSamples = std::max<uint64_t>(samples, 1);
        const bool playing = startTune(p, fileName, song);
        p.fadeInSamples = 0;
        return playing;
    }
    std::vector<uint8_t> bytes;
    std::vector<uint32_t> lengths;
    PlayError error = readSong(p, fileName, song, bytes, lengths);
    if (error == PlayError::None) {
        std::lock_guard<std::mutex> guard(p.songLock);
        Song& next = p.mix.spare;
        next.settings = p.settings;
        error = beginTune(next, bytes.data(), bytes.size(), song);
        if (error == PlayError::None) {
            // The music's stream runs behind the mix's by the time it was held while paused.
            const uint64_t at = changePoint(p);
            startSongStream(next, song, at - p.mix.musicShift, lengths, bytes);
            startCrossfade(p.mix, p.music, next, samples);
            forgetPlaces(p);
            remixStream(p, at);
            publishMarks(p);
            p.endHeard = false;
        }
    }
    p.lastError = error;
    return error == PlayError::None;
}

bool seekSong(Player& p, float seconds) {
    catchUp(p);
    if (p.state == PlayerState::Idle || !(seconds >= 0.0f)) return false;
    // The song heard, begun afresh and made up to the point unheard, aside: the music plays on
    // meanwhile.
    const uint64_t heard = musicHeard(p);
    const SongMark mark = markHeard(p, heard);
    uint64_t skipped = seekSamples(double(seconds));
    if (mark.lengthMs != 0) skipped = std::min(skipped, lengthSamples(mark.lengthMs));
    // The spare and the music's tune bytes are this thread's alone: the worker reads neither.
    const std::vector<uint8_t>& bytes = p.music.stream.tune;
    Song& next = p.mix.spare;
    next.settings = settingsOfPlaying(p, p.music);
    if (beginTune(next, bytes.data(), bytes.size(), std::max(mark.song, 0)) != PlayError::None) return false;
    skipSong(next, skipped);
    std::lock_guard<std::mutex> guard(p.songLock);
    Mix& m = p.mix;
    // Where the new place is heard from: while the music is held for effects, where it was held;
    // while paused, the first sample the device will play; else the change point.
    const bool paused = p.state == PlayerState::Paused;
    const uint64_t at = m.musicHeld ? m.heldFrom : paused ? firstChangeable(p) : changePoint(p);
    seekSongStream(next, p.music.stream, at - m.musicShift, std::max(mark.song, 0), skipped);
    std::swap(p.music, next);
    forgetPlaces(p);
    // What was made of the music before goes, a crossfade under way with it: the music is the new
    // place alone.
    m.heldNext = m.heldCount = 0;
    m.crossfading = m.fadingPlays = false;
    if (!m.musicHeld) remixStream(p, at);
    publishMarks(p);
    return true;
}

int32_t endsHeard(Player& p) {
    if (playerState(p) == PlayerState::Idle) return int32_t(p.endsKept);
    const uint64_t heard = musicHeard(p);
    return int32_t(endsHeardAt(markHeard(p, heard), heard));
}

// The levels read the state as the last command left it (a script asks them every frame: what
// catches up with a lost output or a fade that is over is for the commands that change things).
int32_t musicLevel(Player& p) {
    if (p.state != PlayerState::Playing) return 0;
    const uint64_t heard = samplesHeard(p.audio);
    float peak = 0.0f;
    {
        std::lock_guard<std::mutex> guard(p.songLock);
        peak = musicPeak(p.mix, heard - std::min(heard, kLevelWindow), heard);
    }
    float volume = 0.0f;
    {
        std::lock_guard<std::mutex> guard(p.audio.volume.lock);
        volume = float(volumeStep(p.audio.volume.value)) / 127.0f;
    }
    return int32_t(std::lround(std::min(1.0f, peak * volume / 32768.0f) * 100.0f));
}

int32_t voiceLevel(Player& p, int32_t voice) {
    if (p.state == PlayerState::Idle || voice < 1 || voice > 3) return 0;
    const uint64_t heard = samplesHeard(p.audio);
    std::lock_guard<std::mutex> guard(p.songLock);
    return voiceLevelAt(p.mix, voice - 1, heard);
}

}  // namespace sidtune
