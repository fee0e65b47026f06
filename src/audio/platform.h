// The audio platform layer: the few calls of a DirectSound-shaped audio API that the engine uses,
// each mapping one-to-one onto a DirectSound 8 or Win32 call. The audio output (audio_output.cpp) is
// written once over these; each platform supplies them:
//
//   platform_linux.cpp   Linux: a software one-second buffer, played by PulseAudio's client or SDL2
//   platform_dsound.cpp  Windows: DirectSound 8 and Win32 events and threads
//   tests/sim/           the tests: no device, a play position moved by the test, failure switches
//
// The two platforms without DirectSound share the software buffer (software_stream.h), its buffer
// calls (software_platform.h) and events and threads on the standard library (std_events.h).
//
// Results are 0 for success and nonzero for failure, as HRESULTs are: this layer keeps the
// convention of the API it mirrors, while the code above it answers bool or an enum class. Objects are
// opaque; a buffer obtained through queryBuffer8 or queryNotify holds a reference of its own and is released
// on its own, as COM interfaces are.
#pragma once

#include <cstdint>

namespace sidtune::platform {

struct Device;  // IDirectSound8
struct Buffer;  // IDirectSoundBuffer / IDirectSoundBuffer8
struct Notify;  // IDirectSoundNotify
struct Event;   // a Win32 auto-reset event
struct Thread;  // a Win32 thread

struct WaveFormat {  // WAVEFORMATEX, PCM
    uint16_t formatTag;
    uint16_t channels;
    uint32_t samplesPerSec;
    uint32_t avgBytesPerSec;
    uint16_t blockAlign;
    uint16_t bitsPerSample;
    bool operator==(const WaveFormat&) const = default;
};

struct PositionNotify {  // DSBPOSITIONNOTIFY
    uint32_t offset;
    Event* event;
};

constexpr uint32_t kOffsetStop = 0xFFFFFFFF;        // DSBPN_OFFSETSTOP: signalled when the buffer stops
constexpr uint32_t kLockEntireBuffer = 0x00000002;  // DSBLOCK_ENTIREBUFFER
constexpr int32_t kVolumeMin = -10000;              // DSBVOLUME_MIN, hundredths of a decibel: silence
constexpr int32_t kVolumeMax = 0;                   // DSBVOLUME_MAX: unchanged
constexpr uint32_t kStatusPlaying = 0x1;            // DSBSTATUS_PLAYING
constexpr uint32_t kStatusBufferLost = 0x2;         // DSBSTATUS_BUFFERLOST: the device is gone
constexpr uint32_t kWaitForever = 0xFFFFFFFF;       // INFINITE
constexpr int kWaitTimedOut = -2;                   // WAIT_TIMEOUT, as waitForAny answers it

void* desktopWindow();                                     // GetDesktopWindow
int createDevice(Device** device);                         // DirectSoundCreate8
int setCooperativeLevel(Device* device, void* window);     // DSSCL_PRIORITY
int getCaps(Device* device);                               // GetCaps
int createPrimaryBuffer(Device* device, Buffer** buffer);  // DSBCAPS_PRIMARYBUFFER
int createStreamBuffer(Device* device, const WaveFormat& format, uint32_t bytes, Buffer** buffer);  // 0x81CA
int queryBuffer8(Buffer* buffer, Buffer** buffer8);  // IID_IDirectSoundBuffer8
int queryNotify(Buffer* buffer8, Notify** notify);   // IID_IDirectSoundNotify
int setFormat(Buffer* primary, const WaveFormat& format);
int play(Buffer* buffer);  // looping
int stop(Buffer* buffer);
int lock(Buffer* buffer, uint32_t offset, uint32_t bytes, void** region1, uint32_t* bytes1, void** region2,
         uint32_t* bytes2, uint32_t flags);
int unlock(Buffer* buffer, void* region1, uint32_t bytes1, void* region2, uint32_t bytes2);
int setVolume(Buffer* buffer, int32_t hundredthsOfDecibel);
int getPosition(Buffer* buffer, uint32_t* playPosition);  // GetCurrentPosition: the play position
int getStatus(Buffer* buffer, uint32_t* status);          // GetStatus: kStatusPlaying, kStatusBufferLost
// Bytes between the play position and the sample being heard: what a device that takes samples
// ahead (a sound server's client) holds and has not yet played. DirectSound reports none of it:
// there it is what the device is known to hold (platform_dsound.cpp).
int getLatency(Buffer* buffer, uint32_t* bytes);
// Bytes between the sample being heard and the first sample that a volume set now reaches: none
// where the volume is applied as the sound is heard (a sound server that takes back what it mixed
// ahead), the latency where it is applied as the device takes the samples, and on DirectSound what
// the mixer takes ahead of the play cursor as well.
int getVolumeLatency(Buffer* buffer, uint32_t* bytes);
// Bytes before the play position that the device has taken and can still take again as the buffer
// holds them now: what a sound server holds and has not yet played, less what it may be about to
// play. None on DirectSound, where what the mixer has taken is what plays.
int getRetakable(Buffer* buffer, uint32_t* bytes);
// The device takes again what it took from buffer offset `offset` up to the play position (at
// most what getRetakable gave), as the buffer holds it now; the play position stays where it is.
int retakeFrom(Buffer* buffer, uint32_t offset);
int setNotificationPositions(Notify* notify, uint32_t count, const PositionNotify* positions);
void release(Buffer* buffer);
void release(Notify* notify);
void release(Device* device);
// Waits until every released object is gone for good. Release is immediate in DirectSound and the
// simulation; SDL2 devices close later, on a thread (see sdl_output.cpp). Called before the
// library may be unloaded.
void finishReleases();
// The library is being unloaded with the player not ended first (a host's FreeLibrary without the
// plugin's unload, which runs under Windows' loader lock): from now on a thread is waited for only
// until it has left the library's code, and the device's objects are let go unreleased, as their
// release would wait for the device's own thread, which cannot end while the lock is held. Nothing
// to do where no loader lock is held.
void unloadingWithoutUnload();

Event* createEvent();  // auto-reset, not signalled, no name; null on failure
void setEvent(Event* event);
// Waits until one of the events is signalled, at most `milliseconds` (kWaitForever: no limit);
// returns the lowest signalled index and resets only that event (WaitForMultipleObjects, not
// waiting for all), kWaitTimedOut when the time ran out first, -1 on failure.
int waitForAny(Event* const* events, uint32_t count, uint32_t milliseconds = kWaitForever);
Thread* createThread(int (*entry)(void*),
                     void* argument);  // entry(argument), running at once; null on failure
void waitForThread(Thread* thread);    // WaitForSingleObject(thread, INFINITE)
void closeHandle(Event* event);
void closeHandle(Thread* thread);

}  // namespace sidtune::platform
