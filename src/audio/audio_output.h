// The audio output: the device and its one-second looping stream, the worker thread that refills
// the stream, and its volume. Written once over the platform layer (platform.h). The output knows
// nothing of tunes or machines: the worker takes each half's samples from the block source it was
// opened with.
//
// Opening acquires, in this order: the device (cooperative level, capabilities, the primary
// buffer in kPrimaryFormat, playing from now on), the stream buffer (one second in kStreamFormat,
// audio_format.h) with its notification interface, the three events, the notification positions
// (offset 0, the middle, stop), the cleared buffer, and last the worker thread, which waits until
// the stream plays. Closing releases in reverse order, each object only if it exists, so it is
// safe on any partial opening and safe twice.
//
//   openAudioOutput(a, source)   true when open; a failed opening has released what it created
//   closeAudioOutput(a)          ends the worker (a half it is filling is finished first), then
//                                releases everything
//   setStreamPlaying(a, on)      starts the stream looping (the worker then refills it) or stops it
//   pauseStream(a)               stops the stream where it is; the worker stays, and no half is lost
//   resumeStream(a)              the stream plays on from where it paused
//   primeStream(a)               before the stream first plays: its first half from the source
//                                (else it is silence, and the source's first block is heard
//                                half a second after the start)
//   samplesHeard(a)              samples of the stream heard since it first played: the play
//                                position unwrapped, less what the device holds not yet heard;
//                                it never goes back, and stands still while the stream is paused
//   samplesTaken(a)              samples of the stream the device has taken: the play position
//                                unwrapped (what it holds not yet heard included)
//   samplesRetakable(a)          samples before samplesTaken that the device can take again
//   rewriteStream(a, from, count, source)
//                                stream samples `from` to `from + count`, already in the buffer,
//                                written again from the source, in order, straight into the
//                                buffer (what the device took of them it takes again, as the
//                                buffer holds them now): false when the buffer could not be locked
//   volumeLead(a)                samples between the one heard and the first a volume set now
//                                reaches
//   outputLost(a)                the device is gone (its server died, it was unplugged)
//
// The worker (streamThread) refills the half of the stream that has just played.
//
//     stream buffer, kStreamBytes:
//     | first half: kBlockSamples | second half: kBlockSamples |
//     ^ wrapEvent                 ^ middleEvent     (stopEvent: on stop)
//     when the position reaches 0 the second half has just played and is refilled, and so on.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "audio/platform.h"
#include "audio/volume.h"

namespace sidtune {

// Where the worker takes the samples of each half it refills: fill(context, samples, count).
struct BlockSource {
    void (*fill)(void* context, int16_t* samples, uint32_t count);
    void* context;
};

// The audio objects of an open output; all null when it is closed.
struct AudioOutput {
    platform::Device* device;
    platform::Buffer* primaryBuffer;
    platform::Buffer* streamBuffer;
    platform::Notify* notify;
    platform::Event* events[3];  // wrapEvent, middleEvent, stopEvent: the worker's wait order
    uint32_t bufferBytes;
    platform::Thread* thread;
    BlockSource source;
    // Set by a pause before it stops the stream: the stop notification that follows is the
    // pause's, and the worker waits on. Cleared by the worker as it takes that notification, and
    // by destroyStream before it ends the worker.
    std::atomic<bool> pausePending;
    // Set by a resume before the stream plays again: the worker checks its next refill against the
    // play position (see streamThread).
    std::atomic<bool> resumed;
    // The clock of what has been heard: the play position, unwrapped. Read by every thread that
    // asks (at least twice a second, by the worker, so no whole loop of the stream goes unseen).
    std::mutex clockLock;
    uint32_t clockPosition;  // bytes, as last read
    uint64_t clockLoops;     // whole loops of the stream played before it
    uint64_t clockHeard;     // samples, as last told
    bool clockPaused;        // the stream is paused: the clock tells clockHeard
    VolumeState volume;
};

constexpr int kWrapEvent = 0;
constexpr int kMiddleEvent = 1;
constexpr int kStopEvent = 2;

bool openAudioOutput(AudioOutput& a, BlockSource source);
void closeAudioOutput(AudioOutput& a);
void setStreamPlaying(AudioOutput& a, bool on);
void pauseStream(AudioOutput& a);
void resumeStream(AudioOutput& a);
void primeStream(AudioOutput& a);
uint64_t samplesHeard(AudioOutput& a);
uint64_t samplesTaken(AudioOutput& a);
uint64_t samplesRetakable(AudioOutput& a);
bool rewriteStream(AudioOutput& a, uint64_t from, uint32_t count, BlockSource source);
uint64_t volumeLead(AudioOutput& a);
bool outputLost(AudioOutput& a);

}  // namespace sidtune
