#include "sid/sid.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <type_traits>
#include <utility>

#include "engine/engine_state.h"

namespace sidtune {

const float kAttackTimes[16] = {
    0.0022528607f, 0.008009958f, 0.015769605f, 0.023779562f, 0.037296366f, 0.05506846f,
    0.06683309f,   0.0783474f,   0.09812198f,  0.24455403f,  0.48910806f,  0.7824727f,
    0.97771543f,   2.933647f,    4.889078f,    7.822725f,
};
const float kDecayReleaseTimes[16] = {
    0.008917777f, 0.024594052f, 0.04841859f, 0.07301167f, 0.11451247f, 0.16907835f, 0.20519944f, 0.24055198f,
    0.30126613f,  0.75085825f,  1.5017155f,  2.4024367f,  3.001893f,   9.007214f,   15.010998f,  24.018211f,
};

namespace {

constexpr int32_t kFullScale = 0xFFFFFF;
// Release ends at 1/64 of full scale, not at 0, so a released voice still hums.
constexpr int32_t kReleaseFloor = 0x40000;
constexpr uint32_t kPhaseMask = 0x0FFFFFFF;  // 28 bits: one cycle
constexpr uint32_t kPhaseHalf = 1u << 27;

// Arithmetic on 32-bit two's-complement values that is meant to wrap, as the filter's products
// and sums can: computed unsigned, where wrapping is defined, and read back as signed.
int32_t wrapAdd(int32_t a, int32_t b) { return int32_t(uint32_t(a) + uint32_t(b)); }
int32_t wrapSub(int32_t a, int32_t b) { return int32_t(uint32_t(a) - uint32_t(b)); }
int32_t wrapMul(int32_t a, int32_t b) { return int32_t(uint32_t(a) * uint32_t(b)); }

void latchParameters(SidChip& chip) {
    const SidRegisters& r = chip.registers;
    for (int v = 0; v < 3; ++v) {
        SidVoice& voice = chip.voices[v];
        voice.phaseStep = frequency(r, v) * chip.phaseScale;
        voice.pulseThreshold = uint32_t(pulseWidth(r, v) & 0xFFF) << 16;
        voice.control = controlRegister(r, v);
        voice.filtered = routedThroughFilter(r, v);
        voice.attackStep = chip.attackSteps[attackDecay(r, v) >> 4];
        voice.decayStep = chip.decayReleaseSteps[attackDecay(r, v) & 15];
        voice.sustainLevel = sustainRelease(r, v) & 0xF0;
        voice.releaseStep = chip.decayReleaseSteps[sustainRelease(r, v) & 15];
    }
    const uint32_t coefficient = cutoffValue(r) * chip.cutoffScale;
    chip.cutoffCoefficient = int32_t(coefficient > 65536 ? 65536 : coefficient);
    chip.lowPassOn = lowPassSelected(r);
    chip.bandPassOn = bandPassSelected(r);
    chip.highPassOn = highPassSelected(r);
    chip.voice3On = !voice3Off(r);
    chip.volume = masterVolume(r);
    chip.damping = (78643 - 2621 * resonance(r)) >> 8;
}

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

// An envelope that no sample can move: held at the sustain level, or released down to the floor.
// Only a gate write changes that, and none comes during rendering.
bool envelopeIsSteady(const SidVoice& v) {
    return (v.envelopeState == EnvelopeState::Sustain && v.envelope == v.sustainLevel << 16) ||
           (v.envelopeState == EnvelopeState::Release && v.envelope == kReleaseFloor);
}

// The rendering loops are built twice: for any x86-64 processor, and for those with SSE4.1, whose
// 32-bit vector multiply the phase, envelope and output loops use (SSE2 has to emulate it). The
// same integer operations either way, so the same samples; renderSamples picks one at run time.
// The loops themselves are always-inline bodies; these entries give each build its own copy.
struct Baseline {};
struct WithSse41 {};

#if defined(__x86_64__) || defined(__i386__)
#define SIDTUNE_WITH_SSE41 [[gnu::target("sse4.1")]]
bool haveSse41() { return __builtin_cpu_supports("sse4.1"); }
#else
#define SIDTUNE_WITH_SSE41
bool haveSse41() { return false; }
#endif

void runEnvelope(Baseline, SidVoice& v, int32_t* levels, uint32_t count) { makeEnvelope(v, levels, count); }
SIDTUNE_WITH_SSE41 void runEnvelope(WithSse41, SidVoice& v, int32_t* levels, uint32_t count) {
    makeEnvelope(v, levels, count);
}

template <unsigned Waveforms, bool RecordPhases>
void runPlainVoice(SidVoice& voice, const VoiceJob& job) {
    makePlainVoice<Waveforms, RecordPhases>(voice, job);
}
template <unsigned Waveforms, bool RecordPhases>
SIDTUNE_WITH_SSE41 void runPlainVoiceSse41(SidVoice& voice, const VoiceJob& job) {
    makePlainVoice<Waveforms, RecordPhases>(voice, job);
}

using VoiceRunner = void (*)(SidVoice&, const VoiceJob&);
template <typename Isa, bool RecordPhases>
constexpr auto kPlainRunners = []<size_t... I>(std::index_sequence<I...>) {
    if constexpr (std::is_same_v<Isa, WithSse41>) {
        return std::array<VoiceRunner, 16>{&runPlainVoiceSse41<I, RecordPhases>...};
    } else {
        return std::array<VoiceRunner, 16>{&runPlainVoice<I, RecordPhases>...};
    }
}
(std::make_index_sequence<16>{});

// The low 16 bits of the mix >> 2, no saturation: a mix beyond the 16-bit range wraps.
inline int16_t finalSample(int32_t mix) { return int16_t(uint16_t(uint32_t(mix >> 2) & 0xFFFF)); }

constexpr uint8_t kSyncOrRing = 0x06;
constexpr uint8_t kModulationBits = 0x0E;  // test, ring, sync

}  // namespace

void writeSidRegister(uint8_t index, uint8_t value) {
    if (index >= std::tuple_size_v<SidRegisters>) return;  // 25-31: nothing
    SidChip& chip = engine.sid;
    chip.registers[index] = value;
    // A control register's gate moves the envelope at once; the level itself is left where it is,
    // so an attack rises from wherever the release had got to.
    constexpr uint32_t kControlIndexes = 1u << 4 | 1u << 11 | 1u << 18;
    if ((kControlIndexes >> index & 1) == 0) return;
    EnvelopeState& state = chip.voices[index / kVoiceRegisters].envelopeState;
    if (!gateOn(value)) {
        state = EnvelopeState::Release;
    } else if (state == EnvelopeState::Release) {
        state = EnvelopeState::Attack;
    }
}

void setUpSynthesizer(uint32_t sampleRate) {
    SidChip& chip = engine.sid;
    chip = SidChip{};
    chip.sampleRate = sampleRate;
    chip.phaseScale = 15872000 / sampleRate;
    chip.cutoffScale = 1411200 / sampleRate;
    for (int i = 0; i < 16; ++i) {
        chip.attackSteps[i] = int32_t(16777216.0 / (double(kAttackTimes[i]) * double(sampleRate)));
        chip.decayReleaseSteps[i] =
            int32_t(16777216.0 / (double(kDecayReleaseTimes[i]) * double(sampleRate)));
    }
    for (SidVoice& v : chip.voices) v.noiseRegister = 0xFFFFFF;
    // A new tune never inherits a sample, a position or a latched value from the last one.
    engine.digi = DigiPlayer{};
}

namespace {

template <typename Isa>
[[gnu::always_inline]] inline void render(int16_t* samples, uint32_t count) {
    SidChip& chip = engine.sid;
    latchParameters(chip);

    int32_t highPass = chip.highPass;
    int32_t bandPass = chip.bandPass;
    int32_t lowPass = chip.lowPass;
    const int32_t damping = chip.damping;
    const int32_t coefficient = chip.cutoffCoefficient >> 8;
    const int32_t volume = chip.volume;
    const int32_t lowPassMask = chip.lowPassOn ? -1 : 0;
    const int32_t bandPassMask = chip.bandPassOn ? -1 : 0;
    const int32_t highPassMask = chip.highPassOn ? -1 : 0;
    const bool voice3On = chip.voice3On;
    SidVoice* const voices = chip.voices.data();

    // A digi sounds only while its position lies within the sample, and nothing but a command
    // (from the CPU, never during rendering) can bring it there: silent now means silent for the
    // whole call.
    const DigiPlayer& digi = engine.digi;
    const bool digiSounds = digi.playing && digi.position >= digi.playStart && digi.position < digi.playEnd;

    // With no routed voice and a filter at rest, the filter stays at exactly zero.
    const bool anyRouted = voices[0].filtered || voices[1].filtered || (voices[2].filtered && voice3On);
    const bool filterRuns = anyRouted || highPass != 0 || bandPass != 0 || lowPass != 0;
    // Voice k is synced and ring-modulated by voice (k + 2) mod 3. Unless all three use sync or
    // ring, the voices can run one after the other through a stretch, each source before the
    // voice that follows it.
    bool dependsOnSource[3];
    for (int k = 0; k < 3; ++k) dependsOnSource[k] = voices[k].control & kSyncOrRing;
    const bool allInterlocked = dependsOnSource[0] && dependsOnSource[1] && dependsOnSource[2];
    int order[3];
    bool sourceOfAnother[3] = {};
    if (!allInterlocked) {
        bool placed[3] = {};
        for (int slot = 0; slot < 3;) {
            for (int k = 0; k < 3; ++k) {
                const int source = (k + 2) % 3;
                if (!placed[k] && (!dependsOnSource[k] || placed[source])) {
                    placed[k] = true;
                    order[slot++] = k;
                    if (dependsOnSource[k]) sourceOfAnother[source] = true;
                }
            }
        }
    }

    // Samples are made in stretches: first the voices' sums, then filter, volume and digi.
    int32_t direct[kStretch];
    int32_t filtered[kStretch];
    uint32_t phases[3][kStretch + 1];
    int32_t levels[3][kStretch];
    for (uint32_t done = 0; done < count;) {
        const uint32_t n = count - done < kStretch ? count - done : kStretch;
        // Whether anything has gone into each sum yet: the first voice stores, the others add.
        bool directFilled = false, filteredFilled = false;
        // A voice held at level 0 adds nothing for the whole stretch.
        bool silent[3];
        for (int k = 0; k < 3; ++k) {
            silent[k] = envelopeIsSteady(voices[k]) && voices[k].envelope == 0;
            runEnvelope(Isa{}, voices[k], levels[k], n);
        }
        if (!allInterlocked) {
            for (int k : order) {
                SidVoice& v = voices[k];
                const int source = (k + 2) % 3;
                const bool heard = (k < 2 || voice3On) && !silent[k];
                bool& filled = v.filtered ? filteredFilled : directFilled;
                VoiceJob job{n,
                             levels[k],
                             heard ? (v.filtered ? filtered : direct) : nullptr,
                             !filled,
                             nullptr,
                             nullptr,
                             voices[source].phaseStep};
                if (heard) filled = true;
                if (sourceOfAnother[k]) {
                    phases[k][0] = v.phase;  // the phase before the stretch
                    job.phases = phases[k];
                }
                if (dependsOnSource[k]) {
                    // Voice 1 sees voice 3 as it was at the end of the previous sample; voices 2
                    // and 3 see voices 1 and 2 as they are after the same sample.
                    job.sourcePhases = k == 0 ? phases[source] : phases[source] + 1;
                }
                if (v.control & kModulationBits) {
                    makeModulatedVoice(v, job);
                } else if (job.phases != nullptr) {
                    kPlainRunners<Isa, true>[v.control >> 4](v, job);
                } else {
                    kPlainRunners<Isa, false>[v.control >> 4](v, job);
                }
            }
        } else {
            std::memset(direct, 0, n * sizeof direct[0]);
            std::memset(filtered, 0, n * sizeof filtered[0]);
            directFilled = filteredFilled = true;
            SidVoice v1 = voices[0], v2 = voices[1], v3 = voices[2];
            for (uint32_t j = 0; j < n; ++j) {
                // Voice 1 is synced by voice 3 as it was at the end of the previous sample;
                // voices 2 and 3 by voices 1 and 2 as they are now.
                const int32_t out1 = voiceOutput(stepWaveform(v1, v3.phase, v3.phaseStep), levels[0][j]);
                (v1.filtered ? filtered : direct)[j] += out1;
                const int32_t out2 = voiceOutput(stepWaveform(v2, v1.phase, v1.phaseStep), levels[1][j]);
                (v2.filtered ? filtered : direct)[j] += out2;
                const int32_t out3 = voiceOutput(stepWaveform(v3, v2.phase, v2.phaseStep), levels[2][j]);
                // Voice 3 off mutes it in both paths; it still runs, syncs and modulates.
                if (voice3On) (v3.filtered ? filtered : direct)[j] += out3;
            }
            voices[0] = v1, voices[1] = v2, voices[2] = v3;
        }
        if (!directFilled) std::memset(direct, 0, n * sizeof direct[0]);
        if (filterRuns && !filteredFilled) std::memset(filtered, 0, n * sizeof filtered[0]);

        int16_t* out = samples + done;
        if (filterRuns) {
            for (uint32_t j = 0; j < n; ++j) {
                // Chamberlin state-variable filter, run every sample even when nothing is routed
                // to it.
                highPass =
                    wrapSub(wrapSub(wrapMul(filtered[j], 65536), wrapMul(bandPass >> 8, damping)), lowPass);
                bandPass = wrapAdd(bandPass, wrapMul(highPass >> 8, coefficient));
                lowPass = wrapAdd(lowPass, wrapMul(bandPass >> 8, coefficient));
                // The selected outputs, through masks: no branch in the filter's chain.
                direct[j] += ((lowPass >> 16) & lowPassMask) + ((bandPass >> 16) & bandPassMask) +
                             ((highPass >> 16) & highPassMask);
            }
        }
        if (digiSounds) {
            for (uint32_t j = 0; j < n; ++j) out[j] = finalSample(mixDigiSample(direct[j] * volume));
        } else {
            for (uint32_t j = 0; j < n; ++j) out[j] = finalSample(direct[j] * volume);
        }
        done += n;
    }

    chip.highPass = highPass;
    chip.bandPass = bandPass;
    chip.lowPass = lowPass;
}

SIDTUNE_WITH_SSE41 void renderWithSse41(int16_t* samples, uint32_t count) {
    render<WithSse41>(samples, count);
}

}  // namespace

void renderSamplesBaseline(int16_t* samples, uint32_t count) { render<Baseline>(samples, count); }

void renderSamples(int16_t* samples, uint32_t count) {
    static void (*const chosen)(int16_t*, uint32_t) = haveSse41() ? renderWithSse41 : renderSamplesBaseline;
    chosen(samples, count);
}

}  // namespace sidtune
