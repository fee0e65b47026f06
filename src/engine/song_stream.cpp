#include "engine/song_stream.h"

#include <algorithm>
#include <cstring>

#include "engine/song.h"

namespace sidtune {
namespace {

void addMark(SongMarks& m, const SongMark& mark) {
    if (m.count == m.marks.size()) {
        for (size_t i = 1; i < m.marks.size(); ++i) m.marks[i - 1] = m.marks[i];
        --m.count;
    }
    m.marks[m.count++] = mark;
}

// The end of the song being made is known now: so is its mark.
void setEnd(SongStream& s, uint64_t endAt) {
    s.now.endAt = endAt;
    SongMarks& m = s.marks;
    if (m.count != 0 && m.marks[m.count - 1].at == s.now.at) m.marks[m.count - 1].endAt = endAt;
}

// The song being made is heard from here, with the machine after its init routine and `skipped`
// samples of the song made unheard.
void beginMark(SongStream& s, int32_t song, uint64_t at, uint64_t skipped, uint32_t endsBefore) {
    const uint32_t lengthMs = song >= 0 && size_t(song) < s.lengths.size() ? s.lengths[size_t(song)] : 0;
    s.now = SongMark{at, song, lengthMs, kNoEnd, skipped, endsBefore};
    s.endPassed = s.stopped = false;
    if (lengthMs != 0)
        s.now.endAt = at + lengthSamples(lengthMs) - std::min(skipped, lengthSamples(lengthMs));
    addMark(s.marks, s.now);
    // Without a length the scout looks for the silence that ends it, from a copy of the machine
    // taken when the song's first sample is made (its init routine has run by then).
    s.scout->looking = s.scout->copyDue = lengthMs == 0;
}

// The scout plays on until `until`, or until it has found the end. It starts only once ends are
// wanted (SongSettings::findEnds): if that is after the song began, from where the stream has got
// to, so that a silence that began before then is found as beginning there.
void scoutUntil(Song& song, uint64_t until) {
    if (!song.settings.findEnds || !song.stream.scout) return;
    SongScout& scout = *song.stream.scout;
    if (scout.copyDue) rescout(song);
    int16_t samples[512];
    while (scout.looking && scout.made < until) {
        const uint32_t n = uint32_t(until - scout.made < 512 ? until - scout.made : 512);
        playFrames(scout.machine, song.tune, scout.pacing, playSpeed(song.settings),
                   pacingClock(song.settings, song.tune), samples, n);
        scout.made += n;
        if (scout.watch.feed(samples, n)) {
            scout.looking = false;
            setEnd(song.stream, scout.watch.end());
        }
    }
}

// The song being made has reached its end: what follows it, by the end mode.
void endReached(Song& song) {
    SongStream& s = song.stream;
    s.endPassed = true;
    switch (song.settings.endMode) {
        case EndMode::PlayOn: break;  // the song goes on; its end is known and heard when it comes
        case EndMode::Stop: s.stopped = true; break;
        case EndMode::NextSong:
        case EndMode::Loop: {
            const int32_t next = song.settings.endMode == EndMode::Loop
                                     ? s.now.song
                                     : (s.now.song + 1) % (song.tune.lastSong + 1);
            if (beginTune(song, s.tune.data(), s.tune.size(), next) == PlayError::None) {
                beginMark(s, next, s.made, 0, s.now.endsBefore + 1);
            } else {
                s.stopped = true;  // (the bytes that loaded once load again; but nothing can fail here)
            }
            break;
        }
    }
}

}  // namespace

void startSongStream(Song& song, int32_t n, uint64_t at, const std::vector<uint32_t>& lengths,
                     const std::vector<uint8_t>& tune) {
    SongStream& s = song.stream;
    if (!s.scout) s.scout = std::make_unique<SongScout>();
    s.marks.count = 0;
    s.made = at;
    s.lengths = lengths;
    s.tune = tune;
    beginMark(s, n, at, 0, 0);
}

void seekSongStream(Song& song, SongStream& from, uint64_t at, int32_t n, uint64_t skipped) {
    SongStream& s = song.stream;
    if (!s.scout) s.scout = std::make_unique<SongScout>();
    s.marks.count = 0;
    for (uint32_t i = 0; i < from.marks.count; ++i) {
        if (from.marks.marks[i].at < at) addMark(s.marks, from.marks.marks[i]);
    }
    s.made = at;
    s.lengths.swap(from.lengths);
    s.tune.swap(from.tune);
    beginMark(s, n, at, skipped, endsHeardAt(songHeard(from.marks, at), at));
}

void playSongStream(Song& song, int16_t* samples, uint32_t count) {
    SongStream& s = song.stream;
    while (count != 0) {
        if (s.stopped) {
            std::memset(samples, 0, count * sizeof samples[0]);
            s.made += count;
            return;
        }
        // The scout is far enough ahead that an end among these samples is known before they are
        // made.
        scoutUntil(song, s.made + count + kSilenceToEnd);
        if (s.made == s.now.endAt && !s.endPassed) {
            endReached(song);
            continue;
        }
        uint32_t n = count;
        if (s.now.endAt != kNoEnd && s.made < s.now.endAt && s.now.endAt - s.made < n)
            n = uint32_t(s.now.endAt - s.made);
        renderSong(song, samples, n);
        samples += n;
        count -= n;
        s.made += n;
    }
}

void rescout(Song& song) {
    if (!song.stream.scout || !song.stream.scout->looking) return;
    SongScout& scout = *song.stream.scout;
    if (!song.settings.findEnds) {
        scout.copyDue = true;  // copied when it starts
        return;
    }
    scout.copyDue = false;
    scout.machine = song.machine;
    scout.pacing = song.pacing;
    scout.made = song.stream.made;
    // The song's own start is where a song that never makes a sound counts its three seconds from.
    scout.watch = SilenceWatch(song.stream.made, song.stream.now.at);
    setMutedVoices(scout.machine, 0);
}

SongMark songHeard(const SongMarks& m, uint64_t heard) {
    SongMark found{0, -1, 0, kNoEnd, 0, 0};
    for (uint32_t i = 0; i < m.count; ++i) {
        if (m.marks[i].at <= heard || i == 0) found = m.marks[i];
    }
    return found;
}

}  // namespace sidtune
