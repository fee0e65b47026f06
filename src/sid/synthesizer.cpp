// The rendering pipeline: from the latched registers to 16-bit samples, a stretch of at most 256
// samples at a time. Per stretch:
//
//     envelopes (envelope.h)    each voice's level after every sample
//           |
//     voices (voice_kernels.h)  each source before the voice it syncs or ring-modulates; each
//           |                   heard voice's output (not voice 3 off, not muted) into one of
//           |                   two sums:
//           +---------------------------+
//     direct sum               filtered sum (voices routed through the filter)
//           |                           |
//           |                  filter: Chamberlin state variable, run every sample
//           |                           |
//           +---- + selected outputs ---+  (low, band, high pass)
//           |
//     x master volume
//           |
//     + digi sample (digi.cpp), after the volume
//           |
//     >> 2, low 16 bits: the output sample
//
// Set-up computes the rate-dependent tables once per machine reset; everything here is 32-bit
// integer arithmetic and allocates nothing.
#include <array>
#include <cstring>
#include <type_traits>
#include <utility>

#include "sid/envelope.h"
#include "sid/sid.h"
#include "sid/voice_kernels.h"

namespace sidtune {

namespace {

// Envelope times in seconds for each attack, and each decay or release, index: the time an
// attack takes from 0 to full scale, and a decay or release from full scale to 0.
const float kAttackTimes[16] = {
    0.0022528607f, 0.008009958f, 0.015769605f, 0.023779562f, 0.037296366f, 0.05506846f,
    0.06683309f,   0.0783474f,   0.09812198f,  0.24455403f,  0.48910806f,  0.7824727f,
    0.97771543f,   2.933647f,    4.889078f,    7.822725f,
};
const float kDecayReleaseTimes[16] = {
    0.008917777f, 0.024594052f, 0.04841859f, 0.07301167f, 0.11451247f, 0.16907835f, 0.20519944f, 0.24055198f,
    0.30126613f,  0.75085825f,  1.5017155f,  2.4024367f,  3.001893f,   9.007214f,   15.010998f,  24.018211f,
};

using namespace synth;

// Arithmetic on 32-bit two's-complement values that is meant to wrap, as the filter's products
// and sums can: computed unsigned, where wrapping is defined, and read back as signed.
int32_t wrapAdd(int32_t a, int32_t b) { return int32_t(uint32_t(a) + uint32_t(b)); }
int32_t wrapSub(int32_t a, int32_t b) { return int32_t(uint32_t(a) - uint32_t(b)); }
int32_t wrapMul(int32_t a, int32_t b) { return int32_t(uint32_t(a) * uint32_t(b)); }

// The rendering loops are built three times, each for a set of processors: any x86-64; those with
// SSE4.1, whose 32-bit vector multiply the phase, envelope and output loops use (SSE2 has to
// emulate it); and those with AVX2, whose vectors are twice as wide. The same integer operations
// in every build, so the same samples; renderSamples picks the widest the processor runs. The
// loops themselves are always-inline bodies; the entries below give each build its own copy,
// each entry taking the build's tag so that the loops call their own build's kernels.
//
// Not AVX2 on Windows: there GCC cannot align the stack to 32 bytes for the vectors it spills.
struct Baseline {};
struct WithSse41 {};
struct WithAvx2 {};

#if defined(__x86_64__) || defined(__i386__)
#define SIDTUNE_HAVE_SSE41_BUILD 1
#if !defined(_WIN32)
#define SIDTUNE_HAVE_AVX2_BUILD 1
#endif
#endif

#define SIDTUNE_BUILD_KERNELS(Tag, ...)                                               \
    __VA_ARGS__ void runEnvelope(Tag, SidVoice& v, int32_t* levels, uint32_t count) { \
        makeEnvelope(v, levels, count);                                               \
    }                                                                                 \
    template <unsigned Waveforms>                                                     \
    __VA_ARGS__ void runPlainVoice(Tag, SidVoice& voice, const VoiceJob& job) {       \
        makePlainVoice<Waveforms>(voice, job);                                        \
    }                                                                                 \
    template <unsigned Waveforms>                                                     \
    __VA_ARGS__ void runModulatedVoice(Tag, SidVoice& voice, const VoiceJob& job) {   \
        makeModulatedVoice<Waveforms>(voice, job);                                    \
    }
SIDTUNE_BUILD_KERNELS(Baseline)
#if SIDTUNE_HAVE_SSE41_BUILD
SIDTUNE_BUILD_KERNELS(WithSse41, [[gnu::target("sse4.1")]])
#endif
#if SIDTUNE_HAVE_AVX2_BUILD
SIDTUNE_BUILD_KERNELS(WithAvx2, [[gnu::target("avx2")]])
#endif

// A voice kernel for each of the 16 waveform selections, in the build `Isa`: plain and modulated.
template <typename Isa>
using VoiceRunner = void (*)(Isa, SidVoice&, const VoiceJob&);
template <typename Isa>
constexpr auto kPlainRunners = []<size_t... I>(std::index_sequence<I...>) {
    return std::array<VoiceRunner<Isa>, 16>{&runPlainVoice<I>...};
}
(std::make_index_sequence<16>{});
template <typename Isa>
constexpr auto kModulatedRunners = []<size_t... I>(std::index_sequence<I...>) {
    return std::array<VoiceRunner<Isa>, 16>{&runModulatedVoice<I>...};
}
(std::make_index_sequence<16>{});

// The low 16 bits of the mix >> 2, no saturation: a mix beyond the 16-bit range wraps.
inline int16_t finalSample(int32_t mix) { return int16_t(uint16_t(uint32_t(mix >> 2) & 0xFFFF)); }

// The filter's outputs as the mode register selects them, one bit each.
constexpr unsigned kLowPass = 1, kBandPass = 2, kHighPass = 4;

// Calls `loop` with the selected outputs as a compile-time constant (std::integral_constant), so
// that the filter's loop is built once for each choice.
template <typename Loop>
[[gnu::always_inline]] inline void withSelectedOutputs(unsigned selected, Loop&& loop) {
    switch (selected) {
        case 0: loop(std::integral_constant<unsigned, 0>{}); break;
        case 1: loop(std::integral_constant<unsigned, 1>{}); break;
        case 2: loop(std::integral_constant<unsigned, 2>{}); break;
        case 3: loop(std::integral_constant<unsigned, 3>{}); break;
        case 4: loop(std::integral_constant<unsigned, 4>{}); break;
        case 5: loop(std::integral_constant<unsigned, 5>{}); break;
        case 6: loop(std::integral_constant<unsigned, 6>{}); break;
        default: loop(std::integral_constant<unsigned, 7>{}); break;
    }
}

constexpr uint8_t kSyncOrRing = 0x06;
constexpr uint8_t kModulationBits = 0x0E;  // test, ring, sync

}  // namespace

namespace {

// The clock the envelope times above were measured at, and the one the sample player's periods
// count by design.
constexpr double kEnvelopeClock = 1022727;
constexpr uint32_t kDesignClock = 985248;

void setEnvelopeSteps(SidChip& chip, double timeScale) {
    for (int i = 0; i < 16; ++i) {
        chip.attackSteps[i] =
            int32_t(16777216.0 / (double(kAttackTimes[i]) * timeScale * double(chip.sampleRate)));
        chip.decayReleaseSteps[i] =
            int32_t(16777216.0 / (double(kDecayReleaseTimes[i]) * timeScale * double(chip.sampleRate)));
    }
}

}  // namespace

void setUpSynthesizer(SidChip& chip, uint32_t sampleRate) {
    chip = SidChip{};
    chip.sampleRate = sampleRate;
    chip.phaseScale = 15872000 / sampleRate;
    chip.cutoffScale = 1411200 / sampleRate;
    chip.clock = kDesignClock;
    setEnvelopeSteps(chip, 1.0);
    for (SidVoice& v : chip.voices) v.noiseRegister = 0xFFFFFF;
}

void setChipClock(SidChip& chip, uint32_t clock) {
    // F x clock / 2^24 cycles a second is F x clock x 16 / sampleRate of the phase's 2^28 a sample.
    const uint64_t scale = (uint64_t(clock) * 16 << 16) / chip.sampleRate;
    chip.phaseScale = uint32_t(scale >> 16);
    chip.phaseFraction = uint32_t(scale & 0xFFFF);
    chip.clock = clock;
    // The envelope counts the chip's cycles: a slower clock, longer times.
    setEnvelopeSteps(chip, kEnvelopeClock / double(clock));
}

namespace {

template <typename Isa>
[[gnu::always_inline]] inline void render(SidChip& chip, DigiPlayer& digi, const C64Memory& memory,
                                          int16_t* samples, uint32_t count) {
    latchParameters(chip);

    int32_t highPass = chip.highPass;
    int32_t bandPass = chip.bandPass;
    int32_t lowPass = chip.lowPass;
    const int32_t coefficient = chip.cutoffCoefficient >> 8;
    const int32_t dampingAndCoefficient = wrapAdd(chip.damping, coefficient);
    int32_t lowBefore = wrapSub(lowPass, wrapMul(bandPass >> 8, coefficient));  // see the filter's loop
    const int32_t volume = chip.volume;
    const unsigned selectedOutputs = (chip.lowPassOn ? kLowPass : 0) | (chip.bandPassOn ? kBandPass : 0) |
                                     (chip.highPassOn ? kHighPass : 0);
    const bool voice3On = chip.voice3On;
    SidVoice* const voices = chip.voices.data();
    // Whether each voice is heard at all: voice 3 off, or muted by the player, it still runs.
    bool audible[3];
    for (int k = 0; k < 3; ++k) audible[k] = (k < 2 || voice3On) && !(chip.mutedVoices >> k & 1);

    // A digi sounds only while its position lies within the sample, and nothing but a command
    // (from the CPU, never during rendering) can bring it there: silent now means silent for the
    // whole call.
    const bool digiSounds = digi.playing && digi.position >= digi.playStart && digi.position < digi.playEnd;

    // With no routed voice and a filter at rest, the filter stays at exactly zero.
    const bool anyRouted = (voices[0].filtered && audible[0]) || (voices[1].filtered && audible[1]) ||
                           (voices[2].filtered && audible[2]);
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
                const bool heard = audible[k] && !silent[k];
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
                if (testOn(v.control) && !(v.control & kSyncOrRing)) {
                    makeHeldVoice(v, job);
                } else if (v.control & kModulationBits) {
                    kModulatedRunners<Isa>[v.control >> 4](Isa{}, v, job);
                } else {
                    kPlainRunners<Isa>[v.control >> 4](Isa{}, v, job);
                }
            }
        } else {
            std::memset(direct, 0, n * sizeof direct[0]);
            std::memset(filtered, 0, n * sizeof filtered[0]);
            directFilled = filteredFilled = true;
            SidVoice v1 = voices[0], v2 = voices[1], v3 = voices[2];
            bool noisePending = false;  // never: each voice gathers its noise as it clocks
            for (uint32_t j = 0; j < n; ++j) {
                // Voice 1 is synced by voice 3 as it was at the end of the previous sample;
                // voices 2 and 3 by voices 1 and 2 as they are now.
                const int32_t out1 = voiceOutput(
                    stepWaveform(v1, v1.control, v3.phase, v3.phaseStep, noisePending), levels[0][j]);
                if (audible[0]) (v1.filtered ? filtered : direct)[j] += out1;
                const int32_t out2 = voiceOutput(
                    stepWaveform(v2, v2.control, v1.phase, v1.phaseStep, noisePending), levels[1][j]);
                if (audible[1]) (v2.filtered ? filtered : direct)[j] += out2;
                const int32_t out3 = voiceOutput(
                    stepWaveform(v3, v3.control, v2.phase, v2.phaseStep, noisePending), levels[2][j]);
                // Voice 3 off silences it in both paths; it still runs, syncs and modulates.
                if (audible[2]) (v3.filtered ? filtered : direct)[j] += out3;
            }
            voices[0] = v1, voices[1] = v2, voices[2] = v3;
        }
        if (!directFilled) std::memset(direct, 0, n * sizeof direct[0]);
        if (filterRuns && !filteredFilled) std::memset(filtered, 0, n * sizeof filtered[0]);

