// The platform operations on buffers and notification interfaces, written once for the platforms
// whose stream is a software buffer (software_stream.h): Linux (played by PulseAudio's client or
// SDL2), and the simulated platform of the tests. Such a platform defines its Device, its events and threads
// and the device calls; the buffer and notification calls of platform.h (createPrimaryBuffer to
// release(Notify)) are defined here, as DirectSound behaves:
//
//   - a buffer is reference-counted: queryBuffer8 and queryNotify each take a reference, and the
//     buffer is gone when the last is released;
//   - the stream buffer accepts only the system's stream format (audio_format.h), the primary
//     buffer only a format at the stream's rate, so the device never resamples;
//   - notification positions can be set only while the buffer is stopped;
//   - the play position is where the device takes the samples from, and the latency what it holds
//     of them not yet heard; a buffer whose device is gone is lost.
//
// Each software platform supplies the hooks in `software`, which these operations call.
#pragma once

#include <cstdint>

#include "audio/platform.h"
#include "audio/software_stream.h"

namespace sidtune::platform {

struct Buffer {
    Device* device = nullptr;
    bool primary = false;
    int references = 1;
    SoftwareStream stream;  // the stream buffer's samples; unused in the primary buffer
};

struct Notify {
    Buffer* buffer;
};

// The buffer calls, as the hooks see them.
enum class BufferCall {
    CreatePrimaryBuffer,
    CreateStreamBuffer,
    QueryBuffer8,
    QueryNotify,
    SetFormat,
    Play,
    Stop,
    Lock,
    Unlock,
    SetVolume,
    GetPosition,
    GetStatus,
    GetLatency,
    GetVolumeLatency,
    GetRetakable,
    RetakeFrom,
    SetNotificationPositions,
    Release,
    ReleaseNotify,
};

namespace software {

// Supplied by each software platform.
//
// Called first by every buffer call, with the buffer it acts on (null for the creations) and, for
// Lock and Unlock, the offset and whether the whole buffer is meant: nonzero makes the call fail.
// The simulation logs each call here and applies its failure switches.
int beforeCall(BufferCall call, const Buffer* buffer, uint32_t offset = 0, bool entireBuffer = false);
// A buffer has been created (its device, kind and samples set) or is about to be deleted.
void bufferCreated(Buffer* buffer);
void bufferDeleted(Buffer* buffer);
void notifyCreated(Notify* notify);
void notifyDeleted(Notify* notify);
// The primary buffer starts playing: the device starts pulling samples.
int primaryPlays(Buffer* primary);
// The stream buffer starts or stops playing (the stream itself has started before this, and stops
// after it).
void streamPlays(Buffer* stream, bool on);
// A volume for the stream buffer: true when the platform applies it itself; otherwise the stream
// applies it to the samples it hands out.
bool volumeApplied(Buffer* stream, int32_t hundredthsOfDecibel);
// Bytes of the stream that the device has taken but not yet played (getLatency).
uint32_t bytesNotYetHeard(Buffer* stream);
// Bytes between the sample heard and the first a volume set now reaches (getVolumeLatency).
uint32_t bytesBeforeVolumeIsHeard(Buffer* stream);
// Bytes before the play position the device can take again (getRetakable), and taking them again
// from an offset (retakeFrom): false when it cannot.
uint32_t bytesRetakable(Buffer* stream);
bool retakeFrom(Buffer* stream, uint32_t offset);
// Whether the device the stream plays on is gone (its server died, it was unplugged).
bool outputLost(Buffer* stream);

}  // namespace software
}  // namespace sidtune::platform
