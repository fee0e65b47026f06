#include "engine/mix.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "audio/volume.h"
#include "engine/song_stream.h"

namespace sidtune {
namespace {

// The mix is made in pieces of this many samples, on the stack.
constexpr uint32_t kPiece = 256;
static_assert(kPiece <= kLevelSamples, "a piece's voice levels fill at most two of their stretches");

bool soundsAt(const Effect& e, uint64_t at) { return e.used && e.startAt <= at && at < e.endAt; }

uint32_t keptAt(uint64_t at) { return uint32_t(at % kKeptSamples); }

Mix::LevelStretch& stretchAt(Mix& m, uint64_t at) { return m.levels[(at / kLevelSamples) % kLevelStretches]; }

// The music's voice levels for stream samples [at, at + n) (n at most kLevelSamples), as it has
// made them.
void keepVoiceLevels(Mix& m, const Song& music, uint64_t at, uint32_t n) {
    const bool heard = !m.musicSilent && !m.musicHeld;
    for (const uint64_t in : {at, at + n - 1}) {
        for (size_t v = 0; v < 3; ++v) {
            const bool muted = (music.machine.sid.mutedVoices >> v) & 1;
            stretchAt(m, in).voices[v] =
                heard && !muted ? uint8_t(music.machine.sid.voices[v].envelope >> 16) : 0;
        }
    }
}

// The stream sample `at` is heard: its stretch begins anew at its first sample (with the duck as
// it was before it), and takes the loudest of the music's part as mixed, `level`.
void keepPeak(Mix& m, uint64_t at, float level) {
    Mix::LevelStretch& stretch = stretchAt(m, at);
    const uint16_t peak = uint16_t(std::min(std::abs(level), 32768.0f));
    if (at % kLevelSamples == 0) {
        stretch.peak = peak;
        stretch.duckFrom = m.ducked;
    } else {
        stretch.peak = std::max(stretch.peak, peak);
    }
}

// Whether anything but the music at its full share is heard from `at` on for `count` samples.
bool musicAlone(const Mix& m, uint64_t at, uint32_t count) {
    if (m.crossfading || m.ducked != 0.0f || m.musicHeld || m.heldNext < m.heldCount) return false;
    for (const Effect& e : m.effects) {
        if (e.used && e.startAt < at + count && at < e.endAt) return false;
    }
    return true;
}

// The music's part of stream samples [at, at + n) (n at most kPiece, within one loop of the kept
// parts): the music's samples made from music.stream.made on, under a crossfade at their ramp
// with the part kept (`keptFades`: the fading song's, already there) or the fading song's own.
void makeMusicPart(Mix& m, Song& music, uint64_t at, uint32_t n, bool keptFades) {
    int16_t samples[kPiece];
    float* part = &m.kept.music[keptAt(at)];
    if (m.musicSilent || m.musicHeld) {
        std::fill_n(samples, n, int16_t(0));
        if (m.musicSilent) music.stream.made += n;
    } else {
        // What was made before the music was held, then the music made on.
        const uint32_t kept = std::min(n, m.heldCount - m.heldNext);
        for (uint32_t i = 0; i < kept; ++i) samples[i] = m.held[m.heldNext++];
        if (kept < n) playSongStream(music, samples + kept, n - kept);
    }
    keepVoiceLevels(m, music, at, n);
    if (!m.crossfading) {
        for (uint32_t i = 0; i < n; ++i) part[i] = float(samples[i]);
        return;
    }
    int16_t fading[kPiece];
    const bool fadingMade = m.fadingPlays && !keptFades;
    if (fadingMade) playSongStream(m.fading, fading, n);
    for (uint32_t i = 0; i < n; ++i) {
        const uint64_t into = at + i - m.crossfadeStart;
        const float in = into >= m.crossfadeSamples ? 1.0f : float(into) / float(m.crossfadeSamples);
        const float out = !m.fadingPlays ? 0.0f : fadingMade ? float(fading[i]) : part[i];
        part[i] = float(samples[i]) * in + out * (1.0f - in);
    }
    if (at + n - m.crossfadeStart >= m.crossfadeSamples) m.crossfading = m.fadingPlays = false;
}

// An effect's samples up to stream sample `to`, kept; it ends by its silence where its end is not
// known.
void makeEffectPart(Effect& e, uint64_t to) {
    if (!e.used) return;
    while (e.made < std::min(to, e.endAt)) {
        const uint32_t k = keptAt(e.made);
        const uint32_t n = uint32_t(std::min<uint64_t>({std::min(to, e.endAt) - e.made, kKeptSamples - k}));
        renderSong(e.song, &e.kept[k], n);
        if (e.endAt == kNoEnd && e.silence.feed(&e.kept[k], n)) e.endAt = e.made + n;
        e.made += n;
    }
    e.made = std::max(e.made, to);
}

// keepPeak for the music alone, not ducked: stream samples [at, at + n) are `samples`.
void keepPeaks(Mix& m, uint64_t at, const int16_t* samples, uint32_t n) {
    for (uint32_t i = 0; i < n;) {
        const uint32_t part = std::min<uint32_t>(n - i, kLevelSamples - uint32_t((at + i) % kLevelSamples));
        int peak = 0;
        for (uint32_t j = i; j < i + part; ++j) peak = std::max(peak, std::abs(int(samples[j])));
        keepPeak(m, at + i, float(peak));  // (the stretch's first sample when it begins here)
        i += part;
    }
}

float effectGainOf(const Mix& m) { return float(127 - m.effectStepsDown) / 127.0f; }

// The duck at the next sample, from where it was before it: a step towards the depth while an
// effect sounds, towards none while none does.
float duckedAt(const Mix& m, bool effectHeard) {
    const float duckStep = m.duckDepth / float(kDuckSamples);
    const float target = effectHeard ? m.duckDepth : 0.0f;
    return m.ducked < target ? std::min(target, m.ducked + duckStep) : std::max(target, m.ducked - duckStep);
}

bool effectHeardAt(const Mix& m, uint64_t at) {
    for (const Effect& e : m.effects)
        if (soundsAt(e, at)) return true;
    return false;
}

// The stream's samples [at, at + n) from the parts kept, the duck moving on from where it was.
void mixKept(Mix& m, uint64_t at, uint32_t n, int16_t* out) {
    const float gain = effectGainOf(m);
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t k = keptAt(at + i);
        float effects = 0.0f;
        bool effectHeard = false;
        for (const Effect& e : m.effects) {
            if (!soundsAt(e, at + i)) continue;
            effectHeard = true;
            effects += float(e.kept[k]) * gain;
        }
        const float ducked = duckedAt(m, effectHeard);
        keepPeak(m, at + i, m.kept.music[k] * (1.0f - ducked));
        m.ducked = ducked;
        const float v = std::round(m.kept.music[k] * (1.0f - m.ducked) + effects);
        out[i] = int16_t(std::clamp(v, -32768.0f, 32767.0f));
    }
}

}  // namespace