        int16_t* out = samples + done;
        // Chamberlin state-variable filter, run every sample even when nothing is routed to it:
        //     high = input x 65536 - (band >> 8) x damping - low
        //     band += (high >> 8) x coefficient
        //     low  += (band >> 8) x coefficient
        // Each sample waits on the band pass of the last, which bounds how fast a filtered tune
        // renders. The low pass a high pass subtracts is itself the low pass before it plus
        // (band >> 8) x coefficient, so the high pass is computed as the input less that earlier
        // low pass (`lowBefore`) less (band >> 8) x (damping + coefficient): the same sum modulo
        // 2^32, with a multiply and an addition fewer on the chain. The outputs and the final
        // sample are made in the same loop, in the chain's shadow; the loop is built for each
        // choice of selected outputs (`selected`, a compile-time constant), so that it adds only
        // those and the processor has that much less to do beside the chain.
        auto filterStep = [&](auto selected, int32_t input) __attribute__((always_inline)) {
            int32_t base = wrapSub(wrapMul(input, 65536), lowBefore);
            asm("" : "+r"(base));  // computed apart: the compiler would put it back on the chain
            highPass = wrapSub(base, wrapMul(bandPass >> 8, dampingAndCoefficient));
            bandPass = wrapAdd(bandPass, wrapMul(highPass >> 8, coefficient));
            lowBefore = lowPass;
            lowPass = wrapAdd(lowPass, wrapMul(bandPass >> 8, coefficient));
            int32_t output = 0;
            if constexpr (selected & kLowPass) output += lowPass >> 16;
            if constexpr (selected & kBandPass) output += bandPass >> 16;
            if constexpr (selected & kHighPass) output += highPass >> 16;
            return output;
        };
        if (digiSounds) {
            // The sample player steps with every sample: its own loop, after the filter's.
            if (filterRuns) {
                withSelectedOutputs(
                    selectedOutputs, [&](auto selected) __attribute__((always_inline)) {
                        for (uint32_t j = 0; j < n; ++j) direct[j] += filterStep(selected, filtered[j]);
                    });
            }
            for (uint32_t j = 0; j < n; ++j)
                out[j] =
                    finalSample(mixDigiSample(digi, memory, chip.sampleRate, chip.clock, direct[j] * volume));
        } else if (filterRuns) {
            withSelectedOutputs(
                selectedOutputs, [&](auto selected) __attribute__((always_inline)) {
                    for (uint32_t j = 0; j < n; ++j)
                        out[j] = finalSample((direct[j] + filterStep(selected, filtered[j])) * volume);
                });
        } else {
            for (uint32_t j = 0; j < n; ++j) out[j] = finalSample(direct[j] * volume);
        }
        done += n;
    }

    chip.highPass = highPass;
    chip.bandPass = bandPass;
    chip.lowPass = lowPass;
}

