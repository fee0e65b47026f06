#include "engine/song_place.h"

#include "engine/song.h"

namespace sidtune {

void saveSongPlace(SongPlace& place, const Song& song, uint64_t at) {
    place.saved = true;
    place.at = at;
    place.machine = song.machine;
    place.pacing = song.pacing;
    const SongStream& s = song.stream;
    place.made = s.made;
    place.now = s.now;
    place.endPassed = s.endPassed;
    place.stopped = s.stopped;
    place.marks = s.marks;
}

void restoreSongPlace(Song& song, const SongPlace& place) {
    SongStream& s = song.stream;
    const SongMark found = s.now;
    song.machine = place.machine;
    song.pacing = place.pacing;
    s.made = place.made;
    s.now = place.now;
    s.endPassed = place.endPassed;
    s.stopped = place.stopped;
    s.marks = place.marks;
    if (found.at == s.now.at && found.song == s.now.song && s.now.endAt == kNoEnd && found.endAt != kNoEnd) {
        s.now.endAt = found.endAt;
        for (uint32_t i = 0; i < s.marks.count; ++i) {
            if (s.marks.marks[i].at == s.now.at) s.marks.marks[i].endAt = found.endAt;
        }
    }
}

}  // namespace sidtune
