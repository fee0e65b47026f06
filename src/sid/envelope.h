// The envelopes: each voice's level after every sample of a stretch, from its attack, decay,
// sustain and release settings. An envelope depends on nothing but its own voice, so a stretch's
// levels are made before any voice runs (synthesizer.cpp).
//
//     level $FFFFFF     /\  (full scale)
//                      /  \  decay
//             attack  /    \________  sustain: the nibble x $100000
//                    /              \  release
//     floor $40000 _/                \_____  (a released voice still hums)
//
// Within an attack, decay or release the level moves in equal steps (the set-up tables give the
// steps for 44100 Hz), so the sample where it reaches its bound is computed, not searched for.
// Only the synthesizer includes this header; its loops are built into each build of the rendering
// loops (baseline, SSE4.1 and AVX2) through always-inline functions.
#pragma once

#include <algorithm>
#include <cstdint>

#include "sid/sid_state.h"

namespace sidtune::synth {

constexpr int32_t kFullScale = 0xFFFFFF;
// Release ends at 1/64 of full scale, not at 0, so a released voice still hums.
constexpr int32_t kReleaseFloor = 0x40000;

// The envelope level after each sample of a stretch, written into `levels`. The state machine
// runs segment by segment: within an attack, decay or release the level moves in equal steps, so
// the sample where it reaches its bound is computed, not searched for.
[[gnu::always_inline]] inline void makeEnvelope(SidVoice& v, int32_t* levels, uint32_t count) {
    uint32_t j = 0;
    // Through a pointer and with locals only, so that the loops become vector code.
    auto ramp = [&](int32_t step, uint32_t samples) __attribute__((always_inline)) {
        int32_t* const out = levels + j;
        const int32_t level = v.envelope;
        for (uint32_t i = 0; i < samples; ++i) out[i] = level + int32_t(i + 1) * step;
        v.envelope = level + int32_t(samples) * step;
        j += samples;
    };
    auto hold = [&](uint32_t samples) __attribute__((always_inline)) {
        std::fill_n(levels + j, samples, v.envelope);
        j += samples;
    };
    // The number of steps of size `step` after which `distance` is covered (at least one).
    auto stepsToCover = [](int64_t distance, int64_t step) -> int64_t {
        return distance <= step ? 1 : (distance + step - 1) / step;
    };
    while (j < count) {
        const uint32_t left = count - j;
        const int32_t sustain = v.sustainLevel << 16;
        switch (v.envelopeState) {
            case EnvelopeState::Attack: {
                const int64_t k = stepsToCover(int64_t(kFullScale) - v.envelope, v.attackStep);
                if (k > left) {
                    ramp(v.attackStep, left);
                } else {
                    ramp(v.attackStep, uint32_t(k - 1));
                    v.envelope = kFullScale;
                    v.envelopeState = EnvelopeState::Decay;
                    hold(1);
                }
                break;
            }
            case EnvelopeState::Decay: {
                const int64_t k = stepsToCover(int64_t(v.envelope) - sustain, v.decayStep);
                if (k > left) {
                    ramp(-v.decayStep, left);
                } else {
                    ramp(-v.decayStep, uint32_t(k - 1));
                    v.envelope = sustain;
                    v.envelopeState = EnvelopeState::Sustain;
                    hold(1);
                }
                break;
            }
            case EnvelopeState::Sustain:
                if (v.envelope != sustain) {
                    // A changed sustain level is reached through the decay, from the next sample.
                    v.envelopeState = EnvelopeState::Decay;
                    hold(1);
                } else {
                    hold(left);
                }
                break;
            case EnvelopeState::Release: {
                // The level ends at the floor and stays there.
                const int64_t above = int64_t(v.envelope) - kReleaseFloor;
                const int64_t k = above < 0 ? 1 : above / v.releaseStep + 1;
                if (k > left) {
                    ramp(-v.releaseStep, left);
                } else {
                    ramp(-v.releaseStep, uint32_t(k - 1));
                    v.envelope = kReleaseFloor;
                    hold(left - uint32_t(k - 1));
                }
                break;
            }
        }
    }
}

// An envelope that no sample can move: held at the sustain level, or released down to the floor.
// Only a gate write changes that, and none comes during rendering.
inline bool envelopeIsSteady(const SidVoice& v) {
    return (v.envelopeState == EnvelopeState::Sustain && v.envelope == v.sustainLevel << 16) ||
           (v.envelopeState == EnvelopeState::Release && v.envelope == kReleaseFloor);
}

}  // namespace sidtune::synth
