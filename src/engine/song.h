// A song: the unit that renders. One machine with a tune loaded, where the song is in its blocks
// and frames, the settings it is made with and its stream (song_stream.h: where it ends, what
// follows, and the scout that looks ahead for its end where ends are wanted). Nothing of a sound
// output or of a thread comes with it: the tools, check, the tests and the benchmarks make songs
// of their own, as many as they like, and the player (player.h) owns the songs it mixes.
//
//   loadSong(s, bytes, size)             a fresh machine with the tune loaded from the bytes:
//                                        None, or why not (the bytes are not kept)
//   beginSong(s, song)                   song `song` (counted from 0) of the tune loaded: its
//                                        settings on the machine, then its init routine with the
//                                        song number in A. false when the tune has no such song
//                                        (nothing done)
//   beginTune(s, bytes, size, song)      loadSong and beginSong: None, or why not
//   beginTuneFile(s, path, song)         the same from a file (readTune, tune_loader.h)
//   renderSong(s, samples, count)        the song's next `count` samples as frame pacing makes
//                                        them, with its settings: in blocks of kBlockSamples from
//                                        its beginning, wherever the pieces asked for are cut
//   skipSong(s, count)                   the song's next `count` samples made and left unheard:
//                                        a seek, which begins the song afresh and skips to a time
//   seekSamples(seconds)                 the samples a seek to `seconds` skips: rounded to the
//                                        nearest, limited to kMostSeekSeconds (0 when negative
//                                        or not a number)
//
// A new song must be zero: `Song s{}`, or std::make_unique<Song>(), which value-initialises it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cpu/machine.h"
#include "engine/frame_pacing.h"
#include "engine/song_settings.h"
#include "engine/song_stream.h"
#include "tune/play_error.h"
#include "tune/tune_info.h"

namespace sidtune {

struct Song {
    Machine machine;  // the CPU, the memory image, the sound chip, the sample player
    TuneInfo tune;    // what is kept of the loaded tune's header
    FramePacing pacing;
    SongSettings settings;
    SongStream stream;
};

// The furthest a seek goes: a day of song (some 17 s of rendering for a typical tune).
constexpr double kMostSeekSeconds = 86400.0;

// A song, its scout's machine included, is a small record: a player mixes several.
static_assert(sizeof(Song) < 160 * 1024, "a song has grown past 160 KiB");

PlayError loadSong(Song& s, const uint8_t* bytes, size_t size);
bool beginSong(Song& s, int32_t song);
PlayError beginTune(Song& s, const uint8_t* bytes, size_t size, int32_t song);
PlayError beginTuneFile(Song& s, const char* path, int32_t song);
void renderSong(Song& s, int16_t* samples, uint32_t count);
void skipSong(Song& s, uint64_t count);
uint64_t seekSamples(double seconds);

}  // namespace sidtune