void restartMix(Mix& m, uint64_t at) {
    m.made = at;
    m.musicHeld = false;
    m.musicShift = 0;
    m.heldNext = m.heldCount = 0;
    for (Effect& e : m.effects) e.used = false;
    m.crossfading = m.fadingPlays = false;
    m.ducked = 0.0f;
}

void mixSamples(Mix& m, Song& music, int16_t* out, uint32_t count) {
    while (count != 0) {
        const uint64_t at = m.made;
        const uint32_t n = std::min({count, kPiece, kKeptSamples - keptAt(at)});
        const uint32_t k = keptAt(at);
        if (musicAlone(m, at, n)) {
            // The music's own samples, as they were made before there was a mix.
            if (m.musicSilent) {
                std::fill_n(out, n, int16_t(0));
                music.stream.made += n;
            } else {
                playSongStream(music, out, n);
            }
            keepVoiceLevels(m, music, at, n);
            for (uint32_t i = 0; i < n; ++i) m.kept.music[k + i] = float(out[i]);
            keepPeaks(m, at, out, n);
        } else {
            makeMusicPart(m, music, at, n, false);
            for (Effect& e : m.effects) makeEffectPart(e, at + n);
            mixKept(m, at, n, out);
        }
        m.made += n;
        out += n;
        count -= n;
    }
}

uint32_t beginRemix(Mix& m, Song& music, uint64_t from) {
    if (from >= m.made || m.made - from > kKeptSamples) return 0;
    // A new music begun at `from`: its samples, at the crossfade's ramp over the music kept.
    while (music.stream.made + m.musicShift < m.made) {
        const uint64_t at = music.stream.made + m.musicShift;
        makeMusicPart(m, music, at,
                      uint32_t(std::min<uint64_t>({m.made - at, kPiece, kKeptSamples - keptAt(at)})), true);
    }
    // A new effect, begun at `from`: its samples added to the effects kept.
    for (Effect& e : m.effects) makeEffectPart(e, m.made);
    // The duck as it was before `from`: from its stretch's first sample on, as it was mixed (what
    // sounded before `from` is as it was).
    const uint64_t stretch = from - from % kLevelSamples;
    m.ducked = stretchAt(m, stretch).duckFrom;
    for (uint64_t at = stretch; at < from; ++at) m.ducked = duckedAt(m, effectHeardAt(m, at));
    m.remixAt = from;
    return uint32_t(m.made - from);
}

void remixNext(Mix& m, int16_t* out, uint32_t count) {
    count = uint32_t(std::min<uint64_t>(count, m.made - std::min(m.made, m.remixAt)));
    for (uint32_t done = 0; done < count;) {
        const uint32_t n = std::min(count - done, kKeptSamples - keptAt(m.remixAt));
        mixKept(m, m.remixAt, n, out + done);
        m.remixAt += n;
        done += n;
    }
}

uint32_t remixSamples(Mix& m, Song& music, uint64_t from, int16_t* out) {
    const uint32_t count = beginRemix(m, music, from);
    remixNext(m, out, count);
    return count;
}

