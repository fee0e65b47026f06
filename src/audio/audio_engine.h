// The audio side of the engine: the device and the one-second looping stream, the worker thread
// that refills it, and the volume. Written once over the platform layer (platform.h).
//
// Set-up acquires, in this order: the machine reset for 44100 Hz, the device (cooperative level,
// capabilities, the primary buffer at 44100 Hz 16-bit stereo, playing from now on), the stream
// buffer (one second of 16-bit mono, 88200 bytes) with its notification interface, the three
// events, the notification positions (offset 0, the middle, stop), the cleared buffer, and last
// the worker thread, which waits until the stream plays. Shutdown releases in reverse order, each
// object only if it exists, so it is safe on any partial set-up and safe twice.
//
//   setUpEngine()          0 on success; a failed set-up has released what it had created
//   shutDownEngine()       always 0
//   setStreamPlaying(on)   starts the stream looping (the worker then refills it) or stops it
//   streamThread()         the worker: refills the half of the stream that has just played
//   applyVolume(value)     0.0 silence to 1.0 full, on 128 steps of a decibel scale
//   applyVolumeStep(step)  0-127; anything else is ignored
//
//     stream buffer, 88200 bytes:
//     | first half: 22050 samples | second half: 22050 samples |
//     ^ wrapEvent                 ^ middleEvent     (stopEvent: on stop)
//     when the position reaches 0 the second half has just played and is refilled, and so on.
#pragma once

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
};

constexpr int kWrapEvent = 0;
constexpr int kMiddleEvent = 1;
constexpr int kStopEvent = 2;

// 44100 Hz, 16-bit mono for the stream; the primary buffer mixes 16-bit stereo at the same rate.
constexpr platform::WaveFormat kStreamFormat{1, 1, 44100, 88200, 2, 16};
constexpr platform::WaveFormat kPrimaryFormat{1, 2, 44100, 176400, 4, 16};

int setUpEngine();
int shutDownEngine();
int openAudioDevice(void* window);
int createStream(const platform::WaveFormat& format);
void destroyStream();
void closeAudioDevice();
void setStreamPlaying(int on);
int streamThread();

void applyVolume(float value);
void applyVolumeStep(int32_t step);

}  // namespace sidtune
