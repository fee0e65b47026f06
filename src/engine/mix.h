// The mix: the stream made of several songs at once. The music (a song with its stream: its end,
// what follows, song_stream.h), the song fading out under a crossfade, and up to kMostEffects sound
// effects, each at its own gain, summed and saturated to 16 bits; no other change to any sample.
// While only the music plays (no effect, no crossfade, the music at full share) the stream is the
// music's own samples, made as they always were.
//
//   restartMix(m, at)                   a new stream for the music, whose next sample is `at`: no
//                                       effect, no crossfade (the effects' volume and the duck stay)
//   mixSamples(m, music, out, count)    the stream's next `count` samples, from stream sample
//                                       m.made on
//   remixSamples(m, music, from, out)   the samples from stream sample `from` up to the one made
//                                       next, made again with what began since they were made (an
//                                       effect, a crossfade, a stop, the music made again from a
//                                       point): the songs that begin at `from` are brought up to
//                                       the stream, and the music's own samples, kept, are mixed
//                                       again with them. `from` is at most kKeptSamples behind the
//                                       next sample. Their number (0: none)
//   beginRemix(m, music, from), remixNext(m, out, count)
//                                       the same in pieces, straight into a stream buffer: the
//                                       songs brought up, how many samples follow (0: none); then
//                                       the next `count` of them, as many times as it takes
//   startEffect(m, at, bytes, size, song, seconds, lengthMs)
//                                       song `song` (from 0) of the tune in the bytes as an effect
//                                       heard from stream sample `at` on (the next one made, or
//                                       one made already, then remixed):
//                                       None, or why not (then nothing changes). It takes the
//                                       place of the oldest when kMostEffects sound. It ends after
//                                       `seconds` when above 0; else after `lengthMs` when known;
//                                       else once it has been silent for kEffectSilence
//   stopEffects(m, at)                  every effect ends at stream sample `at`
//   effectsPlaying(m, at)               how many effects sound at stream sample `at`
//   startCrossfade(m, music, next, samples)
//                                       the song in `next` (begun, its stream starting at the next
//                                       sample made, or at one made already, then remixed) becomes
//                                       the music and fades in over `samples`, while the music so
//                                       far fades out (a song still fading from an earlier
//                                       crossfade is cut)
//   fadeInMusic(m, at, samples)         the music, from stream sample `at` (the next one made), rises
//                                       from silence over `samples`: a crossfade from nothing
//   holdMusic(m, from)                  the music falls silent from stream sample `from` on (its
//                                       player paused while effects play), what was made of it from
//                                       there kept for later
//   releaseMusic(m, music, at)          the music goes on from stream sample `at` on, from where it
//                                       was held: what was kept first; then remixSamples from `at`
//   setEffectVolume(m, value)           the effects' gain, on the scale of the volume (volume.h)
//   setMusicDuck(m, share)              the music's share of its level while an effect sounds,
//                                       reached and left over kDuckSamples
//   musicPeak(m, from, to)              the loudest of the music's part (ducked, before the
//                                       volume) in the stretches of stream samples [from, to),
//                                       as far as they are kept: 0-32768
//   voiceLevelAt(m, voice, at)          voice `voice`'s (0-2) envelope level, 0-255, as the
//                                       stretch of stream sample `at` was made; 0 for a muted voice
//
// Gains: the effects' volume and the duck are amplitudes; a crossfade's two ramps go in straight
// lines, their sum always full. A new Mix is zero: full effect volume, no duck.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "audio/audio_format.h"
#include "engine/silence.h"
#include "engine/song.h"
#include "tune/play_error.h"

