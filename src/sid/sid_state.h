// The sound chip's state: the register file the tune writes, the synthesizer's latched
// parameters and running state, and the digi (sample) player behind the extension registers.
//
// Register file, as the CPU sees it at $D400 + index (the 32 indexes repeat through $D400-$D7FF):
//
//   index  voice 1/2/3   bits
//   0 7 14  freq lo      ffffffff
//   1 8 15  freq hi      ffffffff
//   2 9 16  pw lo        pppppppp
//   3 10 17 pw hi        ----pppp       (high nibble stored, not used)
//   4 11 18 control      n p s t T R S G   noise pulse saw triangle | Test Ring Sync Gate
//   5 12 19 attack/decay aaaa dddd
//   6 13 20 sust/release ssss rrrr
//   21      cutoff lo    -----ccc       (bits 3-7 stored, not used)
//   22      cutoff hi    cccccccc
//   23      res/routing  rrrr x 3 2 1   resonance | route voice 3, 2, 1 through the filter
//   24      mode/volume  o H B L vvvv   voice 3 off | high, band, low pass | volume
//   25-31   nothing (the read-only and spare slots of the chip)
#pragma once

#include <array>
#include <cstdint>

namespace sidtune {

enum class EnvelopeState : uint8_t { Attack = 0, Decay = 1, Sustain = 2, Release = 3 };

// The chip's registers by name, at their index. Voice 1's seven come first; voice v's (v = 0, 1,
// 2) are the same seven, kVoiceRegisterStride v further on (voiceRegister).
enum class SidRegister : uint8_t {
    FrequencyLow = 0,
    FrequencyHigh = 1,
    PulseWidthLow = 2,
    PulseWidthHigh = 3,
    Control = 4,
    AttackDecay = 5,
    SustainRelease = 6,
    CutoffLow = 21,
    CutoffHigh = 22,
    ResonanceRouting = 23,
    ModeVolume = 24,
};
constexpr uint8_t kVoiceRegisterStride = 7;
constexpr uint8_t kSidRegisterCount = 25;  // 25-31: nothing

// A register's index: a voice register of voice v, or (with no voice) a filter register.
constexpr uint8_t voiceRegister(int v, SidRegister r) {
    return uint8_t(v * kVoiceRegisterStride + uint8_t(r));
}
constexpr uint8_t sidRegister(SidRegister r) { return uint8_t(r); }
// The voice a voice register belongs to.
constexpr int voiceOfRegister(uint8_t index) { return index / kVoiceRegisterStride; }
constexpr bool isControlRegister(uint8_t index) {
    return index < 3 * kVoiceRegisterStride && index % kVoiceRegisterStride == uint8_t(SidRegister::Control);
}

// The register file: the last byte written to each of the 25 registers, at its index.
struct SidRegisters {
    std::array<uint8_t, kSidRegisterCount> bytes;
    uint8_t operator[](SidRegister r) const { return bytes[uint8_t(r)]; }
    uint8_t voice(int v, SidRegister r) const { return bytes[voiceRegister(v, r)]; }
    bool operator==(const SidRegisters&) const = default;
};

// Voice v's fields (v = 0, 1, 2).
inline uint16_t frequency(const SidRegisters& r, int v) {
    return uint16_t(r.voice(v, SidRegister::FrequencyLow) | r.voice(v, SidRegister::FrequencyHigh) << 8);
}
inline uint16_t pulseWidth(const SidRegisters& r, int v) {
    return uint16_t(r.voice(v, SidRegister::PulseWidthLow) | r.voice(v, SidRegister::PulseWidthHigh) << 8);
}
inline uint8_t controlRegister(const SidRegisters& r, int v) { return r.voice(v, SidRegister::Control); }
inline uint8_t attackDecay(const SidRegisters& r, int v) { return r.voice(v, SidRegister::AttackDecay); }
inline uint8_t sustainRelease(const SidRegisters& r, int v) {
    return r.voice(v, SidRegister::SustainRelease);
}

// Control register bits.
constexpr bool gateOn(uint8_t control) { return control & 0x01; }
constexpr bool syncOn(uint8_t control) { return control & 0x02; }
constexpr bool ringOn(uint8_t control) { return control & 0x04; }
constexpr bool testOn(uint8_t control) { return control & 0x08; }
constexpr bool triangleOn(uint8_t control) { return control & 0x10; }
constexpr bool sawtoothOn(uint8_t control) { return control & 0x20; }
constexpr bool pulseOn(uint8_t control) { return control & 0x40; }
constexpr bool noiseOn(uint8_t control) { return control & 0x80; }

// Filter register fields.
inline uint32_t cutoffValue(const SidRegisters& r) {
    return uint32_t(r[SidRegister::CutoffHigh]) << 3 | (r[SidRegister::CutoffLow] & 7);
}
inline int32_t resonance(const SidRegisters& r) { return r[SidRegister::ResonanceRouting] >> 4; }
inline bool routedThroughFilter(const SidRegisters& r, int voice) {
    return r[SidRegister::ResonanceRouting] >> voice & 1;
}
inline bool lowPassSelected(const SidRegisters& r) { return r[SidRegister::ModeVolume] & 0x10; }
inline bool bandPassSelected(const SidRegisters& r) { return r[SidRegister::ModeVolume] & 0x20; }
inline bool highPassSelected(const SidRegisters& r) { return r[SidRegister::ModeVolume] & 0x40; }
inline bool voice3Off(const SidRegisters& r) { return r[SidRegister::ModeVolume] & 0x80; }
inline int32_t masterVolume(const SidRegisters& r) { return r[SidRegister::ModeVolume] & 0x0F; }

// The sample player's registers, by address: a command at $D41D, the rest taken over by it.
enum class DigiRegister : uint16_t {
    Command = 0xD41D,
    StartLow = 0xD41E,
    StartHigh = 0xD41F,
    EndLow = 0xD43D,
    EndHigh = 0xD43E,
    RepeatCount = 0xD43F,
    PeriodLow = 0xD45D,
    PeriodHigh = 0xD45E,
    NibbleOrder = 0xD47D,
    RepeatLow = 0xD47E,
    RepeatHigh = 0xD47F,
};
constexpr uint16_t kFirstDigiAddress = uint16_t(DigiRegister::Command);
constexpr uint16_t kLastDigiAddress = uint16_t(DigiRegister::RepeatHigh);
constexpr uint16_t digiAddress(DigiRegister r) { return uint16_t(r); }

struct SidVoice {
    // Latched from the register file at the start of every rendering call.
    uint32_t phaseStep;       // frequency x phaseScale: phase advance per output sample
    uint32_t pulseThreshold;  // (pulse width AND $FFF) << 16
    uint8_t control;
    uint8_t filtered;
    int32_t attackStep;
    int32_t decayStep;
    int32_t sustainLevel;  // the sustain nibble times 16
    int32_t releaseStep;
    // Running state.
    uint32_t phase;    // 28 significant bits: 2^28 is one cycle
    int32_t envelope;  // 0 to $FFFFFF
    EnvelopeState envelopeState;
    uint32_t noiseClockMark;  // phase bits 23-27 at the last noise clock
    uint32_t noiseRegister;   // bits 0-22 take part
    uint8_t noiseOutput;
};

struct SidChip {
    SidRegisters registers;

