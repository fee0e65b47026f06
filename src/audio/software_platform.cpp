#include "audio/software_platform.h"

#include <new>

#include "audio/audio_format.h"

namespace sidtune::platform {
namespace {

Buffer* newBuffer(Device* device, bool primary, uint32_t bytes) {
    Buffer* b = new (std::nothrow) Buffer;
    if (b == nullptr) return nullptr;
    try {
        b->stream.data.assign(bytes, 0);
    } catch (...) {
        delete b;
        return nullptr;
    }
    b->device = device;
    b->primary = primary;
    software::bufferCreated(b);
    return b;
}

void dropReference(Buffer* buffer) {
    if (--buffer->references > 0) return;
    software::bufferDeleted(buffer);
    delete buffer;
}

}  // namespace

int createPrimaryBuffer(Device* device, Buffer** buffer) {
    *buffer = nullptr;
    if (software::beforeCall(BufferCall::CreatePrimaryBuffer, nullptr) != 0) return 1;
    *buffer = newBuffer(device, true, 0);
    return *buffer == nullptr;
}

int createStreamBuffer(Device* device, const WaveFormat& format, uint32_t bytes, Buffer** buffer) {
    *buffer = nullptr;
    if (software::beforeCall(BufferCall::CreateStreamBuffer, nullptr) != 0) return 1;
    // The samples go to the device as they are: the stream's own format, whole samples.
    if (format != kStreamFormat || bytes == 0 || bytes % format.blockAlign != 0) return 1;
    *buffer = newBuffer(device, false, bytes);
    return *buffer == nullptr;
}

int queryBuffer8(Buffer* buffer, Buffer** buffer8) {
    *buffer8 = nullptr;
    if (software::beforeCall(BufferCall::QueryBuffer8, buffer) != 0) return 1;
    ++buffer->references;
    *buffer8 = buffer;
    return 0;
}

int queryNotify(Buffer* buffer8, Notify** notify) {
    *notify = nullptr;
    if (software::beforeCall(BufferCall::QueryNotify, buffer8) != 0) return 1;
    *notify = new (std::nothrow) Notify{buffer8};
    if (*notify == nullptr) return 1;
    ++buffer8->references;
    software::notifyCreated(*notify);
    return 0;
}

int setFormat(Buffer* primary, const WaveFormat& format) {
    if (software::beforeCall(BufferCall::SetFormat, primary) != 0) return 1;
    return !primary->primary || format.samplesPerSec != kSampleRate || format.bitsPerSample != 16;
}

int play(Buffer* buffer) {
    if (software::beforeCall(BufferCall::Play, buffer) != 0) return 1;
    if (buffer->primary) return software::primaryPlays(buffer);
    softwarePlay(buffer->stream);
    software::streamPlays(buffer, true);
    return 0;
}

int stop(Buffer* buffer) {
    software::beforeCall(BufferCall::Stop, buffer);
    // The primary buffer stops only to be released, and the device stops pulling when it is.
    // (Pausing SDL's device first would cost a whole callback period of sleep in its thread.)
    if (!buffer->primary) {
        software::streamPlays(buffer, false);
        softwareStop(buffer->stream);
    }
    return 0;
}

int lock(Buffer* buffer, uint32_t offset, uint32_t bytes, void** region1, uint32_t* bytes1, void** region2,
         uint32_t* bytes2, uint32_t flags) {
    *region1 = nullptr;
    *bytes1 = 0;
    if (region2 != nullptr) *region2 = nullptr;
    if (bytes2 != nullptr) *bytes2 = 0;
    if (software::beforeCall(BufferCall::Lock, buffer, offset, flags & kLockEntireBuffer) != 0) return 1;
    return softwareLock(buffer->stream, offset, bytes, region1, bytes1, region2, bytes2, flags);
}

int unlock(Buffer* buffer, void* region1, uint32_t bytes1, void*, uint32_t) {
    softwareUnlock(buffer->stream);
    const uint32_t offset = uint32_t(static_cast<uint8_t*>(region1) - buffer->stream.data.data());
    software::beforeCall(BufferCall::Unlock, buffer, offset, bytes1 == buffer->stream.data.size());
    return 0;
}

int setVolume(Buffer* buffer, int32_t hundredthsOfDecibel) {
    if (software::beforeCall(BufferCall::SetVolume, buffer) != 0) return 1;
    if (hundredthsOfDecibel > kVolumeMax || hundredthsOfDecibel < kVolumeMin) return 1;
    if (!software::volumeApplied(buffer, hundredthsOfDecibel)) buffer->stream.volume = hundredthsOfDecibel;
    return 0;
}

int getPosition(Buffer* buffer, uint32_t* playPosition) {
    if (software::beforeCall(BufferCall::GetPosition, buffer) != 0) return 1;
    *playPosition = softwarePosition(buffer->stream);
    return 0;
}

int getLatency(Buffer* buffer, uint32_t* bytes) {
    *bytes = 0;
    if (software::beforeCall(BufferCall::GetLatency, buffer) != 0) return 1;
    *bytes = buffer->primary ? 0 : software::bytesNotYetHeard(buffer);
    return 0;
}

int getVolumeLatency(Buffer* buffer, uint32_t* bytes) {
    *bytes = 0;
    if (software::beforeCall(BufferCall::GetVolumeLatency, buffer) != 0) return 1;
    *bytes = buffer->primary ? 0 : software::bytesBeforeVolumeIsHeard(buffer);
    return 0;
}

int getRetakable(Buffer* buffer, uint32_t* bytes) {
    *bytes = 0;
    if (software::beforeCall(BufferCall::GetRetakable, buffer) != 0) return 1;
    *bytes = buffer->primary ? 0 : software::bytesRetakable(buffer);
    return 0;
}

int retakeFrom(Buffer* buffer, uint32_t offset) {
    if (software::beforeCall(BufferCall::RetakeFrom, buffer, offset) != 0 || buffer->primary) return 1;
    return software::retakeFrom(buffer, offset) ? 0 : 1;
}

int getStatus(Buffer* buffer, uint32_t* status) {
    *status = 0;
    if (software::beforeCall(BufferCall::GetStatus, buffer) != 0) return 1;
    if (softwarePlaying(buffer->stream)) *status |= kStatusPlaying;
    if (!buffer->primary && software::outputLost(buffer)) *status |= kStatusBufferLost;
    return 0;
}

int setNotificationPositions(Notify* notify, uint32_t count, const PositionNotify* positions) {
    if (software::beforeCall(BufferCall::SetNotificationPositions, notify->buffer) != 0) return 1;
    return softwareSetNotifications(notify->buffer->stream, count, positions);
}

void release(Buffer* buffer) {
    software::beforeCall(BufferCall::Release, buffer);
    dropReference(buffer);
}

void release(Notify* notify) {
    software::beforeCall(BufferCall::ReleaseNotify, notify->buffer);
    Buffer* buffer = notify->buffer;
    software::notifyDeleted(notify);
    delete notify;
    dropReference(buffer);
}

}  // namespace sidtune::platform
