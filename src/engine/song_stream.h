// What the player's stream plays: the songs, sample by sample of the stream, and which song the
// listener hears when. The worker makes the stream's samples here (under the machine lock); the
// host's thread asks which song is heard at the stream sample the listener has got to.
//
//   startSongStream(e, song, at)       song `song` (counted from 0) is heard from stream sample
//                                      `at` on: 0 when the stream's first half is the song's
//                                      first block (quick start), else kBlockSamples, after the
//                                      first half's silence
//   playSongStream(e, samples, count)  the stream's next `count` samples: the song as frame
//                                      pacing makes it (silence while rendering is off)
//   songHeard(e, heard)                the song heard at stream sample `heard`, and where it began
//
// Stream samples count from the stream's first sample; they are what samplesHeard (audio_output.h)
// counts, so that the two together tell the time of the song heard.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>

namespace sidtune {

struct EngineState;

struct SongMark {
    uint64_t at;   // the stream sample the song begins on
    int32_t song;  // counted from 0; -1: none
};

struct SongStream {
    uint64_t made;  // stream samples made: the index of the next one
    // The songs begun, the latest last: the host's thread reads them while the worker adds more.
    std::mutex lock;
    std::array<SongMark, 4> marks;
    uint32_t markCount;
};

void startSongStream(EngineState& e, int32_t song, uint64_t at);
void playSongStream(EngineState& e, int16_t* samples, uint32_t count);
SongMark songHeard(EngineState& e, uint64_t heard);

}  // namespace sidtune
