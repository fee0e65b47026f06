#include "audio/audio_output.h"

#include <cstring>

#include "audio/audio_format.h"

namespace sidtune {
namespace {

int streamThread(AudioOutput& a) {
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
        samplesHeard(a);  // the clock sees every loop of the stream
        void* region1 = nullptr;
        void* region2 = nullptr;
        uint32_t bytes1 = 0, bytes2 = 0;
        // A failed lock hands out no memory: the half keeps what it had and is not rendered.
        if (platform::lock(a.streamBuffer, offset, half, &region1, &bytes1, &region2, &bytes2, 0) != 0 ||
            region1 == nullptr) {
            continue;
        }
        a.source.fill(a.source.context, static_cast<int16_t*>(region1), bytes1 / kBytesPerSample);
        platform::unlock(a.streamBuffer, region1, bytes1, region2, bytes2);
    }
}

// The worker thread's entry: the output that started it.
int runWorker(void* output) { return streamThread(*static_cast<AudioOutput*>(output)); }

bool openAudioDevice(AudioOutput& a, void* window) {
    if (platform::createDevice(&a.device) != 0 || a.device == nullptr) return false;
    if (platform::setCooperativeLevel(a.device, window) != 0) return false;
    if (platform::getCaps(a.device) != 0) return false;
    if (platform::createPrimaryBuffer(a.device, &a.primaryBuffer) != 0 || a.primaryBuffer == nullptr)
        return false;
    if (platform::setFormat(a.primaryBuffer, kPrimaryFormat) != 0) return false;
    // The primary buffer plays from here until the device is closed, so the platform mixes at
    // the stream's own rate.
    return platform::play(a.primaryBuffer) == 0;
}

bool createStream(AudioOutput& a, const platform::WaveFormat& format) {
    a.bufferBytes = uint32_t(format.bitsPerSample / 8) * format.channels * format.samplesPerSec;

    platform::Buffer* temporary = nullptr;
    if (platform::createStreamBuffer(a.device, format, a.bufferBytes, &temporary) != 0 ||
        temporary == nullptr) {
        return false;
    }
    platform::queryBuffer8(temporary, &a.streamBuffer);
    platform::release(temporary);  // the buffer lives on through streamBuffer
    if (a.streamBuffer == nullptr) return false;
    if (platform::queryNotify(a.streamBuffer, &a.notify) != 0 || a.notify == nullptr) return false;

    for (platform::Event*& event : a.events) event = platform::createEvent();
    // Nothing may later wait on an event that was never obtained.
    for (platform::Event* event : a.events) {
        if (event == nullptr) return false;
    }
    const platform::PositionNotify positions[3] = {
        {0, a.events[kWrapEvent]},
        {a.bufferBytes / 2, a.events[kMiddleEvent]},
        {platform::kOffsetStop, a.events[kStopEvent]},
    };
    if (platform::setNotificationPositions(a.notify, 3, positions) != 0) return false;

    // Silence in the whole buffer before anything plays.
    void* region1 = nullptr;
    void* region2 = nullptr;
    uint32_t bytes1 = 0, bytes2 = 0;
    if (platform::lock(a.streamBuffer, 0, a.bufferBytes, &region1, &bytes1, &region2, &bytes2,
                       platform::kLockEntireBuffer) != 0 ||
        region1 == nullptr) {
        return false;
    }
    std::memset(region1, 0, bytes1 < a.bufferBytes ? bytes1 : a.bufferBytes);
    platform::unlock(a.streamBuffer, region1, bytes1, region2, bytes2);

    // Last: the worker, which waits until the stream plays.
    a.thread = platform::createThread(runWorker, &a);
    return a.thread != nullptr;
}

// Stops a buffer, releases it and forgets it, if there is one.
void stopAndRelease(platform::Buffer*& buffer) {
    if (buffer == nullptr) return;
    platform::stop(buffer);
    platform::release(buffer);
    buffer = nullptr;
}

void destroyStream(AudioOutput& a) {
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

void closeAudioDevice(AudioOutput& a) {
    destroyStream(a);
    stopAndRelease(a.primaryBuffer);
    if (a.device != nullptr) {
        platform::release(a.device);
        a.device = nullptr;
    }
    a.bufferBytes = 0;
}

}  // namespace

bool openAudioOutput(AudioOutput& a, BlockSource source) {
    a.source = source;
    resetVolume(a);
    {
        std::lock_guard<std::mutex> guard(a.clockLock);
        a.clockPosition = 0;
        a.clockLoops = 0;
        a.clockHeard = 0;
        a.clockPaused = false;
    }
    // The plugin has no window of its own: the desktop's serves the cooperative level.
    if (!openAudioDevice(a, platform::desktopWindow()) || !createStream(a, kStreamFormat)) {
        // Nobody else would release what a failed opening had already created.
        closeAudioOutput(a);
        return false;
    }
    return true;
}

void closeAudioOutput(AudioOutput& a) {
    resetVolume(a);  // a fade's thread ends before the buffer it sets goes
    closeAudioDevice(a);
}

void setStreamPlaying(AudioOutput& a, bool on) {
    platform::Buffer* buffer = a.streamBuffer;
    if (buffer == nullptr) return;
    if (on) {
        platform::play(buffer);
    } else {
        platform::stop(buffer);
    }
}

void pauseStream(AudioOutput& a) {
    if (a.streamBuffer == nullptr) return;
    // What has been heard stands still from here: a device's count of what it holds may change
    // while it is stopped (a sound server takes back what it had mixed ahead), and a fade made
    // during the pause must not move.
    samplesHeard(a);
    {
        std::lock_guard<std::mutex> guard(a.clockLock);
        a.clockPaused = true;
    }
    a.pausePending = true;
    platform::stop(a.streamBuffer);  // the buffer keeps its play position
}

void resumeStream(AudioOutput& a) {
    if (a.streamBuffer == nullptr) return;
    a.resumed = true;
    platform::play(a.streamBuffer);
    std::lock_guard<std::mutex> guard(a.clockLock);
    a.clockPaused = false;
}

void primeStream(AudioOutput& a) {
    if (a.streamBuffer == nullptr) return;
    void* region1 = nullptr;
    void* region2 = nullptr;
    uint32_t bytes1 = 0, bytes2 = 0;
    if (platform::lock(a.streamBuffer, 0, a.bufferBytes / 2, &region1, &bytes1, &region2, &bytes2, 0) != 0 ||
        region1 == nullptr) {
        return;  // it stays silence
    }
    a.source.fill(a.source.context, static_cast<int16_t*>(region1), bytes1 / kBytesPerSample);
    platform::unlock(a.streamBuffer, region1, bytes1, region2, bytes2);
}

namespace {

// The play position unwrapped, in samples, read under the clock lock: false when it cannot be read
// (nothing open, or paused: then it stands where it was).
bool readPlayPosition(AudioOutput& a, uint64_t& played) {
    uint32_t position = 0;
    if (a.clockPaused || a.streamBuffer == nullptr || a.bufferBytes == 0 ||
        platform::getPosition(a.streamBuffer, &position) != 0)
        return false;
    // Behind the last one read: it passed the end of the loop (it is read at least twice a loop),
    // or, a little behind, the platform's estimate between its steps overshot (no loop).
    if (position < a.clockPosition) {
        if (a.clockPosition - position < a.bufferBytes / 4) {
            position = a.clockPosition;
        } else {
            ++a.clockLoops;
        }
    }
    a.clockPosition = position;
    played = a.clockLoops * (a.bufferBytes / kBytesPerSample) + position / kBytesPerSample;
    return true;
}

}  // namespace

uint64_t samplesTaken(AudioOutput& a) {
    std::lock_guard<std::mutex> guard(a.clockLock);
    uint64_t played = 0;
    if (!readPlayPosition(a, played))
        return a.clockLoops * (a.bufferBytes / kBytesPerSample) + a.clockPosition / kBytesPerSample;
    return played;
}

bool rewriteStream(AudioOutput& a, uint64_t from, uint32_t count, BlockSource source) {
    if (a.streamBuffer == nullptr || a.bufferBytes == 0 || count == 0) return false;
    const uint32_t loop = a.bufferBytes / kBytesPerSample;
    if (count > loop) return false;
    void* region1 = nullptr;
    void* region2 = nullptr;
    uint32_t bytes1 = 0, bytes2 = 0;
    if (platform::lock(a.streamBuffer, uint32_t(from % loop) * kBytesPerSample, count * kBytesPerSample,
                       &region1, &bytes1, &region2, &bytes2, 0) != 0 ||
        region1 == nullptr) {
        return false;
    }
    source.fill(source.context, static_cast<int16_t*>(region1), bytes1 / kBytesPerSample);
    if (region2 != nullptr)
        source.fill(source.context, static_cast<int16_t*>(region2), bytes2 / kBytesPerSample);
    platform::unlock(a.streamBuffer, region1, bytes1, region2, bytes2);
    // What the device took of them is taken again; what it has not is taken as written now.
    if (from < samplesTaken(a)) platform::retakeFrom(a.streamBuffer, uint32_t(from % loop) * kBytesPerSample);
    return true;
}

uint64_t samplesRetakable(AudioOutput& a) {
    uint32_t bytes = 0;
    if (a.streamBuffer == nullptr || platform::getRetakable(a.streamBuffer, &bytes) != 0) return 0;
    return bytes / kBytesPerSample;
}

uint64_t samplesHeard(AudioOutput& a) {
    std::lock_guard<std::mutex> guard(a.clockLock);
    uint64_t played = 0;
    uint32_t latency = 0;
    if (!readPlayPosition(a, played)) return a.clockHeard;
    platform::getLatency(a.streamBuffer, &latency);
    const uint64_t held = latency / kBytesPerSample;
    if (played > held && played - held > a.clockHeard) a.clockHeard = played - held;
    return a.clockHeard;
}

uint64_t volumeLead(AudioOutput& a) {
    uint32_t bytes = 0;
    if (a.streamBuffer == nullptr || platform::getVolumeLatency(a.streamBuffer, &bytes) != 0) return 0;
    return bytes / kBytesPerSample;
}

bool outputLost(AudioOutput& a) {
    uint32_t status = 0;
    if (a.streamBuffer == nullptr) return false;
    return platform::getStatus(a.streamBuffer, &status) != 0 || (status & platform::kStatusBufferLost) != 0;
}

}  // namespace sidtune
