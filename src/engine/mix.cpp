#include "engine/mix.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "audio/volume.h"
#include "engine/song_stream.h"

namespace sidtune {
namespace {

// The mix is made in pieces of this many samples, on the stack.
constexpr uint32_t kPiece = 256;

bool soundsAt(const Effect& e, uint64_t at) { return e.used && e.startAt <= at && at < e.endAt; }

// Whether anything but the music at its full share is heard from `at` on for `count` samples.
bool musicAlone(const Mix& m, uint64_t at, uint32_t count) {
    if (m.crossfading || m.ducked != 0.0f) return false;
    for (const Effect& e : m.effects) {
        if (e.used && e.startAt < at + count && at < e.endAt) return false;
    }
    return true;
}

// An effect's samples from stream sample `at` on, added to `sum` at `gain`; it ends by its
// silence where its end is not known.
void addEffect(Effect& e, uint64_t at, uint32_t count, float gain, float* sum) {
    const uint64_t from = std::max(at, e.startAt), to = std::min(at + count, e.endAt);
    if (!e.used || from >= to) return;
    int16_t samples[kPiece];
    const uint32_t n = uint32_t(to - from);
    renderSong(e.song, samples, n);
    float* into = sum + (from - at);
    for (uint32_t i = 0; i < n; ++i) into[i] += float(samples[i]) * gain;
    if (e.endAt == kNoEnd && e.silence.feed(samples, n)) e.endAt = to;
}

}  // namespace

void mixSamples(Mix& m, Song& music, int16_t* out, uint32_t count) {
    while (count != 0) {
        const uint64_t at = music.stream.made;
        const uint32_t n = std::min(count, kPiece);
        if (musicAlone(m, at, n)) {
            // The music's own samples, as they were made before there was a mix.
            playSongStream(music, out, n);
        } else {
            int16_t samples[kPiece];
            float musicPart[kPiece], effectPart[kPiece] = {};
            playSongStream(music, samples, n);
            for (uint32_t i = 0; i < n; ++i) musicPart[i] = float(samples[i]);
            if (m.crossfading) {
                if (m.fadingPlays) playSongStream(m.fading, samples, n);
                for (uint32_t i = 0; i < n; ++i) {
                    const uint64_t into = at + i - m.crossfadeStart;
                    const float in =
                        into >= m.crossfadeSamples ? 1.0f : float(into) / float(m.crossfadeSamples);
                    musicPart[i] *= in;
                    if (m.fadingPlays) musicPart[i] += float(samples[i]) * (1.0f - in);
                }
                if (at + n - m.crossfadeStart >= m.crossfadeSamples) m.crossfading = m.fadingPlays = false;
            }
            const float effectGain = float(127 - m.effectStepsDown) / 127.0f;
            for (Effect& e : m.effects) addEffect(e, at, n, effectGain, effectPart);
            const float duckStep = m.duckDepth / float(kDuckSamples);
            for (uint32_t i = 0; i < n; ++i) {
                bool effectHeard = false;
                for (const Effect& e : m.effects) effectHeard = effectHeard || soundsAt(e, at + i);
                const float target = effectHeard ? m.duckDepth : 0.0f;
                m.ducked = m.ducked < target ? std::min(target, m.ducked + duckStep)
                                             : std::max(target, m.ducked - duckStep);
                const float v = std::round(musicPart[i] * (1.0f - m.ducked) + effectPart[i]);
                out[i] = int16_t(std::clamp(v, -32768.0f, 32767.0f));
            }
        }
        out += n;
        count -= n;
    }
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
    slot->startAt = at;
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

void startCrossfade(Mix& m, Song& music, Song& next, uint64_t samples, bool fadeOut) {
    std::swap(m.fading, music);
    std::swap(music, next);
    m.fadingPlays = fadeOut;
    m.crossfading = samples != 0;
    m.crossfadeStart = music.stream.made;
    m.crossfadeSamples = samples;
}

void setEffectVolume(Mix& m, float value) {
    if (!std::isnan(value)) m.effectStepsDown = uint8_t(127 - volumeStep(value));
}

void setMusicDuck(Mix& m, float share) {
    if (std::isnan(share)) return;
    m.duckDepth = 1.0f - std::clamp(share, 0.0f, 1.0f);
}

}  // namespace sidtune
