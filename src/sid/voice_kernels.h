// The voice kernels: how one voice makes its waveform and its share of the output over a stretch
// of samples. A plain voice (no test, sync or ring bit) depends on no other and runs as vector
// loops, as does one held by its test bit alone; a modulated one makes its waveform sample by
// sample after its source, then its share as a vector loop. The plain and modulated kernels are
// specialised for the waveform bits. Only the synthesizer includes this header; like the
// envelopes, the kernels are always-inline bodies built into each build of the rendering loops.
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

// The register after `clocks` clocks, up to 18 at a time: each new bit is bit 22 ^ bit 17 of the
// register before it, that is the bits 23 and 18 clocks older, so the next 18 bits all come from
// bits the register holds already (the bits 5 apart that the last 23 make).
inline uint32_t shiftNoise(uint32_t r, uint32_t clocks) {
    for (; clocks != 0;) {
        const uint32_t m = clocks < 18 ? clocks : 18;
        r = r << m | (((r >> (18 - m)) ^ (r >> (23 - m))) & ((1u << m) - 1));
        clocks -= m;
    }
    return r;
}

// The noise waveform's value: register bits 22, 20, 16, 13, 11, 7, 4 and 2, as bits 7 to 0. Taken
// a byte of the register at a time, through a table per byte made at compile time: a noise voice
// looks this up at every clock.
constexpr uint8_t gatherNoiseBits(uint32_t n) {
    return uint8_t((n >> 22 & 1) << 7 | (n >> 20 & 1) << 6 | (n >> 16 & 1) << 5 | (n >> 13 & 1) << 4 |
                   (n >> 11 & 1) << 3 | (n >> 7 & 1) << 2 | (n >> 4 & 1) << 1 | (n >> 2 & 1));
}
struct NoiseBitTables {
    uint8_t byte[3][256];
};
constexpr NoiseBitTables kNoiseBits = [] {
    NoiseBitTables t{};
    for (uint32_t b = 0; b < 3; ++b)
        for (uint32_t v = 0; v < 256; ++v) t.byte[b][v] = gatherNoiseBits(v << (8 * b));
    return t;
}();
[[gnu::always_inline]] inline uint8_t noiseValue(uint32_t n) {
    return kNoiseBits.byte[0][n & 0xFF] | kNoiseBits.byte[1][n >> 8 & 0xFF] |
           kNoiseBits.byte[2][n >> 16 & 0xFF];
}

// The noise register is clocked whenever phase bits 23-27 change, at most once per sample. Its
// waveform value is gathered at once when the voice's waveform reads it (NoiseHeard); otherwise
// it is left `pending` and gathered once, from the register of the last clock, when the register
// is about to change otherwise (a test bit) or the stretch ends (settleNoise).
template <bool NoiseHeard>
[[gnu::always_inline]] inline void clockNoise(SidVoice& v, uint32_t phase, bool& pending) {
    const uint32_t mark = phase >> 23;
    if (mark == v.noiseClockMark) return;
    v.noiseClockMark = mark;
    v.noiseRegister = shiftNoise(v.noiseRegister);
    if constexpr (NoiseHeard) {
        v.noiseOutput = noiseValue(v.noiseRegister);
    } else {
        pending = true;
    }
}

