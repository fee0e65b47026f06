// The volume of the audio output: a value from 0.0 (silence) to 1.0 (full), on 128 steps of a
// decibel scale, applied as the stream buffer's attenuation in hundredths of a decibel; and fades.
//
//   volumeLimited(value)           the value limited to 0.0-1.0 (negative or NaN: silence)
//   volumeStep(value)              the step of a value: floor(127 x value), limited
//   applyVolume(a, value)          ends a fade; limits the value to 0.0-1.0 (NaN: silence) and
//                                  applies its step, floor(127 x value)
//   applyVolumeStep(a, step)       0-127 (anything else is ignored): 20 dB per decade of the
//                                  step's amplitude, step / 127, in hundredths of a decibel; step 0
//                                  is the platform's silence
//   fadeVolume(a, to, seconds, thenEnd)
//                                  slides the volume from where it is to `to` over `seconds` of
//                                  what is heard (a paused stream's fade waits for it to play on):
//                                  on the same scale, passing through the values between, a step
//                                  every kFadeStepMilliseconds; it ends on the target's own step.
//                                  0 seconds (or negative, NaN, infinite) is a change at once.
//                                  `thenEnd`: when it is over, the output says so (fadeEnded)
//   endFade(a)                     the volume stays where the fade had got to
//   fadeEnded(a)                   a fade with `thenEnd` has reached its target
//
// A fade is run by a thread of its own, started with the fade and gone when it ends (or with the
// output): an output that never fades has no such thread.
#pragma once

#include <atomic>
#include <cmath>
#include <cstdint>
#include <mutex>

#include "audio/platform.h"

namespace sidtune {

struct AudioOutput;

// Milliseconds between two steps of a fade: each of a one-second fade from full to silence moves
// the amplitude by 1% of full scale, and the platforms mix in steps of about this length.
constexpr uint32_t kFadeStepMilliseconds = 10;

// The volume and its fade, part of AudioOutput. Under `lock` but for the thread's own objects.
struct VolumeState {
    std::mutex lock;
    float value;  // where the volume is, as SetSidVolume's values: 1.0 when the output opens
    bool fading;
    float from, to;
    uint64_t fadeStart;    // the samples heard when it began
    uint64_t fadeSamples;  // its length in samples heard
    bool endWhenDone;
    std::atomic<bool> ended;  // a fade with endWhenDone reached its target
    platform::Thread* thread;
    platform::Event* wake;  // ends the thread's wait at once: a new fade or the end of this one
    bool running;           // the thread has not yet ended
    bool quit;
};

inline float volumeLimited(float value) {
    if (!(value >= 0.0f)) return 0.0f;
    return value > 1.0f ? 1.0f : value;
}
inline int32_t volumeStep(float value) {
    // 127 times a float is exact in a double; rounding it to a float first would move some values
    // to the next step.
    return int32_t(std::floor(127.0 * double(volumeLimited(value))));
}
void applyVolume(AudioOutput& a, float value);
void applyVolumeStep(AudioOutput& a, int32_t step);
void fadeVolume(AudioOutput& a, float to, float seconds, bool thenEnd);
void endFade(AudioOutput& a);
bool fadeEnded(const AudioOutput& a);
// For the output's opening and closing: full volume, no fade, no thread left.
void resetVolume(AudioOutput& a);

}  // namespace sidtune
