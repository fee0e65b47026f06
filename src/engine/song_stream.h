// A song as a stream: its samples one after the other, where it ends and what follows its end,
// and which song of the tune is heard at which sample. The player's worker makes its music here;
// the player keeps a copy of the marks for the host's thread, which asks about the stream sample
// the listener has got to. A tool makes the same stream offline.
//
//   startSongStream(s, song, at, lengths, tune)
//                              song `song` (counted from 0) is heard from stream sample `at` on: 0
//                              when the stream's first half is the song's first block (quick
//                              start), else kBlockSamples, after the first half's silence. Called
//                              before the song is begun and nothing is made. `lengths`: each song's length
//                              from a song-length database (milliseconds, 0 unknown); `tune`: the file's
//                              bytes, for the next song
//   playSongStream(s, samples, count)
//                              the stream's next `count` samples: the song as frame pacing makes it
//                              (silence while rendering is off), up to its end and, by the end
//                              mode, on past it, silence, or the next song from the end on
//   seekSongStream(s, from, at, song, skipped)
//                              s (song `song` begun afresh, `skipped` samples of it made unheard:
//                              skipSong) takes the place of the song stream `from` from stream
//                              sample `at` on (at most from's next): the marks of what `from` made
//                              before `at` stay; the song's end (a known length) is where its time
//                              reaches the length, at once when `skipped` is past it
//   rescout(s)                 the settings changed: the look for the end starts again from here
//   songHeard(marks, heard)    the song heard at stream sample `heard`: where it began and ends
//
// The end of a song: its length from the database, or else where the sound fell silent for good
// (silence.h), judged on the song's sound before any voice is muted: a song's end is the song's. That is
// known only once the silence has lasted three seconds, so a second machine, the scout, plays the song that
// far ahead of the one heard: a copy of it made after the init routine, rendering the very same samples, to
// no output.
//
// Stream samples count from the stream's first sample; they are what samplesHeard
// (audio_output.h) counts, so that the two together tell the time of the song heard.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "audio/audio_format.h"
#include "cpu/machine.h"
#include "engine/frame_pacing.h"
#include "engine/silence.h"

namespace sidtune {

struct Song;

constexpr uint64_t kNoEnd = UINT64_MAX;

// The samples of a song `milliseconds` long: where its end is, counted from its first sample.
constexpr uint64_t lengthSamples(uint32_t milliseconds) {
    return uint64_t(milliseconds) * kSampleRate / 1000;
}

struct SongMark {
    uint64_t at;          // the stream sample the song begins on
    int32_t song;         // counted from 0; -1: none
    uint32_t lengthMs;    // from the database; 0 unknown
    uint64_t endAt;       // the stream sample it ends on; kNoEnd while not known
    uint64_t skipped;     // samples of the song left out before `at` (a seek): its time at `at`
    uint32_t endsBefore;  // songs that ended in the stream before this one (end modes next, loop)
};

// Samples of the song heard at stream sample `heard` (at or past its mark) since its beginning.
inline uint64_t songSamplesAt(const SongMark& m, uint64_t heard) {
    return heard <= m.at ? m.skipped : heard - m.at + m.skipped;
}
// How many songs have been heard to their end at stream sample `heard`.
inline uint32_t endsHeardAt(const SongMark& m, uint64_t heard) {
    return m.endsBefore + (m.endAt != kNoEnd && heard >= m.endAt ? 1 : 0);
}

// The machine that plays ahead of the one heard, looking for the silence that ends a song.
struct SongScout {
    Machine machine;
    FramePacing pacing;
    uint64_t made;  // stream samples it has made
    SilenceWatch watch;
    bool looking;
    bool copyDue;  // it starts as a copy of the machine when the first sample is made
};

// The songs begun, the latest last.
struct SongMarks {
    std::array<SongMark, 4> marks;
    uint32_t count;
};

struct SongStream {
    uint64_t made;   // stream samples made: the index of the next one
    SongMark now;    // the song being made
    bool endPassed;  // its end has been made (and it plays on)
    bool stopped;    // past the end of a song in the "stop" end mode: silence from there on
    std::vector<uint8_t> tune;
    std::vector<uint32_t> lengths;
    // Only a song with a stream has a scout: made when its stream starts (never while mixing), kept
    // for its next songs. Sound effects, which have none, stay small.
    std::unique_ptr<SongScout> scout;
    SongMarks marks;
};

void startSongStream(Song& s, int32_t song, uint64_t at, const std::vector<uint32_t>& lengths,
                     const std::vector<uint8_t>& tune);
void playSongStream(Song& s, int16_t* samples, uint32_t count);
void seekSongStream(Song& s, SongStream& from, uint64_t at, int32_t song, uint64_t skipped);
void rescout(Song& s);
SongMark songHeard(const SongMarks& marks, uint64_t heard);

}  // namespace sidtune