// Each build's entry, named for the build.
#define SIDTUNE_BUILD_RENDER(name, Tag, ...)                                                          \
    __VA_ARGS__ void name(SidChip& chip, DigiPlayer& digi, const C64Memory& memory, int16_t* samples, \
                          uint32_t count) {                                                           \
        render<Tag>(chip, digi, memory, samples, count);                                              \
    }
SIDTUNE_BUILD_RENDER(renderBaseline, Baseline)
#if SIDTUNE_HAVE_SSE41_BUILD
SIDTUNE_BUILD_RENDER(renderSse41, WithSse41, [[gnu::target("sse4.1")]])
#endif
#if SIDTUNE_HAVE_AVX2_BUILD
SIDTUNE_BUILD_RENDER(renderAvx2, WithAvx2, [[gnu::target("avx2")]])
#endif

using Renderer = void (*)(SidChip&, DigiPlayer&, const C64Memory&, int16_t*, uint32_t);

// The build's entry, or null when this program has no such build or the processor cannot run it.
Renderer rendererFor(RenderBuild build) {
    switch (build) {
        case RenderBuild::Baseline: return renderBaseline;
        case RenderBuild::Sse41:
#if SIDTUNE_HAVE_SSE41_BUILD
            if (__builtin_cpu_supports("sse4.1")) return renderSse41;
#endif
            return nullptr;
        case RenderBuild::Avx2:
#if SIDTUNE_HAVE_AVX2_BUILD
            if (__builtin_cpu_supports("avx2")) return renderAvx2;
#endif
            return nullptr;
    }
    return nullptr;
}

}  // namespace

bool processorRuns(RenderBuild build) { return rendererFor(build) != nullptr; }

void renderSamplesBuiltFor(RenderBuild build, SidChip& chip, DigiPlayer& digi, const C64Memory& memory,
                           int16_t* samples, uint32_t count) {
    rendererFor(build)(chip, digi, memory, samples, count);
}

void renderSamples(SidChip& chip, DigiPlayer& digi, const C64Memory& memory, int16_t* samples,
                   uint32_t count) {
    static const Renderer chosen = [] {
        for (RenderBuild b : {RenderBuild::Avx2, RenderBuild::Sse41}) {
            if (Renderer r = rendererFor(b)) return r;
        }
        return rendererFor(RenderBuild::Baseline);
    }();
    chosen(chip, digi, memory, samples, count);
}

}  // namespace sidtune