[[gnu::always_inline]] inline void settleNoise(SidVoice& v, bool& pending) {
    if (pending) v.noiseOutput = noiseValue(v.noiseRegister);
    pending = false;
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

// Advances one voice's oscillator by one sample, with every bit of `control` (the voice's control
// byte, or a value equal to it whose waveform bits the compiler knows) honoured, and returns its
// waveform value. The source (the voice that syncs and ring-modulates this one) is given by its
// phase as this voice sees it at this moment, and its phase step.
template <bool NoiseHeard = true>
[[gnu::always_inline]] inline uint32_t stepWaveform(SidVoice& v, uint8_t control, uint32_t sourcePhase,
                                                    uint32_t sourceStep, bool& noisePending) {
    v.phase = (v.phase + v.phaseStep) & kPhaseMask;
    if (testOn(control)) {
        settleNoise(v, noisePending);
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
    clockNoise<NoiseHeard>(v, p, noisePending);
    if (ringOn(control) && !(sourcePhase & kPhaseHalf)) triangle = 255 - triangle;
    return waveformValue(control, p, triangle, v.pulseThreshold, v.noiseOutput);
}

// Samples are made in stretches of at most this many: the voices one by one, then the filter.
constexpr uint32_t kStretch = 256;

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

// A voice's share of each sample of the stretch, voiceOutput(waveform(j), level after sample j),
// stored into the job's sum or added to it: two loops rather than a choice per sample, so that
// each stays vector code.
template <typename Waveform>
[[gnu::always_inline]] inline void mixIntoSum(const VoiceJob& job, Waveform waveform) {
    // Locals only, so that no store into the sum can be taken to change them.
    int32_t* const sum = job.sum;
    const int32_t* const level = job.levels;
    const uint32_t count = job.count;
    if (job.storeIntoSum) {
        for (uint32_t j = 0; j < count; ++j) sum[j] = voiceOutput(waveform(j), level[j]);
    } else {
        for (uint32_t j = 0; j < count; ++j) sum[j] += voiceOutput(waveform(j), level[j]);
    }
}

// The noise register's clocks while a voice's phase steps through a stretch from `start` by
// `step` (one clock whenever phase bits 23-27 differ from the last clock's, at most one a sample):
// counted, not stepped through. A step of 2^23 or more changes those bits at every sample (it is
// far below the 2^28 - 2^23 that could bring them back); a smaller one crosses at most one
// boundary of 2^23 a sample, so the clocks after the first sample are the boundaries between its
// phase and the last, counted on the unwrapped sum (2^28 is itself a boundary). Within a stretch
// the unwrapped sum stays below 2^32: start < 2^28, and 256 steps below 2^23 make less than 2^31.
struct NoiseClocks {
    uint32_t atFirst;  // 1 when the first sample clocks
    uint32_t start, step;
    // The clocks in samples 0 to j.
    [[gnu::always_inline]] uint32_t through(uint32_t j) const {
        if (step >= 1u << 23) return atFirst + j;
        return atFirst + (((start + (j + 1) * step) >> 23) - ((start + step) >> 23));
    }
};
[[gnu::always_inline]] inline NoiseClocks noiseClocksFrom(uint32_t mark, uint32_t start, uint32_t step) {
    return {(((start + step) & kPhaseMask) >> 23) != mark ? 1u : 0u, start, step};
}

// The common case: no test, sync or ring bit, so the voice depends on no other. Its phase after
// sample j is a closed formula of j, and its level runs in straight segments, so each step is a
// plain loop over the stretch that the compiler can turn into vector code. Specialised for the
// waveform bits.
template <unsigned Waveforms>
[[gnu::always_inline]] inline void makePlainVoice(SidVoice& voice, const VoiceJob& job) {
    constexpr uint8_t control = uint8_t(Waveforms << 4);
    const uint32_t count = job.count;
    if (count == 0) return;
    int32_t* const sum = job.sum;
    const uint32_t start = voice.phase, step = voice.phaseStep;
    // Adding the step and keeping 28 bits each sample is the same as adding j + 1 steps at once:
    // 2^28 divides the 2^32 at which the unsigned sum wraps.
    auto phaseAfter = [&](uint32_t j) __attribute__((always_inline)) {
        return (start + (j + 1) * step) & kPhaseMask;
    };
    if (uint32_t* const phases = job.phases; phases != nullptr) {
        for (uint32_t j = 0; j < count; ++j) phases[j + 1] = phaseAfter(j);
    }
    const uint32_t threshold = voice.pulseThreshold;
    // The voice's share of each sample, from the noise value its waveform reads there.
    auto mix = [&](auto noiseAt) __attribute__((always_inline)) {
        mixIntoSum(
            job, [&](uint32_t j) __attribute__((always_inline)) {
                const uint32_t p = phaseAfter(j);
                const uint32_t triangle = triangleOn(control) ? triangleValue(p) : 0;
                return waveformValue(control, p, triangle, threshold, noiseAt(j));
            });
    };

    const NoiseClocks noise = noiseClocksFrom(voice.noiseClockMark, start, step);
    const uint32_t clocks = noise.through(count - 1);
    voice.noiseClockMark = phaseAfter(count - 1) >> 23;
    if (!noiseOn(control) || sum == nullptr) {
        // Nobody hears the noise register here: its clocks are given at once.
        if (clocks != 0) {
            voice.noiseRegister = shiftNoise(voice.noiseRegister, clocks);
            voice.noiseOutput = noiseValue(voice.noiseRegister);
        }
        if (sum != nullptr) mix([](uint32_t) { return uint8_t(0); });
    } else {
        // The noise waveform changes with every clock of the register: the register is stepped
        // once per clock, each value it gives kept in a table, and each sample reads the value of
        // the clocks up to it. No branch on whether a sample clocks.
        uint32_t noiseAfter[kStretch + 1];  // the noise value after k clocks of the stretch
        noiseAfter[0] = voice.noiseOutput;
        uint32_t r = voice.noiseRegister;
        for (uint32_t k = 1; k <= clocks; ++k) {
            r = shiftNoise(r);
            noiseAfter[k] = noiseValue(r);
        }
        voice.noiseRegister = r;
        voice.noiseOutput = uint8_t(noiseAfter[clocks]);
        mix([&](uint32_t j) __attribute__((always_inline)) { return uint8_t(noiseAfter[noise.through(j)]); });
    }
    voice.phase = phaseAfter(count - 1);
}

// A voice held by its test bit, with neither sync nor ring (which could move or change it): every
// sample resets its phase and its noise register, so the phase stays 0, no noise clock comes, and
// the waveform value is one constant through the stretch. The noise value last gathered is kept,
// as stepping sample by sample keeps it.
[[gnu::always_inline]] inline void makeHeldVoice(SidVoice& voice, const VoiceJob& job) {
    const uint32_t count = job.count;
    if (count == 0) return;
    voice.phase = 0;
    voice.noiseClockMark = 0;
    voice.noiseRegister = 0xFFFFFF;
    if (job.phases != nullptr) {
        for (uint32_t j = 0; j < count; ++j) job.phases[j + 1] = 0;
    }
    if (job.sum == nullptr) return;
    const uint32_t w =
        waveformValue(voice.control, 0, triangleValue(0), voice.pulseThreshold, voice.noiseOutput);
    mixIntoSum(job, [w](uint32_t) { return w; });
}

// A voice with test, sync or ring bits, whose source has already run through the stretch: its
// waveform sample by sample, then its share of the samples as the other voices make theirs.
// Specialised for the waveform bits; the test, sync and ring bits are read at run time.
template <unsigned Waveforms>
[[gnu::always_inline]] inline void makeModulatedVoice(SidVoice& voice, const VoiceJob& job) {
    SidVoice v = voice;
    constexpr uint8_t waveformBits = uint8_t(Waveforms << 4);
    const uint8_t control = waveformBits | (v.control & 0x0F);
    const uint32_t sourceStep = job.sourceStep;
    const uint32_t* const sourcePhases = job.sourcePhases;
    uint32_t* const phases = job.phases;
    const uint32_t count = job.count;
    uint32_t waveform[kStretch];
    bool noisePending = false;
    for (uint32_t j = 0; j < count; ++j) {
        waveform[j] = stepWaveform<noiseOn(waveformBits)>(
            v, control, sourcePhases != nullptr ? sourcePhases[j] : 0, sourceStep, noisePending);
        if (phases != nullptr) phases[j + 1] = v.phase;
    }
    settleNoise(v, noisePending);
    voice = v;
    if (job.sum != nullptr) mixIntoSum(job, [&waveform](uint32_t j) { return waveform[j]; });
}

}  // namespace sidtune::synth