namespace sidtune {

constexpr int kMostEffects = 4;
constexpr uint64_t kDuckSamples = kSampleRate / 20;   // 50 ms
constexpr uint64_t kEffectSilence = kSampleRate / 2;  // an effect's silence that ends it
// The stream's last second made, kept: as far back as the stream buffer holds it, and so as far
// back as a change can reach.
constexpr uint32_t kKeptSamples = 2 * kBlockSamples;
constexpr uint32_t kLevelSamples = 256;    // the levels are kept this often
constexpr uint32_t kLevelStretches = 512;  // for this many stretches: some 3 s

struct Effect {
    Song song;         // at the normal tempo, no voice muted
    bool used;         // the slot holds an effect (it may have ended: see endAt)
    uint64_t startAt;  // the stream sample it is first heard on
    uint64_t made;     // the next stream sample it makes
    // Its samples, as made, at stream sample n % kKeptSamples: a remix sums them again.
    std::array<int16_t, kKeptSamples> kept;
    uint64_t endAt;  // the first stream sample it is not heard on; kNoEnd: not yet known
    SilenceWatch silence;
};

struct Mix {
    uint64_t made;     // the next stream sample to make
    bool musicSilent;  // no music plays (effects alone): its stream moves on unmade
    // The music held (holdMusic): silent from heldFrom on, its stream standing still; what had been
    // made of it beyond, heard first once it goes on. musicShift: the stream samples it was held
    // for, in all: the music's stream sample is the mix's less it.
    bool musicHeld;
    uint64_t heldFrom, musicShift;
    uint32_t heldNext, heldCount;
    std::array<int16_t, kKeptSamples> held;
    uint64_t remixAt;  // the next sample remixNext makes
    std::array<Effect, kMostEffects> effects;
    Song fading;  // the music that fades out under a crossfade
    Song spare;   // where a song is begun before it takes its place: an effect, a crossfade's next
    bool crossfading, fadingPlays;
    uint64_t crossfadeStart, crossfadeSamples;
    uint8_t effectStepsDown;  // 127 - the effects' volume step: 0 full
    float duckDepth;          // 1 - the duck's share: 0 no ducking
    float ducked;             // how far the music is ducked at the next sample, on its way to 0 or
                              // duckDepth
    // The last kKeptSamples of the stream as they were mixed, at stream sample n % kKeptSamples:
    // the music's part (the crossfade's two songs at their ramps).
    struct Kept {
        std::array<float, kKeptSamples> music;
    } kept;
    // By stretch of kLevelSamples, longer than what is kept: the levels a script reads for what is
    // heard (the loudest of the music's part as mixed, ducked, and each music voice's envelope level,
    // 0-255, 0 muted, as the stretch was made) and the duck where the stretch began, from which a
    // remix finds it again. Stretch n at n % kLevelStretches.
    struct LevelStretch {
        uint16_t peak;
        std::array<uint8_t, 3> voices;
        float duckFrom;  // how far the music was ducked before the stretch's first sample
    };
    std::array<LevelStretch, kLevelStretches> levels;
};

void restartMix(Mix& m, uint64_t at);
void mixSamples(Mix& m, Song& music, int16_t* out, uint32_t count);
uint32_t remixSamples(Mix& m, Song& music, uint64_t from, int16_t* out);
uint32_t beginRemix(Mix& m, Song& music, uint64_t from);
void remixNext(Mix& m, int16_t* out, uint32_t count);
PlayError startEffect(Mix& m, uint64_t at, const uint8_t* bytes, size_t size, int32_t song, double seconds,
                      uint32_t lengthMs);
void stopEffects(Mix& m, uint64_t at);
int32_t effectsPlaying(const Mix& m, uint64_t at);
void startCrossfade(Mix& m, Song& music, Song& next, uint64_t samples);
void fadeInMusic(Mix& m, uint64_t at, uint64_t samples);
void holdMusic(Mix& m, uint64_t from);
void releaseMusic(Mix& m, Song& music, uint64_t at);
void setEffectVolume(Mix& m, float value);
void setMusicDuck(Mix& m, float share);
float musicPeak(const Mix& m, uint64_t from, uint64_t to);
int32_t voiceLevelAt(const Mix& m, int32_t voice, uint64_t at);

}  // namespace sidtune
