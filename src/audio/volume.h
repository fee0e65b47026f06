// The volume of the audio output: a value from 0.0 (silence) to 1.0 (full), on 128 steps of a
// decibel scale, applied as the stream buffer's attenuation in hundredths of a decibel.
//
//   applyVolume(a, value)      limits the value to 0.0-1.0 (NaN: silence) and applies its step,
//                              floor(127 x value)
//   applyVolumeStep(a, step)   0-127 (anything else is ignored): 20 dB per decade of the step's
//                              amplitude, step / 127, in hundredths of a decibel; step 0 is the
//                              platform's silence
#pragma once

#include <cstdint>

namespace sidtune {

struct AudioOutput;

void applyVolume(AudioOutput& a, float value);
void applyVolumeStep(AudioOutput& a, int32_t step);

}  // namespace sidtune
