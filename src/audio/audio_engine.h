// The audio side of an engine: the device and the one-second looping stream, the worker thread
// that refills it, and the volume. Written once over the platform layer (platform.h); each
// operation works on the engine it is handed, whose audio objects live in e.audio.
//
// Set-up acquires, in this order: the machine reset for 44100 Hz, the device (cooperative level,
// capabilities, the primary buffer in kPrimaryFormat, playing from now on), the stream buffer
// (one second in kStreamFormat, audio_format.h) with its notification interface, the three
// events, the notification positions (offset 0, the middle, stop), the cleared buffer, and last
// the worker thread, which waits until the stream plays. Shutdown releases in reverse order, each
// object only if it exists, so it is safe on any partial set-up and safe twice.
//
//   setUpEngine(e)           0 on success; a failed set-up has released what it had created
//   shutDownEngine(e)        always 0
//   setStreamPlaying(e, on)  starts the stream looping (the worker then refills it) or stops it
//   pauseStream(e)           stops the stream where it is; the worker stays, and no half is lost
//   resumeStream(e)          the stream plays on from where it paused
//   streamThread(e)          the worker: refills the half of the stream that has just played
//   applyVolume(e, value)    0.0 silence to 1.0 full, on 128 steps of a decibel scale
//   applyVolumeStep(e, step) 0-127; anything else is ignored
//
//     stream buffer, kStreamBytes:
//     | first half: kBlockSamples | second half: kBlockSamples |
//     ^ wrapEvent                 ^ middleEvent     (stopEvent: on stop)
//     when the position reaches 0 the second half has just played and is refilled, and so on.
#pragma once

#include <atomic>
#include <cstdint>

#include "audio/platform.h"

namespace sidtune {

// The audio objects of an engine that is set up; all null when none is.
struct AudioStream {
    platform::Device* device;
    platform::Buffer* primaryBuffer;
    platform::Buffer* streamBuffer;
    platform::Notify* notify;
    platform::Event* events[3];  // wrapEvent, middleEvent, stopEvent: the worker's wait order
    uint32_t bufferBytes;
    platform::Thread* thread;
    // Set by a pause before it stops the stream: the stop notification that follows is the
    // pause's, and the worker waits on. Cleared by the worker as it takes that notification, and
    // by destroyStream before it ends the worker.
    std::atomic<bool> pausePending;
    // Set by a resume before the stream plays again: the worker checks its next refill against the
    // play position (see streamThread).
    std::atomic<bool> resumed;
};

constexpr int kWrapEvent = 0;
constexpr int kMiddleEvent = 1;
constexpr int kStopEvent = 2;

struct EngineState;

int setUpEngine(EngineState& e);
int shutDownEngine(EngineState& e);
int openAudioDevice(EngineState& e, void* window);
int createStream(EngineState& e, const platform::WaveFormat& format);
void destroyStream(EngineState& e);
void closeAudioDevice(EngineState& e);
void setStreamPlaying(EngineState& e, int on);
void pauseStream(EngineState& e);
void resumeStream(EngineState& e);
int streamThread(EngineState& e);

void applyVolume(EngineState& e, float value);
void applyVolumeStep(EngineState& e, int32_t step);

}  // namespace sidtune
