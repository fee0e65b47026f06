#include "audio/volume.h"

#include <algorithm>
#include <cmath>

#include "audio/audio_format.h"
#include "audio/audio_output.h"

namespace sidtune {
namespace {

// 20 dB per decade of amplitude, in hundredths: every halving of the value is about -6 dB. The
// steps of SetSidVolume are the values step / 127.
int32_t attenuationOf(double value) {
    if (value <= 0.0) return platform::kVolumeMin;
    return std::max(platform::kVolumeMin, int32_t(std::lround(2000.0 * std::log10(value))));
}

int32_t attenuationOfStep(int32_t step) {
    return step == 0 ? platform::kVolumeMin : attenuationOf(step * (1.0 / 127.0));
}

void setAttenuation(AudioOutput& a, int32_t attenuation) {
    if (a.streamBuffer != nullptr) platform::setVolume(a.streamBuffer, attenuation);
}

// One step of the fade, at what has been heard by now; false when the fade is over (or gone).
bool stepFade(AudioOutput& a, uint64_t heard) {
    VolumeState& v = a.volume;
    std::lock_guard<std::mutex> guard(v.lock);
    if (v.quit || !v.fading) return false;
    const uint64_t done = heard > v.fadeStart ? heard - v.fadeStart : 0;
    if (done >= v.fadeSamples) {
        const int32_t step = volumeStep(v.to);
        v.value = float(step) / 127.0f;
        v.fading = false;
        setAttenuation(a, attenuationOfStep(step));
        if (v.endWhenDone) v.ended = true;
        return false;
    }
    v.value = v.from + (v.to - v.from) * float(double(done) / double(v.fadeSamples));
    setAttenuation(a, attenuationOf(v.value));
    return true;
}

int runFade(void* output) {
    AudioOutput& a = *static_cast<AudioOutput*>(output);
    VolumeState& v = a.volume;
    while (stepFade(a, samplesHeard(a))) platform::waitForAny(&v.wake, 1, kFadeStepMilliseconds);
    std::lock_guard<std::mutex> guard(v.lock);
    v.running = false;
    return 0;
}

// Waits for the fade's thread to end, with the fade over or quit, and closes its handle.
void joinFadeThread(VolumeState& v) {
    if (v.thread == nullptr) return;
    platform::setEvent(v.wake);
    platform::waitForThread(v.thread);
    platform::closeHandle(v.thread);
    v.thread = nullptr;
}

}  // namespace

void applyVolume(AudioOutput& a, float value) {
    endFade(a);
    applyVolumeStep(a, volumeStep(value));
}

void applyVolumeStep(AudioOutput& a, int32_t step) {
    if (uint32_t(step) > 127) return;
    std::lock_guard<std::mutex> guard(a.volume.lock);
    a.volume.value = float(step) / 127.0f;
    setAttenuation(a, attenuationOfStep(step));
}

void fadeVolume(AudioOutput& a, float to, float seconds, bool thenEnd) {
    VolumeState& v = a.volume;
    if (!(seconds > 0.0f) || std::isinf(seconds)) {
        applyVolume(a, to);
        if (thenEnd) v.ended = true;
        return;
    }
    if (a.streamBuffer == nullptr) return;
    {
        std::lock_guard<std::mutex> guard(v.lock);
        if (!v.running && v.thread != nullptr) {
            platform::waitForThread(v.thread);  // it has ended, or is just ending
            platform::closeHandle(v.thread);
            v.thread = nullptr;
        }
        v.fading = true;
        v.from = v.value;
        v.to = volumeLimited(to);
        v.fadeStart = samplesHeard(a);
        // A fade longer than any program runs is that long: its length in samples is no number
        // that overflows.
        constexpr double kLongestFade = double(uint64_t(1) << 53);  // samples: some 6000 years
        // A volume set now is heard volumeLead samples later (on DirectSound, once the mixer has
        // taken the samples it reaches): the fade is that much shorter, so that it ends, as
        // heard, when it was asked to.
        const uint64_t length = uint64_t(std::min(double(seconds) * kSampleRate, kLongestFade));
        const uint64_t lead = volumeLead(a);
        v.fadeSamples = length > lead ? length - lead : 1;
        v.endWhenDone = thenEnd;
        v.ended = false;
        if (v.thread != nullptr) {
            platform::setEvent(v.wake);  // the running thread takes the new fade at once
            return;
        }
        if (v.wake == nullptr) v.wake = platform::createEvent();
        v.running = v.wake != nullptr;
        if (v.running) v.thread = platform::createThread(runFade, &a);
        if (v.thread == nullptr) v.running = false;
        if (v.running) return;
        v.fading = false;  // no thread to be had: the target at once
    }
    applyVolume(a, to);
    if (thenEnd) v.ended = true;
}

void endFade(AudioOutput& a) {
    std::lock_guard<std::mutex> guard(a.volume.lock);
    a.volume.fading = false;
}

bool fadeEnded(const AudioOutput& a) { return a.volume.ended.load(); }

void resetVolume(AudioOutput& a) {
    VolumeState& v = a.volume;
    {
        std::lock_guard<std::mutex> guard(v.lock);
        v.quit = true;
    }
    joinFadeThread(v);
    if (v.wake != nullptr) platform::closeHandle(v.wake);
    v.wake = nullptr;
    std::lock_guard<std::mutex> guard(v.lock);
    v.fading = v.quit = v.running = false;
    v.ended = false;
    v.value = 1.0f;
}

}  // namespace sidtune
