#include "audio/volume.h"

#include <cmath>

#include "audio/audio_output.h"

namespace sidtune {
namespace {

int32_t volumeStep(float value) {
    if (!(value >= 0.0f)) value = 0.0f;  // negative, or NaN: silence
    if (value > 1.0f) value = 1.0f;
    // 127 times a float is exact in a double; rounding it to a float first would move some
    // values to the next step.
    return int32_t(std::floor(127.0 * double(value)));
}

int32_t attenuationOfStep(int32_t step) {
    // 20 dB per decade of amplitude, in hundredths: every halving of the step is about -6 dB.
    return step == 0 ? platform::kVolumeMin : int32_t(std::lround(2000.0 * std::log10(step * (1.0 / 127.0))));
}

}  // namespace

void applyVolume(AudioOutput& a, float value) { applyVolumeStep(a, volumeStep(value)); }

void applyVolumeStep(AudioOutput& a, int32_t step) {
    if (uint32_t(step) > 127) return;
    if (a.streamBuffer != nullptr) platform::setVolume(a.streamBuffer, attenuationOfStep(step));
}

}  // namespace sidtune
