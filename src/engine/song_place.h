// A song's place: what it takes to make a song again from a point of its stream, so that a change
// (a tempo, a muted voice) can be heard from the point the listener has reached instead of from
// what was made ahead. The machine, its pacing, and where the stream is; not the tune's bytes or
// its lengths (they stay the song's), nor the scout (looked for again from the new point).
//
//   saveSongPlace(place, song, at)   the song as it is, its next sample stream sample `at`
//   restoreSongPlace(song, place)    the song back at the place; an end it has found since, for the
//                                    song heard there, is kept
#pragma once

#include <cstdint>

#include "cpu/machine.h"
#include "engine/frame_pacing.h"
#include "engine/song_stream.h"

namespace sidtune {

struct Song;

struct SongPlace {
    bool saved;
    uint64_t at;  // the stream sample (the player's mix's) the song's next sample is
    Machine machine;
    FramePacing pacing;
    uint64_t made;
    SongMark now;
    bool endPassed, stopped;
    SongMarks marks;
};

void saveSongPlace(SongPlace& place, const Song& song, uint64_t at);
void restoreSongPlace(Song& song, const SongPlace& place);

}  // namespace sidtune
