// A second, deliberately plain implementation of the synthesizer's per-sample algorithm, written
// straight from the description of the chip with none of the production code's structure: every
// step in 64-bit arithmetic, truncated to 32 bits where the chip's arithmetic wraps. The tests
// drive both with the same register writes and require the same samples, bit for bit.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace sidtune::test {

class ReferenceSid {
  public:
    explicit ReferenceSid(const std::array<int32_t, 16>& attack, const std::array<int32_t, 16>& decayRelease)
        : attackSteps(attack), decayReleaseSteps(decayRelease) {
        for (auto& v : voice) v.noise = 0xFFFFFF;
    }

    void write(int index, uint8_t value) {
        int v = 0;
        if (index >= 7 && index <= 13)
            v = 1, index -= 7;
        else if (index >= 14 && index <= 20)
            v = 2, index -= 14;
        if (index > 24) return;
        if (index <= 6) {
            reg[v * 7 + index] = value;
            if (index == 4) {
                if ((value & 1) == 0)
                    voice[v].state = 3;
                else if (voice[v].state == 3)
                    voice[v].state = 0;
            }
        } else {
            reg[21 + (index - 21)] = value;
        }
    }

    // Voices left out of the mix: bit v for voice v + 1.
    void mute(int mask) { muted = mask; }

    void render(std::vector<int16_t>& out, uint32_t count) {
        // Latch.
        for (int v = 0; v < 3; ++v) {
            const uint8_t* r = &reg[v * 7];
            Voice& s = voice[v];
            s.step = uint32_t((r[0] | r[1] << 8) * 359);
            s.threshold = uint32_t(((r[2] | r[3] << 8) & 0xFFF) << 16);
            s.control = r[4];
            s.filtered = (reg[23] >> v) & 1;
            s.attack = attackSteps[r[5] >> 4];
            s.decay = decayReleaseSteps[r[5] & 15];
            s.sustain = r[6] & 0xF0;
            s.release = decayReleaseSteps[r[6] & 15];
        }
        int64_t coefficient = int64_t((reg[22] << 3) | (reg[21] & 7)) * 32;
        if (coefficient > 65536) coefficient = 65536;
        const int lp = reg[24] >> 4 & 1, bp = reg[24] >> 5 & 1, hp = reg[24] >> 6 & 1,
                  v3 = !(reg[24] >> 7 & 1);
        const int64_t volume = reg[24] & 15;
        const int64_t damping = (78643 - 2621 * int64_t(reg[23] >> 4)) >> 8;

        for (uint32_t j = 0; j < count; ++j) {
            int64_t direct = 0, filtered = 0;
            for (int k = 0; k < 3; ++k) {
                Voice& s = voice[k];
                const Voice& src = voice[(k + 2) % 3];
                s.phase = (s.phase + s.step) % (1u << 28);
                if (s.control & 8) s.phase = 0, s.mark = 0, s.noise = 0xFFFFFF;
                if ((s.control & 2) && src.phase < src.step) {
                    s.phase = uint32_t(uint64_t(src.phase) * s.step / src.step);
                }
                const uint32_t p = s.phase;
                int t = (p >> 19) & 0xFF;
                if (p >= (1u << 27)) t = 255 - t;
                const int saw = (p >> 20) & 0xFF;
                const int pulse = p <= s.threshold ? 0xFF : 0;
                if ((p >> 23) != s.mark) {
                    s.mark = p >> 23;
                    const uint32_t bit = ((s.noise >> 22) & 1) ^ ((s.noise >> 17) & 1);
                    s.noise = (s.noise << 1) | bit;
                    const int taps[8] = {22, 20, 16, 13, 11, 7, 4, 2};
                    s.noiseOut = 0;
                    for (int b = 0; b < 8; ++b) s.noiseOut = s.noiseOut << 1 | ((s.noise >> taps[b]) & 1);
                }
                if ((s.control & 4) && src.phase < (1u << 27)) t = 255 - t;
                int w = 0xFF;
                if (s.control & 0x10) w = t;
                if (s.control & 0x20) w &= saw;
                if (s.control & 0x40) w &= pulse;
                if (s.control & 0x80) w &= s.noiseOut;
                const int64_t sustainLevel = int64_t(s.sustain) * 65536;
                if (s.state == 0) {
                    s.env += s.attack;
                    if (s.env >= 0xFFFFFF) s.env = 0xFFFFFF, s.state = 1;
                } else if (s.state == 1) {
                    s.env -= s.decay;
                    if (s.env <= sustainLevel) s.env = sustainLevel, s.state = 2;
                } else if (s.state == 2) {
                    if (s.env != sustainLevel) s.state = 1;
                } else {
                    s.env -= s.release;
                    if (s.env < 0x40000) s.env = 0x40000;
                }
                if ((k < 2 || v3) && !(muted >> k & 1)) {
                    const int64_t o = floorShift((w - 128) * s.env, 22);
                    (s.filtered ? filtered : direct) += o;
                }
            }
            highPass = wrap32(filtered * 65536 - floorShift(bandPass, 8) * damping - lowPass);
            bandPass = wrap32(bandPass + floorShift(highPass, 8) * (coefficient >> 8));
            lowPass = wrap32(lowPass + floorShift(bandPass, 8) * (coefficient >> 8));
            int64_t mix = direct;
            if (lp) mix += floorShift(lowPass, 16);
            if (bp) mix += floorShift(bandPass, 16);
            if (hp) mix += floorShift(highPass, 16);
            mix *= volume;
            out.push_back(int16_t(uint16_t(floorShift(mix, 2) & 0xFFFF)));
        }
    }

  private:
    struct Voice {
        uint32_t step = 0, threshold = 0, phase = 0, mark = 0, noise = 0;
        int control = 0, filtered = 0, noiseOut = 0, state = 0;
        int64_t attack = 0, decay = 0, sustain = 0, release = 0, env = 0;
    };
    static int64_t floorShift(int64_t v, int bits) {
        return v >= 0 ? v >> bits : -((-v + (int64_t(1) << bits) - 1) >> bits);
    }
    static int64_t wrap32(int64_t v) { return int64_t(int32_t(uint32_t(uint64_t(v)))); }

    std::array<int32_t, 16> attackSteps, decayReleaseSteps;
    std::array<uint8_t, 25> reg{};
    std::array<Voice, 3> voice{};
    int64_t highPass = 0, bandPass = 0, lowPass = 0;
    int muted = 0;
};

}  // namespace sidtune::test