    uint32_t sampleRate;
    uint32_t phaseScale;     // 15872000 / sampleRate
    uint32_t phaseFraction;  // 1/65536 more of phaseScale: 0 but for a chip at a clock of its own
    uint32_t clock;          // cycles per second, which the sample player's periods count
    uint32_t cutoffScale;    // 1411200 / sampleRate
    std::array<int32_t, 16> attackSteps;
    std::array<int32_t, 16> decayReleaseSteps;
    std::array<SidVoice, 3> voices;

    // Latched filter and output parameters.
    int32_t cutoffCoefficient;  // 0 to 65536, units of 1/65536
    uint8_t lowPassOn, bandPassOn, highPassOn;
    uint8_t voice3On;
    int32_t volume;
    int32_t damping;  // units of 1/256
    // Filter state, 16.16 fixed point in voice-output units.
    int32_t highPass, bandPass, lowPass;
    // Voices left out of the mix (bit v: voice v + 1), a setting of the player's, not a register:
    // a muted voice runs on, and neither the direct sum nor the filter hears it.
    uint8_t mutedVoices;
};

// The sample player behind $D41D-$D47F.
struct DigiPlayer {
    // Written by the tune, taken over only by a command.
    int32_t startAddress;
    int32_t endAddress;
    int32_t repeatCount;
    int32_t period;
    int32_t nibbleOrder;
    int32_t repeatAddress;
    // Latched by every command.
    bool playing;
    int32_t position;
    int32_t playStart, playEnd;  // the sample is [playStart, playEnd)
    int32_t playPeriod;          // C64 clock cycles per 4-bit value
    int32_t playNibbleOrder;     // 0: low nibble first; otherwise high nibble first
    int32_t playRepeatCount, playRepeatAddress;
    // Stepping state.
    int32_t rateAccumulator;
    int32_t nibbleIndex;   // 1: the high nibble of the byte at position is current
    int32_t currentValue;  // -7168 to 8192
};

}  // namespace sidtune
