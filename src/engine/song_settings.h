// The settings a song is made with. The player keeps the music's (they hold for every later play
// until they are changed; the plugin keeps them until it is unloaded, unlike the volume, which
// every play resets) and hands a copy to each song it begins; a tool sets its own song's.
//
//   speed         the tempo, in 1/65536 of the normal: frame pacing divides every frame by it
//   mutedVoices   voices left out of the mix (bit v: voice v + 1); they run on
//   endMode       what happens when a song ends: it plays on, the player stops, the next song, or
//                 the same song again
//   findEnds      the song's end is looked for (song_stream.h): without it a song whose length is
//                 not known costs only its own rendering
//   faithful      the song played as the machine it was written for would: its clock (the
//                 header's NTSC, or PAL), frames of that machine's cycles, its second and third
//                 chip (frame_pacing.h, machine.h); off, the design's single chip and pacing
//
// Zero is every default: a speed of 0 is the normal tempo.
#pragma once

#include <cstdint>

#include "engine/frame_pacing.h"
#include "tune/tune_info.h"

namespace sidtune {

// As "SetSidtuneEnd" numbers them.
enum class EndMode : uint8_t { PlayOn = 0, Stop = 1, NextSong = 2, Loop = 3 };

struct SongSettings {
    uint32_t speed;
    uint8_t mutedVoices;
    EndMode endMode;
    bool findEnds;
    bool faithful;
};

inline uint32_t playSpeed(const SongSettings& s) { return s.speed == 0 ? kNormalSpeed : s.speed; }

// The clock that paces the song's frames: the tune's machine's in faithful playback, 0 (the
// design's pacing) otherwise.
inline uint32_t pacingClock(const SongSettings& s, const TuneInfo& tune) {
    return !s.faithful ? 0 : tune.ntsc ? kNtscClock : kPalClock;
}

// A tempo ratio as a speed: limited to 0.25-4.0; NaN leaves `current` as it is.
inline uint32_t speedOfRatio(float ratio, uint32_t current) {
    if (ratio != ratio) return current;
    if (ratio < 0.25f) ratio = 0.25f;
    if (ratio > 4.0f) ratio = 4.0f;
    return uint32_t(double(ratio) * kNormalSpeed + 0.5);
}

// The muted voices after voice `voice` (1 to 3) is muted or unmuted; any other number changes
// nothing.
inline uint8_t mutedAfter(uint8_t muted, int32_t voice, bool mute) {
    if (voice < 1 || voice > 3) return muted;
    const uint8_t bit = uint8_t(1u << (voice - 1));
    return mute ? uint8_t(muted | bit) : uint8_t(muted & ~bit);
}

}  // namespace sidtune
