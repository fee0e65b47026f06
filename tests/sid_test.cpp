// The sound chip: register decode, the gate rule, set-up tables, waveforms, envelopes, sync and
// ring modulation, the filter, voice 3 off, and bit-exact agreement with a plain second model.
#include "sid/sid.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <random>
#include <vector>

#include "cpu/cpu.h"
#include "engine/song.h"
#include "sid_reference.h"
#include "test_support.h"

namespace sidtune::test {
namespace {

class SidTest : public MachineTest {
  protected:
    SidChip& chip = m.sid;
    // A voice held at the centre value: sawtooth at half phase, frequency 0, so it outputs 0
    // whatever its level (voices rise from set-up on even with no gate written).
    void holdAtCentre(int voice) {
        writeSidRegister(m.sid, voiceRegister(voice, SidRegister::Control), 0x21);
        chip.voices[voice].phase = 0x8000000;
    }
    int16_t renderOne() {
        int16_t s = 0;
        renderSamples(m.sid, m.digi, m.memory, &s, 1);
        return s;
    }
};

TEST_F(SidTest, SetUpAt44100) {
    EXPECT_EQ(chip.phaseScale, 359u);
    EXPECT_EQ(chip.cutoffScale, 32u);
    const int32_t attack[16] = {168867, 47495, 24124, 15998, 10200, 6908, 5692, 4855,
                                3877,   1555,  777,   486,   389,   129,  77,   48};
    const int32_t decay[16] = {42660, 15468, 7857, 5210, 3322, 2250, 1853, 1581,
                               1262,  506,   253,  158,  126,  42,   25,   15};
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(chip.attackSteps[i], attack[i]) << i;
        EXPECT_EQ(chip.decayReleaseSteps[i], decay[i]) << i;
    }
    for (const SidVoice& v : chip.voices) {
        EXPECT_EQ(v.noiseRegister, 0xFFFFFFu);
        EXPECT_EQ(v.envelopeState, EnvelopeState::Attack);
        EXPECT_EQ(v.envelope, 0);
    }
}

TEST_F(SidTest, DampingForEveryResonance) {
    const int32_t expected[16] = {307, 296, 286, 276, 266, 256, 245, 235,
                                  225, 215, 204, 194, 184, 174, 163, 153};
    for (int r = 0; r < 16; ++r) {
        writeSidRegister(m.sid, sidRegister(SidRegister::ResonanceRouting), uint8_t(r << 4));
        renderSamples(m.sid, m.digi, m.memory, nullptr, 0);  // latches without writing
        EXPECT_EQ(chip.damping, expected[r]) << r;
    }
}

TEST_F(SidTest, RegisterDecodeThroughTheCpuAddressRange) {
    writeMemory(m, 0xD420, 0x12);  // index 0: voice 1 frequency low
    writeMemory(m, 0xD401, 0x34);
    writeMemory(m, 0xD40E, 0x56);  // voice 3 frequency low
    writeMemory(m, 0xD40A, 0xFF);  // voice 2 pulse width high
    writeMemory(m, 0xD7F8, 0x1F);  // index 24: mode and volume
    writeMemory(m, 0xD415, 0xFF);
    EXPECT_EQ(frequency(chip.registers, 0), 0x3412);
    EXPECT_EQ(frequency(chip.registers, 2), 0x0056);
    EXPECT_EQ(pulseWidth(chip.registers, 1), 0xFF00);
    EXPECT_EQ(chip.registers[SidRegister::ModeVolume], 0x1F);
    EXPECT_EQ(chip.registers[SidRegister::CutoffLow], 0xFF);  // kept whole, though only 3 bits count

    const SidChip before = chip;
    for (uint16_t a = 0xD419; a <= 0xD41F; ++a) writeMemory(m, a, 0xAA);
    EXPECT_EQ(before.registers, chip.registers);
    EXPECT_EQ(m.memory[0xD419], 0);
}

TEST_F(SidTest, GateRule) {
    using enum EnvelopeState;
    struct Case {
        EnvelopeState before;
        uint8_t control;
        EnvelopeState after;
    };
    const Case cases[] = {
        {Attack, 0x41, Attack},  {Decay, 0x41, Decay},   {Sustain, 0x41, Sustain}, {Release, 0x41, Attack},
        {Attack, 0x40, Release}, {Decay, 0x20, Release}, {Sustain, 0x00, Release}, {Release, 0x10, Release},
    };
    for (const Case& c : cases) {
        chip.voices[1].envelopeState = c.before;
        chip.voices[1].envelope = 0x123456;
        writeSidRegister(m.sid, voiceRegister(1, SidRegister::Control), c.control);  // voice 2 control
        EXPECT_EQ(chip.voices[1].envelopeState, c.after) << int(c.before) << " " << int(c.control);
        EXPECT_EQ(chip.voices[1].envelope, 0x123456);  // the gate never moves the level
    }
}

// One voice held still (frequency 0) at a chosen phase, at a constant level: the sample tells the
// waveform value W. Level $F00000 (sustain 15), volume 15, straight out. Voices 2 and 3, whose
// levels rise from set-up on, are routed into the filter with every filter output off.
TEST_F(SidTest, WaveformValues) {
    struct Case {
        const char* name;
        uint8_t control;
        uint32_t phase;
        uint16_t pulseWidth;
        int w;
    };
    const Case cases[] = {
        {"triangle_rising", 0x10, 0x0800000, 0, 0x10},
        {"triangle_falling", 0x10, 0x8800000, 0, 255 - 0x10},
        {"sawtooth", 0x20, 0x5500000, 0, 0x55},
        {"pulse_at_threshold", 0x40, 0x8000000, 0x800, 0xFF},
        {"pulse_past_threshold", 0x40, 0x8000001, 0x800, 0x00},
        {"pulse_width_high_nibble_ignored", 0x40, 0x8000000, 0xF800, 0xFF},
        {"pulse_width_zero_only_at_phase_zero", 0x40, 0x0000001, 0, 0x00},
        {"no_waveform", 0x00, 0x1234567, 0, 0xFF},
        {"saw_and_triangle", 0x30, 0x5500000, 0, 0x55 & 0xAA},
        {"test_bit_gives_phase_zero", 0x18, 0x5500000, 0, 0x00},
    };
    for (const Case& c : cases) {
        resetMachine(m, kSampleRate);
        writeSidRegister(m.sid, sidRegister(SidRegister::ModeVolume), 0x0F);
        writeSidRegister(m.sid, sidRegister(SidRegister::ResonanceRouting), 0x06);
        writeSidRegister(m.sid, voiceRegister(0, SidRegister::SustainRelease), 0xF0);
        writeSidRegister(m.sid, voiceRegister(0, SidRegister::PulseWidthLow), uint8_t(c.pulseWidth));
        writeSidRegister(m.sid, voiceRegister(0, SidRegister::PulseWidthHigh), uint8_t(c.pulseWidth >> 8));
        writeSidRegister(m.sid, voiceRegister(0, SidRegister::Control), c.control | 0x01);
        chip.voices[0].phase = c.phase;
        chip.voices[0].envelope = 0xF00000;
        chip.voices[0].envelopeState = EnvelopeState::Sustain;
        const int32_t out = (c.w - 128) * 0xF00000 >> 22;
        EXPECT_EQ(renderOne(), int16_t(out * 15 >> 2)) << c.name;
    }
}

TEST_F(SidTest, EnvelopeTransitions) {
    SidVoice& v = chip.voices[0];
    writeSidRegister(m.sid, voiceRegister(0, SidRegister::AttackDecay),
                     0x00);  // attack 0 (168867 per sample), decay 0 (42660)
    writeSidRegister(m.sid, voiceRegister(0, SidRegister::SustainRelease), 0x80);  // sustain 8
    writeSidRegister(m.sid, voiceRegister(0, SidRegister::Control), 0x01);

    v.envelope = 0xFFFFFF - 168867;  // lands exactly on full scale
    renderOne();
    EXPECT_EQ(v.envelope, 0xFFFFFF);
    EXPECT_EQ(v.envelopeState, EnvelopeState::Decay);

    v.envelope = 0x800000 + 100;  // decays past the sustain level and stops on it
    renderOne();
    EXPECT_EQ(v.envelope, 0x800000);
    EXPECT_EQ(v.envelopeState, EnvelopeState::Sustain);

    writeSidRegister(m.sid, voiceRegister(0, SidRegister::SustainRelease),
                     0xC0);  // raising the sustain level: decay for one sample, then the new level
    renderOne();
    EXPECT_EQ(v.envelopeState, EnvelopeState::Decay);
    EXPECT_EQ(v.envelope, 0x800000);
    renderOne();
    EXPECT_EQ(v.envelope, 0xC00000);
    EXPECT_EQ(v.envelopeState, EnvelopeState::Sustain);

    writeSidRegister(m.sid, voiceRegister(0, SidRegister::Control),
                     0x00);  // release to the floor, 1/64 of full scale
    for (int i = 0; i < 400; ++i) renderOne();
    EXPECT_EQ(v.envelope, 0x40000);
    writeSidRegister(m.sid, voiceRegister(0, SidRegister::Control), 0x01);  // a new attack starts from there
    renderOne();
    EXPECT_EQ(v.envelope, 0x40000 + 168867);
}

TEST_F(SidTest, HardSyncAndRingModulation) {
    // Voice 3 (the source of voice 1) has just wrapped: its phase is below its step.
    writeSidRegister(m.sid, voiceRegister(2, SidRegister::FrequencyLow), 0x00);
    writeSidRegister(m.sid, voiceRegister(2, SidRegister::FrequencyHigh), 0x10);  // voice 3 frequency $1000
    writeSidRegister(m.sid, voiceRegister(0, SidRegister::FrequencyLow), 0x00);
    writeSidRegister(m.sid, voiceRegister(0, SidRegister::FrequencyHigh), 0x30);  // voice 1 frequency $3000
    writeSidRegister(m.sid, voiceRegister(0, SidRegister::Control), 0x03);        // voice 1 sync
    chip.voices[2].phase = 1000;
    renderOne();
    const uint64_t step1 = 0x3000 * 359, step3 = 0x1000 * 359;
    EXPECT_EQ(chip.voices[0].phase, uint32_t(1000 * step1 / step3));

    // A source held at phase 0 by its test bit syncs its target on every sample (from the second
    // on: voice 1 sees voice 3 as it was at the end of the previous sample).
    writeSidRegister(m.sid, voiceRegister(2, SidRegister::Control), 0x08);  // voice 3 test
    renderOne();
    for (int i = 0; i < 3; ++i) {
        renderOne();
        EXPECT_EQ(chip.voices[0].phase, 0u);
    }
}

TEST_F(SidTest, RingModulationInvertsTheTriangleWhileTheSourceIsInItsFirstHalf) {
    writeSidRegister(m.sid, sidRegister(SidRegister::ModeVolume), 0x0F);
    writeSidRegister(m.sid, sidRegister(SidRegister::ResonanceRouting),
                     0x06);  // voices 2 and 3 out of hearing
    writeSidRegister(m.sid, voiceRegister(0, SidRegister::SustainRelease), 0xF0);
    writeSidRegister(m.sid, voiceRegister(0, SidRegister::Control), 0x15);  // voice 1: triangle, ring, gate
    chip.voices[0].phase = 0x0800000;
    chip.voices[0].envelope = 0xF00000;
    chip.voices[0].envelopeState = EnvelopeState::Sustain;
    for (uint32_t sourcePhase : {0x0000000u, 0x8000000u}) {
        chip.voices[2].phase = sourcePhase;
        const int w = sourcePhase < 0x8000000 ? 255 - 0x10 : 0x10;
        EXPECT_EQ(renderOne(), int16_t(((w - 128) * 0xF00000 >> 22) * 15 >> 2)) << sourcePhase;
    }
}

TEST_F(SidTest, Voice3OffIsSilentInBothPathsButStillRuns) {
    for (uint8_t routing : {0x00, 0x04}) {
        resetMachine(m, kSampleRate);
        writeSidRegister(m.sid, sidRegister(SidRegister::ModeVolume),
                         0x9F);  // voice 3 off, low pass, volume 15
        writeSidRegister(m.sid, sidRegister(SidRegister::ResonanceRouting), routing);
        writeSidRegister(m.sid, sidRegister(SidRegister::CutoffHigh), 0xFF);
        writeSidRegister(m.sid, voiceRegister(2, SidRegister::FrequencyLow), 0x00);
        writeSidRegister(m.sid, voiceRegister(2, SidRegister::FrequencyHigh), 0x20);
        writeSidRegister(m.sid, voiceRegister(2, SidRegister::Control), 0x21);
        writeSidRegister(m.sid, voiceRegister(2, SidRegister::SustainRelease), 0xF0);  // sustain 15
        holdAtCentre(0);
        holdAtCentre(1);
        std::vector<int16_t> out(2000);
        renderSamples(m.sid, m.digi, m.memory, out.data(), 2000);
        for (int16_t s : out) ASSERT_EQ(s, 0) << int(routing);
        EXPECT_NE(chip.voices[2].phase, 0u);
        EXPECT_EQ(chip.voices[2].envelope, 0xF00000);
    }
}

TEST_F(SidTest, FilterOutputsOffSilenceRoutedVoices) {
    writeSidRegister(m.sid, sidRegister(SidRegister::ModeVolume), 0x0F);  // volume only, no filter output
    writeSidRegister(m.sid, sidRegister(SidRegister::ResonanceRouting), 0x01);  // voice 1 through the filter
    writeSidRegister(m.sid, sidRegister(SidRegister::CutoffHigh), 0x40);
    writeSidRegister(m.sid, voiceRegister(0, SidRegister::FrequencyHigh), 0x20);
    writeSidRegister(m.sid, voiceRegister(0, SidRegister::Control), 0x21);
    holdAtCentre(1);
    holdAtCentre(2);
    std::vector<int16_t> out(2000);
    renderSamples(m.sid, m.digi, m.memory, out.data(), 2000);
    for (int16_t s : out) ASSERT_EQ(s, 0);
    EXPECT_NE(chip.lowPass, 0);  // the filter ran all the same
}

// The same register writes into the chip and into the plain second model: the same samples.
// With any control bits, and without test, sync and ring modulation, where the voices run
// independently of each other; through the build renderSamples chooses and through each build of
// the rendering loops the processor runs.
struct BitExactCase {
    const char* name;
    uint8_t controlMask;
    std::optional<RenderBuild> build;  // none: the one renderSamples chooses
    bool muting = false;               // the player mutes and unmutes voices now and then
};

class BitExact : public SidTest, public ::testing::WithParamInterface<BitExactCase> {};

TEST_P(BitExact, AgainstThePlainModel) {
    const uint8_t controlMask = GetParam().controlMask;
    const std::optional<RenderBuild> build = GetParam().build;
    if (build && !processorRuns(*build)) GTEST_SKIP() << "this processor does not run that build";
    std::mt19937 random(1234);
    ReferenceSid reference(chip.attackSteps, chip.decayReleaseSteps);
    std::vector<int16_t> expected, actual;
    for (int call = 0; call < 3000; ++call) {
        const int writes = random() % 6;
        for (int i = 0; i < writes; ++i) {
            int index = random() % 25;
            uint8_t value = uint8_t(random());
            if (isControlRegister(uint8_t(index))) value &= controlMask;
            if (index == sidRegister(SidRegister::ModeVolume) && (random() % 4) != 0)
                value |= 0x0F;  // mostly audible
            writeSidRegister(m.sid, uint8_t(index), value);
            reference.write(index, value);
        }
        if (GetParam().muting && random() % 8 == 0) {
            m.sid.mutedVoices = uint8_t(random() % 8);
            reference.mute(m.sid.mutedVoices);
        }
        const uint32_t count = random() % 600;
        std::vector<int16_t> block(count);
        if (build) {
            renderSamplesBuiltFor(*build, m.sid, m.digi, m.memory, block.data(), count);
        } else {
            renderSamples(m.sid, m.digi, m.memory, block.data(), count);
        }
        actual.insert(actual.end(), block.begin(), block.end());
        reference.render(expected, count);
    }
    ASSERT_EQ(actual.size(), expected.size());
    size_t firstDifference = actual.size();
    for (size_t i = 0; i < actual.size(); ++i) {
        if (actual[i] != expected[i]) {
            firstDifference = i;
            break;
        }
    }
    EXPECT_EQ(firstDifference, actual.size()) << "first differing sample";
    int nonzero = 0;
    for (int16_t s : actual) nonzero += s != 0;
    EXPECT_GT(nonzero, int(actual.size() / 2));  // the comparison was about sound, not silence
}

INSTANTIATE_TEST_SUITE_P(
    ControlBits, BitExact,
    ::testing::Values(BitExactCase{"all", 0xFF, {}}, BitExactCase{"independent_voices", 0xF1, {}},
                      BitExactCase{"muting", 0xFF, {}, true},
                      BitExactCase{"independent_voices_muting", 0xF1, {}, true},
                      BitExactCase{"all_baseline", 0xFF, RenderBuild::Baseline},
                      BitExactCase{"independent_voices_baseline", 0xF1, RenderBuild::Baseline},
                      BitExactCase{"muting_baseline", 0xFF, RenderBuild::Baseline, true},
                      BitExactCase{"all_sse41", 0xFF, RenderBuild::Sse41},
                      BitExactCase{"muting_sse41", 0xFF, RenderBuild::Sse41, true},
                      BitExactCase{"all_avx2", 0xFF, RenderBuild::Avx2},
                      BitExactCase{"muting_avx2", 0xFF, RenderBuild::Avx2, true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace sidtune::test
