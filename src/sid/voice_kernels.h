// The voice kernels: how one voice makes its waveform and its share of the output over a stretch
// of samples. A plain voice (no test, sync or ring bit) depends on no other and runs as vector
// loops; a modulated one runs sample by sample after its source. Only the synthesizer includes
// this header; like the envelopes, the kernels are always-inline bodies built into each build of
// the rendering loops.
//
// A voice's phase is 28 bits (2^28 is one cycle); the waveforms read it:
//
//     triangle  phase bits 19-26, mirrored in the second half of the cycle
//     sawtooth  phase bits 20-27
//     pulse     $FF while the phase is at or below the pulse width << 16, else $00
//     noise     eight bits of a 23-bit shift register, clocked when phase bits 23-27 change
#pragma once

#include <cstdint>
#include <cstring>

#include "sid/sid_state.h"

namespace sidtune::synth {

constexpr uint32_t kPhaseMask = 0x0FFFFFFF;  // 28 bits: one cycle
constexpr uint32_t kPhaseHalf = 1u << 27;

// The noise generator: a 23-bit shift register with feedback from bits 22 and 17; eight of its
// bits make the noise waveform's value.
[[gnu::always_inline]] inline uint32_t shiftNoise(uint32_t r) {
    return r << 1 | (((r >> 22) ^ (r >> 17)) & 1);
}

[[gnu::always_inline]] inline uint8_t noiseValue(uint32_t n) {
    return uint8_t((n >> 22 & 1) << 7 | (n >> 20 & 1) << 6 | (n >> 16 & 1) << 5 | (n >> 13 & 1) << 4 |
                   (n >> 11 & 1) << 3 | (n >> 7 & 1) << 2 | (n >> 4 & 1) << 1 | (n >> 2 & 1));
}

// The noise register is clocked whenever phase bits 23-27 change, at most once per sample.
[[gnu::always_inline]] inline void clockNoise(SidVoice& v, uint32_t phase) {
    const uint32_t mark = phase >> 23;
    if (mark == v.noiseClockMark) return;
    v.noiseClockMark = mark;
    v.noiseRegister = shiftNoise(v.noiseRegister);
    v.noiseOutput = noiseValue(v.noiseRegister);
}

// The selected waveforms ANDed together; with none selected the value stays $FF. Called with a
// constant control byte, the unselected waveforms cost nothing.
[[gnu::always_inline]] inline uint32_t waveformValue(uint8_t control, uint32_t phase, uint32_t triangle,
                                                     uint32_t pulseThreshold, uint8_t noiseOutput) {
    uint32_t w = 0xFF;
    if (triangleOn(control)) w = triangle;
    if (sawtoothOn(control)) w &= (phase >> 20) & 0xFF;
    if (pulseOn(control)) w &= phase <= pulseThreshold ? 0xFF : 0x00;
    if (noiseOn(control)) w &= noiseOutput;
    return w;
}

[[gnu::always_inline]] inline uint32_t triangleValue(uint32_t phase) {
    const uint32_t t = (phase >> 19) & 0xFF;
    return (phase & kPhaseHalf) ? 255 - t : t;
}

// A voice's output at a waveform value and an envelope level: -512 to 507.
[[gnu::always_inline]] inline int32_t voiceOutput(uint32_t w, int32_t level) {
    return (int32_t(w) - 128) * level >> 22;
}

// Advances one voice's oscillator by one sample, with every control bit honoured, and returns its
// waveform value. The source (the voice that syncs and ring-modulates this one) is given by its
// phase as this voice sees it at this moment, and its phase step.
[[gnu::always_inline]] inline uint32_t stepWaveform(SidVoice& v, uint32_t sourcePhase, uint32_t sourceStep) {
    const uint8_t control = v.control;
    v.phase = (v.phase + v.phaseStep) & kPhaseMask;
    if (testOn(control)) {
        v.phase = 0;
        v.noiseClockMark = 0;
        v.noiseRegister = 0xFFFFFF;
    }
    // Hard sync: the source passed zero during its last advance. Its phase now is how far past
    // zero it is; this voice restarts as far into its own cycle, in proportion.
    if (syncOn(control) && sourcePhase < sourceStep) {
        v.phase = uint32_t(uint64_t(sourcePhase) * v.phaseStep / sourceStep);
    }
    const uint32_t p = v.phase;
    uint32_t triangle = triangleValue(p);
    clockNoise(v, p);
    if (ringOn(control) && !(sourcePhase & kPhaseHalf)) triangle = 255 - triangle;
    return waveformValue(control, p, triangle, v.pulseThreshold, v.noiseOutput);
}

// Samples are made in stretches of at most this many: the voices one by one, then the filter.
constexpr uint32_t kStretch = 256;

[[gnu::always_inline]] inline void putIntoSum(int32_t& sum, int32_t value, bool store) {
    sum = store ? value : sum + value;
}

// One voice's share of a stretch of samples, when it can run on its own, its envelope levels
// already made (an envelope depends on nothing but its own voice): its output goes into
// `sum` (nowhere when null: voice 3 switched off still runs, and a voice held at level 0 adds
// nothing), added to it or, for the first voice into that sum, stored (so no sum is ever cleared
// first); its phase after each sample into `phases[1..n]` when another voice needs it.
struct VoiceJob {
    uint32_t count;
    const int32_t* levels;  // the envelope level after each sample
    int32_t* sum;
    bool storeIntoSum;
    uint32_t* phases;
    const uint32_t* sourcePhases;  // the source's phase as seen at each sample, for sync and ring
    uint32_t sourceStep;
};

// The common case: no test, sync or ring bit, so the voice depends on no other. Its phase after
// sample j is a closed formula of j, and its level runs in straight segments, so each step is a
// plain loop over the stretch that the compiler can turn into vector code. Specialised for the
// waveform bits.
template <unsigned Waveforms, bool RecordPhases>
[[gnu::always_inline]] inline void makePlainVoice(SidVoice& voice, const VoiceJob& job) {
    constexpr uint8_t control = uint8_t(Waveforms << 4);
    const uint32_t count = job.count;
    if (count == 0) return;
    int32_t* const sum = job.sum;
    uint32_t phase[kStretch];
    const uint32_t start = voice.phase, step = voice.phaseStep;
    // Adding the step and keeping 28 bits each sample is the same as adding j + 1 steps at once:
    // 2^28 divides the 2^32 at which the unsigned sum wraps.
    for (uint32_t j = 0; j < count; ++j) phase[j] = (start + (j + 1) * step) & kPhaseMask;
    if constexpr (RecordPhases) std::memcpy(job.phases + 1, phase, count * sizeof phase[0]);

    const int32_t* const level = job.levels;

    if constexpr (noiseOn(control)) {
        // The noise waveform changes with every clock of the register: sample by sample.
        SidVoice v = voice;
        for (uint32_t j = 0; j < count; ++j) {
            clockNoise(v, phase[j]);
            if (sum != nullptr) {
                const uint32_t w = waveformValue(control, phase[j], triangleValue(phase[j]), v.pulseThreshold,
                                                 v.noiseOutput);
                putIntoSum(sum[j], voiceOutput(w, level[j]), job.storeIntoSum);
            }
        }
        voice.noiseClockMark = v.noiseClockMark;
        voice.noiseRegister = v.noiseRegister;
        voice.noiseOutput = v.noiseOutput;
    } else {
        // Nobody hears the noise register here: its clocks (one per change of phase bits 23-27)
        // are counted and given at once.
        uint32_t clocks = (phase[0] >> 23) != voice.noiseClockMark;
        for (uint32_t j = 1; j < count; ++j) clocks += (phase[j] >> 23) != (phase[j - 1] >> 23);
        if (clocks != 0) {
            for (uint32_t c = 0; c < clocks; ++c) voice.noiseRegister = shiftNoise(voice.noiseRegister);
            voice.noiseOutput = noiseValue(voice.noiseRegister);
        }
        voice.noiseClockMark = phase[count - 1] >> 23;
        if (sum != nullptr) {
            const uint32_t threshold = voice.pulseThreshold;
            auto output = [&](uint32_t j) __attribute__((always_inline)) {
                const uint32_t p = phase[j];
                const uint32_t triangle = triangleOn(control) ? triangleValue(p) : 0;
                return voiceOutput(waveformValue(control, p, triangle, threshold, 0), level[j]);
            };
            // Two loops rather than a choice per sample, so that each stays vector code.
            if (job.storeIntoSum) {
                for (uint32_t j = 0; j < count; ++j) sum[j] = output(j);
            } else {
                for (uint32_t j = 0; j < count; ++j) sum[j] += output(j);
            }
        }
    }
    voice.phase = phase[count - 1];
}

// A voice with test, sync or ring bits, whose source has already run through the stretch.
[[gnu::always_inline]] inline void makeModulatedVoice(SidVoice& voice, const VoiceJob& job) {
    SidVoice v = voice;
    const uint32_t sourceStep = job.sourceStep;
    const uint32_t* const sourcePhases = job.sourcePhases;
    int32_t* const sum = job.sum;
    uint32_t* const phases = job.phases;
    const uint32_t count = job.count;
    for (uint32_t j = 0; j < count; ++j) {
        const uint32_t w = stepWaveform(v, sourcePhases != nullptr ? sourcePhases[j] : 0, sourceStep);
        if (phases != nullptr) phases[j + 1] = v.phase;
        if (sum != nullptr) putIntoSum(sum[j], voiceOutput(w, job.levels[j]), job.storeIntoSum);
    }
    voice = v;
}

}  // namespace sidtune::synth
