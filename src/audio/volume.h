// The volume of the audio output: a value from 0.0 (silence) to 1.0 (full), on 128 steps of a
// decibel scale, applied as the stream buffer's attenuation in hundredths of a decibel.
//
//   applyVolume(a, value)      limits the value to 0.0-1.0 (NaN: silence), takes its step
//   applyVolumeStep(a, step)   0-127; anything else is ignored
//   volumeStep(value)          the step of a value: floor(127 x value), after the limits
//   attenuationOfStep(step)    hundredths of a decibel: 20 dB per decade of the step's amplitude,
//                              step / 127; step 0 is the platform's silence
#pragma once

#include <cstdint>

namespace sidtune {

struct AudioOutput;

int32_t volumeStep(float value);
int32_t attenuationOfStep(int32_t step);
void applyVolume(AudioOutput& a, float value);
void applyVolumeStep(AudioOutput& a, int32_t step);

}  // namespace sidtune
