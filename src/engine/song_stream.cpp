#include "engine/song_stream.h"

#include <cstring>

#include "engine/engine_state.h"
#include "engine/song.h"

namespace sidtune {
namespace {

void addMark(SongStream& s, const SongMark& mark) {
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.markCount == s.marks.size()) {
        for (size_t i = 1; i < s.marks.size(); ++i) s.marks[i - 1] = s.marks[i];
        --s.markCount;
    }
    s.marks[s.markCount++] = mark;
}

// The end of the song being made is known now: so is the mark the host's thread reads.
void setEnd(SongStream& s, uint64_t endAt) {
    s.now.endAt = endAt;
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.markCount != 0 && s.marks[s.markCount - 1].at == s.now.at) s.marks[s.markCount - 1].endAt = endAt;
}

// The song being made begins here, with the machine after its init routine.
void beginMark(EngineState& e, int32_t song, uint64_t at) {
    SongStream& s = e.songs;
    const uint32_t lengthMs = song >= 0 && size_t(song) < s.lengths.size() ? s.lengths[size_t(song)] : 0;
    s.now = SongMark{at, song, lengthMs, kNoEnd};
    s.endPassed = s.stopped = false;
    if (lengthMs != 0) s.now.endAt = at + lengthSamples(lengthMs);
    addMark(s, s.now);
    // Without a length the scout looks for the silence that ends it, from a copy of the machine
    // taken when the song's first sample is made (its init routine has run by then).
    s.scout.looking = s.scout.copyDue = lengthMs == 0;
}

// The scout plays on until `until`, or until it has found the end. It starts only once the script
// wants ends (Player::endsWanted): if that is after the song began, from where the stream has got
// to, so that a silence that began before then is found as beginning there.
void scoutUntil(EngineState& e, uint64_t until) {
    SongScout& scout = e.songs.scout;
    if (!e.player.endsWanted) return;
    if (scout.copyDue) rescout(e);
    int16_t samples[512];
    while (scout.looking && scout.made < until) {
        const uint32_t n = uint32_t(until - scout.made < 512 ? until - scout.made : 512);
        playFrames(scout.machine, e.tune, scout.pacing, playSpeed(e.settings), samples, n);
        scout.made += n;
        if (scout.watch.feed(samples, n)) {
            scout.looking = false;
            setEnd(e.songs, scout.watch.end());
        }
    }
}

// The song being made has reached its end: what follows it, by the end mode.
void endReached(EngineState& e) {
    SongStream& s = e.songs;
    s.endPassed = true;
    switch (e.settings.endMode) {
        case EndMode::PlayOn: break;  // the song goes on; its end is known and heard when it comes
        case EndMode::Stop: s.stopped = true; break;
        case EndMode::NextSong: {
            const int32_t next = (s.now.song + 1) % (e.tune.lastSong + 1);
            if (beginTuneHeld(e, s.tune.data(), s.tune.size(), next) == SongStart::Begun) {
                beginMark(e, next, s.made);
            } else {
                s.stopped = true;  // (the bytes that loaded once load again; but nothing can fail here)
            }
            break;
        }
    }
}

}  // namespace

void startSongStream(EngineState& e, int32_t song, uint64_t at, const std::vector<uint32_t>& lengths,
                     const std::vector<uint8_t>& tune) {
    SongStream& s = e.songs;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        s.markCount = 0;
    }
    s.made = at;
    s.lengths = lengths;
    s.tune = tune;
    beginMark(e, song, at);
}

void playSongStream(EngineState& e, int16_t* samples, uint32_t count) {
    SongStream& s = e.songs;
    if (e.renderEnabled.load(std::memory_order_acquire) == 0) {
        std::memset(samples, 0, count * sizeof samples[0]);
        s.made += count;
        return;
    }
    while (count != 0) {
        if (s.stopped) {
            std::memset(samples, 0, count * sizeof samples[0]);
            s.made += count;
            return;
        }
        // The scout is far enough ahead that an end among these samples is known before they are
        // made.
        scoutUntil(e, s.made + count + kSilenceToEnd);
        if (s.made == s.now.endAt && !s.endPassed) {
            endReached(e);
            continue;
        }
        uint32_t n = count;
        if (s.now.endAt != kNoEnd && s.made < s.now.endAt && s.now.endAt - s.made < n)
            n = uint32_t(s.now.endAt - s.made);
        playFrames(e.machine, e.tune, e.pacing, playSpeed(e.settings), samples, n);
        samples += n;
        count -= n;
        s.made += n;
    }
}

void rescout(EngineState& e) {
    SongScout& scout = e.songs.scout;
    if (!scout.looking) return;
    if (!e.player.endsWanted) {
        scout.copyDue = true;  // copied when it starts
        return;
    }
    scout.copyDue = false;
    scout.machine = e.machine;
    scout.pacing = e.pacing;
    scout.made = e.songs.made;
    // The song's own start is where a song that never makes a sound counts its three seconds from.
    scout.watch = SilenceWatch(e.songs.made, e.songs.now.at);
}

SongMark songHeard(EngineState& e, uint64_t heard) {
    SongStream& s = e.songs;
    std::lock_guard<std::mutex> guard(s.lock);
    SongMark found{0, -1, 0, kNoEnd};
    for (uint32_t i = 0; i < s.markCount; ++i) {
        if (s.marks[i].at <= heard || i == 0) found = s.marks[i];
    }
    return found;
}

}  // namespace sidtune
