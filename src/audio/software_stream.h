// A software stream buffer with the behaviour of a DirectSound one: a looping buffer with a play
// position, notification events at offsets and at stop, Lock/Unlock of a range, and a volume in
// hundredths of a decibel. On Linux the sound output pulls from it (PulseAudio's write callback or
// SDL's audio callback); the simulated platform of the tests moves its position by hand.
//
//   pull(stream, out, bytes)   copies the next bytes from the play position (with the volume
//                              applied) and signals the events whose offsets it passes
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "audio/platform.h"

namespace sidtune::platform {

struct SoftwareStream {
    std::vector<uint8_t> data;
    uint32_t position = 0;  // bytes; moved only by pull
    bool playing = false;
    std::atomic<int32_t> volume{kVolumeMax};
    std::vector<PositionNotify> notifications;
    // Bytes past its offset a position notification is raised (not at a start, nor the stop's): a
    // sound output that holds much beyond what it pulled has the half refilled that much later,
    // so that what is made ahead of the listener stays within the buffer's length (a change can
    // reach what the buffer still holds, and no further). 0: at the offset, as DirectSound does.
    uint32_t notifyLag = 0;
    // Held while pull reads the buffer and, briefly, by unlock: what the worker wrote between
    // lock and unlock is then visible to every later pull.
    std::mutex mutex;
};

int softwareLock(SoftwareStream& s, uint32_t offset, uint32_t bytes, void** region1, uint32_t* bytes1,
                 void** region2, uint32_t* bytes2, uint32_t flags);
void softwareUnlock(SoftwareStream& s);
void softwarePlay(SoftwareStream& s);
void softwareStop(SoftwareStream& s);
uint32_t softwarePosition(SoftwareStream& s);
// Bytes taken from `offset` up to the play position.
uint32_t softwareTakenSince(SoftwareStream& s, uint32_t offset);
// The play position moved back to `offset`, for what was taken from there to be taken again.
void softwareMoveBack(SoftwareStream& s, uint32_t offset);
bool softwarePlaying(SoftwareStream& s);
int softwareSetNotifications(SoftwareStream& s, uint32_t count, const PositionNotify* positions);
// Copies `bytes` bytes (16-bit samples) from the play position into `out`, silence when not
// playing, and signals the events of the offsets passed.
void pull(SoftwareStream& s, uint8_t* out, uint32_t bytes);

}  // namespace sidtune::platform
