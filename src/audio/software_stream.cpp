#include "audio/software_stream.h"

#include <cmath>
#include <cstring>

namespace sidtune::platform {

int softwareLock(SoftwareStream& s, uint32_t offset, uint32_t bytes, void** region1, uint32_t* bytes1,
                 void** region2, uint32_t* bytes2, uint32_t flags) {
    const uint32_t size = uint32_t(s.data.size());
    if (flags & kLockEntireBuffer) {
        offset = 0;
        bytes = size;
    }
    if (offset >= size || bytes > size || bytes == 0) return 1;
    // A range that runs past the end continues at the start, as a second region.
    const uint32_t first = bytes < size - offset ? bytes : size - offset;
    *region1 = s.data.data() + offset;
    *bytes1 = first;
    if (region2 != nullptr) *region2 = first < bytes ? s.data.data() : nullptr;
    if (bytes2 != nullptr) *bytes2 = bytes - first;
    return 0;
}

void softwareUnlock(SoftwareStream& s) { std::lock_guard<std::mutex> guard(s.mutex); }

void softwarePlay(SoftwareStream& s) {
    std::lock_guard<std::mutex> guard(s.mutex);
    if (s.playing) return;
    s.playing = true;
    // Starting reaches the current position at once: a notification there fires now.
    for (const PositionNotify& n : s.notifications) {
        if (n.offset == s.position) setEvent(n.event);
    }
}

void softwareStop(SoftwareStream& s) {
    std::lock_guard<std::mutex> guard(s.mutex);
    // Only a buffer that was playing stops, and only then is the stop notification sent (its
    // event may be closed already when a stopped buffer is stopped again before its release).
    if (!s.playing) return;
    s.playing = false;
    for (const PositionNotify& n : s.notifications) {
        if (n.offset == kOffsetStop) setEvent(n.event);
    }
}

uint32_t softwarePosition(SoftwareStream& s) {
    std::lock_guard<std::mutex> guard(s.mutex);
    return s.position;
}

uint32_t softwareTakenSince(SoftwareStream& s, uint32_t offset) {
    std::lock_guard<std::mutex> guard(s.mutex);
    const uint32_t size = uint32_t(s.data.size());
    return size == 0 || offset >= size ? 0 : (s.position + size - offset) % size;
}

void softwareMoveBack(SoftwareStream& s, uint32_t offset) {
    std::lock_guard<std::mutex> guard(s.mutex);
    if (offset < s.data.size()) s.position = offset;
}

bool softwarePlaying(SoftwareStream& s) {
    std::lock_guard<std::mutex> guard(s.mutex);
    return s.playing;
}

int softwareSetNotifications(SoftwareStream& s, uint32_t count, const PositionNotify* positions) {
    std::lock_guard<std::mutex> guard(s.mutex);
    if (s.playing) return 1;  // as DirectSound: only while stopped
    for (uint32_t i = 0; i < count; ++i) {
        if (positions[i].event == nullptr) return 1;
        if (positions[i].offset != kOffsetStop && positions[i].offset >= s.data.size()) return 1;
    }
    s.notifications.assign(positions, positions + count);
    return 0;
}

void pull(SoftwareStream& s, uint8_t* out, uint32_t bytes) {
    std::lock_guard<std::mutex> guard(s.mutex);
    const uint32_t size = uint32_t(s.data.size());
    if (!s.playing || size == 0) {
        std::memset(out, 0, bytes);
        return;
    }
    // The attenuation as a gain in 1/65536: 0 leaves the samples as they are, -10000 is silence,
    // and the steps between follow the decibel scale.
    const int32_t volume = s.volume.load(std::memory_order_relaxed);
    const int64_t gain = volume >= kVolumeMax   ? 65536
                         : volume <= kVolumeMin ? 0
                                                : std::llround(65536.0 * std::pow(10.0, volume / 2000.0));
    while (bytes != 0) {
        const uint32_t chunk = bytes < size - s.position ? bytes : size - s.position;
        const uint8_t* from = s.data.data() + s.position;
        if (gain == 65536) {
            std::memcpy(out, from, chunk);
        } else {
            for (uint32_t i = 0; i + 1 < chunk; i += 2) {
                const int16_t sample = int16_t(uint16_t(from[i] | from[i + 1] << 8));
                const int16_t scaled = int16_t((sample * gain + 32768) >> 16);
                out[i] = uint8_t(uint16_t(scaled));
                out[i + 1] = uint8_t(uint16_t(scaled) >> 8);
            }
        }
        // Every notification offset passed, the end of the buffer being offset 0 again.
        const uint32_t start = s.position;
        const uint32_t end = start + chunk;
        for (const PositionNotify& n : s.notifications) {
            if (n.offset == kOffsetStop) continue;
            const uint32_t lagged = (n.offset + s.notifyLag) % size;
            const uint32_t at = lagged == 0 ? size : lagged;
            if (at > start && at <= end) setEvent(n.event);
        }
        s.position = end == size ? 0 : end;
        out += chunk;
        bytes -= chunk;
    }
}

}  // namespace sidtune::platform
