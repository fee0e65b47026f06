#include "audio/audio_engine.h"

#include <cmath>
#include <cstring>
#include <mutex>

#include "audio/render_block.h"
#include "engine/engine_state.h"
#include "engine/song.h"

namespace sidtune {

int setUpEngine(EngineState& e) {
    resetMachine(e, kSampleRate);
    // The plugin has no window of its own: the desktop's serves the cooperative level.
    if (openAudioDevice(e, platform::desktopWindow()) != 0 || createStream(e, kStreamFormat) != 0) {
        // Nobody else would release what a failed set-up had already created.
        shutDownEngine(e);
        return 1;
    }
    return 0;
}

int shutDownEngine(EngineState& e) {
    closeAudioDevice(e);
    return 0;
}

namespace {

// The worker thread's entry: the engine that set it up.
int runWorker(void* engineState) { return streamThread(*static_cast<EngineState*>(engineState)); }

}  // namespace

int openAudioDevice(EngineState& e, void* window) {
    AudioStream& a = e.audio;
    if (platform::createDevice(&a.device) != 0 || a.device == nullptr) return 1;
    if (platform::setCooperativeLevel(a.device, window) != 0) return 1;
    if (platform::getCaps(a.device) != 0) return 1;
    if (platform::createPrimaryBuffer(a.device, &a.primaryBuffer) != 0 || a.primaryBuffer == nullptr)
        return 1;
    if (platform::setFormat(a.primaryBuffer, kPrimaryFormat) != 0) return 1;
    // The primary buffer plays from here until the device is closed, so the platform mixes at
    // the stream's own rate.
    return platform::play(a.primaryBuffer) != 0 ? 1 : 0;
}

int createStream(EngineState& e, const platform::WaveFormat& format) {
    AudioStream& a = e.audio;
    a.bufferBytes = uint32_t(format.bitsPerSample / 8) * format.channels * format.samplesPerSec;

    platform::Buffer* temporary = nullptr;
    if (platform::createStreamBuffer(a.device, format, a.bufferBytes, &temporary) != 0 ||
        temporary == nullptr) {
        return 1;
    }
    platform::queryBuffer8(temporary, &a.streamBuffer);
    platform::release(temporary);  // the buffer lives on through streamBuffer
    if (a.streamBuffer == nullptr) return 1;
    if (platform::queryNotify(a.streamBuffer, &a.notify) != 0 || a.notify == nullptr) return 1;

    for (platform::Event*& event : a.events) event = platform::createEvent();
    // Nothing may later wait on an event that was never obtained.
    for (platform::Event* event : a.events) {
        if (event == nullptr) return 1;
    }
    const platform::PositionNotify positions[3] = {
        {0, a.events[kWrapEvent]},
        {a.bufferBytes / 2, a.events[kMiddleEvent]},
        {platform::kOffsetStop, a.events[kStopEvent]},
    };
    if (platform::setNotificationPositions(a.notify, 3, positions) != 0) return 1;

    // Silence in the whole buffer before anything plays.
    void* region1 = nullptr;
    void* region2 = nullptr;
    uint32_t bytes1 = 0, bytes2 = 0;
    if (platform::lock(a.streamBuffer, 0, a.bufferBytes, &region1, &bytes1, &region2, &bytes2,
                       platform::kLockEntireBuffer) != 0 ||
        region1 == nullptr) {
        return 1;
    }
    std::memset(region1, 0, bytes1 < a.bufferBytes ? bytes1 : a.bufferBytes);
    platform::unlock(a.streamBuffer, region1, bytes1, region2, bytes2);

    // Last: the worker, which waits until the stream plays.
    a.thread = platform::createThread(runWorker, &e);
    return a.thread == nullptr ? 1 : 0;
}

namespace {

// Stops a buffer, releases it and forgets it, if there is one.
void stopAndRelease(platform::Buffer*& buffer) {
    if (buffer == nullptr) return;
    platform::stop(buffer);
    platform::release(buffer);
    buffer = nullptr;
}

}  // namespace

void destroyStream(EngineState& e) {
    AudioStream& a = e.audio;
    if (a.events[kStopEvent] != nullptr) {
        if (a.streamBuffer != nullptr) platform::stop(a.streamBuffer);
        // This stop ends the worker, also when a pause's stop notification has not been taken yet.
        a.pausePending = false;
        platform::setEvent(a.events[kStopEvent]);
        // The worker finishes a half it is filling, then ends; only then is anything closed.
        if (a.thread != nullptr) platform::waitForThread(a.thread);
    }
    if (a.thread != nullptr) platform::closeHandle(a.thread);
    a.thread = nullptr;
    for (platform::Event*& event : a.events) {
        if (event != nullptr) platform::closeHandle(event);
        event = nullptr;
    }
    stopAndRelease(a.streamBuffer);
    if (a.notify != nullptr) {
        platform::release(a.notify);
        a.notify = nullptr;
    }
}

void closeAudioDevice(EngineState& e) {
    AudioStream& a = e.audio;
    destroyStream(e);
    stopAndRelease(a.primaryBuffer);
    if (a.device != nullptr) {
        platform::release(a.device);
        a.device = nullptr;
    }
    a.bufferBytes = 0;
}

void setStreamPlaying(EngineState& e, int on) {
    platform::Buffer* buffer = e.audio.streamBuffer;
    if (buffer == nullptr) return;
    if (on) {
        platform::play(buffer);
    } else {
        platform::stop(buffer);
    }
}

void pauseStream(EngineState& e) {
    AudioStream& a = e.audio;
    if (a.streamBuffer == nullptr) return;
    a.pausePending = true;
    platform::stop(a.streamBuffer);  // the buffer keeps its play position
}

void resumeStream(EngineState& e) {
    AudioStream& a = e.audio;
    if (a.streamBuffer == nullptr) return;
    a.resumed = true;
    platform::play(a.streamBuffer);
}

int streamThread(EngineState& e) {
    AudioStream& a = e.audio;
    const uint32_t half = a.bufferBytes / 2;
    // The play position passes offset 0 and the middle in turn, and each pass refills one half:
    // an event for the half refilled last is no new pass. Playing again after a pause can raise
    // one (the software stream notifies a position it starts on; Wine's DirectSound notifies
    // offset 0 whenever a buffer starts), and refilling for it would skip a block. The stream
    // starts at offset 0: the first refill is the second half's.
    int lastRefill = kMiddleEvent;
    for (;;) {
        // When several events are pending the lowest index comes first: a half is refilled
        // before a stop that came with it ends the thread.
        const int index = platform::waitForAny(a.events, 3);
        if (index == kStopEvent) {
            if (a.pausePending.exchange(false)) continue;  // a pause: the song goes on later
            return 0;
        }
        if ((index != kWrapEvent && index != kMiddleEvent) || index == lastRefill) continue;
        // The position reached 0: the second half has played; it reached the middle: the first.
        const uint32_t offset = index == kWrapEvent ? half : 0;
        // The first refill after a resume must not be of the half the position is in: that half
        // is being heard (an event playing again raised, not a pass).
        if (a.resumed.exchange(false)) {
            uint32_t position = 0;
            if (platform::getPosition(a.streamBuffer, &position) == 0 &&
                (position >= half) == (offset == half)) {
                continue;
            }
        }
        lastRefill = index;
        void* region1 = nullptr;
        void* region2 = nullptr;
        uint32_t bytes1 = 0, bytes2 = 0;
        // A failed lock hands out no memory: the half keeps what it had and is not rendered.
        if (platform::lock(a.streamBuffer, offset, half, &region1, &bytes1, &region2, &bytes2, 0) != 0 ||
            region1 == nullptr) {
            continue;
        }
        {
            // The CPU and the synthesizer are the worker's only while the host's thread is not
            // running an init routine on them.
            std::lock_guard<std::mutex> guard(e.machineLock);
            renderBlock(e, static_cast<int16_t*>(region1), bytes1);
        }
        platform::unlock(a.streamBuffer, region1, bytes1, region2, bytes2);
    }
}

void applyVolume(EngineState& e, float value) {
    if (!(value >= 0.0f)) value = 0.0f;  // negative, or NaN: silence
    if (value > 1.0f) value = 1.0f;
    // 127 times a float is exact in a double; rounding it to a float first would move some
    // values to the next step.
    applyVolumeStep(e, int32_t(std::floor(127.0 * double(value))));
}

void applyVolumeStep(EngineState& e, int32_t step) {
    if (uint32_t(step) > 127) return;
    // 20 dB per decade of amplitude, in hundredths: every halving of the step is about -6 dB.
    const int32_t attenuation =
        step == 0 ? platform::kVolumeMin : int32_t(std::lround(2000.0 * std::log10(step * (1.0 / 127.0))));
    if (e.audio.streamBuffer != nullptr) platform::setVolume(e.audio.streamBuffer, attenuation);
}

}  // namespace sidtune