PlayError startEffect(Mix& m, uint64_t at, const uint8_t* bytes, size_t size, int32_t song, double seconds,
                      uint32_t lengthMs) {
    // A free slot, or one whose effect has ended; else the oldest.
    Effect* slot = &m.effects[0];
    for (Effect& e : m.effects) {
        if (!e.used || e.endAt <= at) {
            slot = &e;
            break;
        }
        if (e.startAt < slot->startAt) slot = &e;
    }
    // Begun aside: an effect that cannot begin takes no one's place.
    m.spare.settings = SongSettings{};
    const PlayError begun = beginTune(m.spare, bytes, size, song);
    if (begun != PlayError::None) return begun;
    std::swap(slot->song, m.spare);
    slot->used = true;
    slot->startAt = slot->made = at;
    slot->endAt = kNoEnd;
    if (seconds > 0) {
        slot->endAt = at + uint64_t(std::llround(seconds * kSampleRate));
    } else if (lengthMs != 0) {
        slot->endAt = at + lengthSamples(lengthMs);
    }
    slot->silence = SilenceWatch(at, at, kEffectSilence);
    return PlayError::None;
}

void stopEffects(Mix& m, uint64_t at) {
    for (Effect& e : m.effects) {
        if (e.used && e.endAt > at) e.endAt = std::max(at, e.startAt);
    }
}

int32_t effectsPlaying(const Mix& m, uint64_t at) {
    int32_t n = 0;
    for (const Effect& e : m.effects) n += soundsAt(e, at) ? 1 : 0;
    return n;
}

void startCrossfade(Mix& m, Song& music, Song& next, uint64_t samples) {
    // (What was kept of a music held before goes: the song fading out goes on from where it is.)
    m.heldNext = m.heldCount = 0;
    std::swap(m.fading, music);
    std::swap(music, next);
    m.fadingPlays = m.crossfading = true;
    m.crossfadeStart = music.stream.made + m.musicShift;
    m.crossfadeSamples = std::max<uint64_t>(samples, 1);
}

void fadeInMusic(Mix& m, uint64_t at, uint64_t samples) {
    m.fadingPlays = false;
    m.crossfading = true;
    m.crossfadeStart = at;
    m.crossfadeSamples = std::max<uint64_t>(samples, 1);
}

void holdMusic(Mix& m, uint64_t from) {
    if (m.musicHeld || from > m.made || m.made - from > kKeptSamples) return;
    // What was made from `from` on, then what was kept before and not yet heard.
    const uint32_t made = uint32_t(m.made - from),
                   left = std::min(m.heldCount - m.heldNext, kKeptSamples - made);
    std::memmove(&m.held[made], &m.held[m.heldNext], left * sizeof m.held[0]);
    for (uint32_t i = 0; i < made; ++i) {
        // (A crossfade's part is a blend: held to the nearest sample.)
        m.held[i] = int16_t(std::clamp(std::round(m.kept.music[keptAt(from + i)]), -32768.0f, 32767.0f));
        m.kept.music[keptAt(from + i)] = 0.0f;
    }
    m.heldNext = 0;
    m.heldCount = made + left;
    m.musicHeld = true;
    m.heldFrom = from;
}

void releaseMusic(Mix& m, Song& music, uint64_t at) {
    if (!m.musicHeld || at < m.heldFrom || at > m.made || m.made - at > kKeptSamples) return;
    m.musicHeld = false;
    m.musicShift += at - m.heldFrom;
    for (uint64_t i = at; i < m.made;) {
        const uint32_t n = uint32_t(std::min<uint64_t>({m.made - i, kPiece, kKeptSamples - keptAt(i)}));
        makeMusicPart(m, music, i, n, false);
        i += n;
    }
}

void setEffectVolume(Mix& m, float value) {
    if (!std::isnan(value)) m.effectStepsDown = uint8_t(127 - volumeStep(value));
}

void setMusicDuck(Mix& m, float share) {
    if (std::isnan(share)) return;
    m.duckDepth = 1.0f - std::clamp(share, 0.0f, 1.0f);
}

}  // namespace sidtune

namespace sidtune {

float musicPeak(const Mix& m, uint64_t from, uint64_t to) {
    const uint64_t kept = uint64_t(kLevelStretches - 1) * kLevelSamples;
    from = std::max(from, m.made - std::min(m.made, kept));
    to = std::min(to, m.made);
    if (from >= to) return 0.0f;
    uint16_t peak = 0;
    for (uint64_t at = from - from % kLevelSamples; at < to; at += kLevelSamples)
        peak = std::max(peak, m.levels[(at / kLevelSamples) % kLevelStretches].peak);
    return float(peak);
}

int32_t voiceLevelAt(const Mix& m, int32_t voice, uint64_t at) {
    if (voice < 0 || voice > 2 || m.made == 0) return 0;
    const uint64_t kept = uint64_t(kLevelStretches - 1) * kLevelSamples;
    at = std::clamp(at, m.made - std::min(m.made, kept), m.made - 1);
    return m.levels[(at / kLevelSamples) % kLevelStretches].voices[size_t(voice)];
}

}  // namespace sidtune
