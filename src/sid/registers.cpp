// The register file's latching: the written bytes into the synthesizer's parameters at the start
// of every rendering call (what a write does at once, the gate rule, is inline in sid.h).
#include "sid/sid.h"

namespace sidtune {

void latchParameters(SidChip& chip) {
    const SidRegisters& r = chip.registers;
    for (int v = 0; v < 3; ++v) {
        SidVoice& voice = chip.voices[v];
        const uint32_t f = frequency(r, v);
        voice.phaseStep = f * chip.phaseScale + (f * chip.phaseFraction >> 16);
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

}  // namespace sidtune
