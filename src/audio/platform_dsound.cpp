// The audio platform on Windows: DirectSound 8, with Win32 events and threads. Each call maps
// onto the DirectSound or Win32 call of the same name; the objects are the COM interfaces and
// Win32 handles themselves.
#include <dsound.h>
#include <mmsystem.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <new>

#include "audio/audio_format.h"
#include "audio/platform.h"

namespace sidtune::platform {
namespace {

IDirectSound8* ds(Device* d) { return reinterpret_cast<IDirectSound8*>(d); }
IDirectSoundBuffer* buffer(Buffer* b) { return reinterpret_cast<IDirectSoundBuffer*>(b); }
HANDLE handle(Event* e) { return reinterpret_cast<HANDLE>(e); }

WAVEFORMATEX waveFormat(const WaveFormat& f) {
    WAVEFORMATEX w{};
    w.wFormatTag = f.formatTag;
    w.nChannels = f.channels;
    w.nSamplesPerSec = f.samplesPerSec;
    w.nAvgBytesPerSec = f.avgBytesPerSec;
    w.nBlockAlign = f.blockAlign;
    w.wBitsPerSample = f.bitsPerSample;
    return w;
}

int result(HRESULT hr) { return hr == DS_OK ? 0 : 1; }

// Set when the library is unloaded without the plugin's unload (unloadingWithoutUnload): the rest
// of the ending runs under the loader's lock.
std::atomic<bool> unloading{false};

// What a new thread runs: Win32 hands a thread one pointer, so the entry and its argument travel
// together, and the new thread frees them. `left` is set once the entry has returned: while the
// library is being unloaded under the loader's lock, a thread cannot end (ending takes the lock),
// so it says it has left the library's code and waits for the end there (see waitForThread).
struct ThreadStart {
    int (*entry)(void*);
    void* argument;
    HANDLE left;
};

DWORD WINAPI threadEntry(LPVOID start) {
    const ThreadStart s = *static_cast<ThreadStart*>(start);
    delete static_cast<ThreadStart*>(start);
    const DWORD result = DWORD(s.entry(s.argument));
    if (unloading) {
        SetEvent(s.left);
        Sleep(INFINITE);  // until waitForThread ends the thread
    }
    return result;
}

}  // namespace

// A thread: its handle and the event it sets when it leaves the library's code.
struct Thread {
    HANDLE handle;
    HANDLE left;
};

void* desktopWindow() { return GetDesktopWindow(); }

int createDevice(Device** device) {
    IDirectSound8* d = nullptr;
    const HRESULT hr = DirectSoundCreate8(nullptr, &d, nullptr);
    *device = reinterpret_cast<Device*>(hr == DS_OK ? d : nullptr);
    return result(hr);
}

int setCooperativeLevel(Device* device, void* window) {
    return result(ds(device)->SetCooperativeLevel(static_cast<HWND>(window), DSSCL_PRIORITY));
}

int getCaps(Device* device) {
    DSCAPS caps{};
    caps.dwSize = sizeof caps;  // 96
    return result(ds(device)->GetCaps(&caps));
}

// dwSize is the structure's size on each platform: 36 bytes in a 32-bit program (what the Quenbrix
// host passes too), 40 in a 64-bit one, where the pointer to the format is 8 bytes and aligned.
static_assert(sizeof(DSBUFFERDESC) == (sizeof(void*) == 4 ? 36 : 40), "DSBUFFERDESC as DirectSound 8 has it");

int createPrimaryBuffer(Device* device, Buffer** out) {
    DSBUFFERDESC description{};
    description.dwSize = sizeof description;
    description.dwFlags = DSBCAPS_PRIMARYBUFFER;
    IDirectSoundBuffer* b = nullptr;
    const HRESULT hr = ds(device)->CreateSoundBuffer(&description, &b, nullptr);
    *out = reinterpret_cast<Buffer*>(hr == DS_OK ? b : nullptr);
    return result(hr);
}

int createStreamBuffer(Device* device, const WaveFormat& format, uint32_t bytes, Buffer** out) {
    WAVEFORMATEX w = waveFormat(format);
    DSBUFFERDESC description{};
    description.dwSize = sizeof description;
    // 0x81CA: global focus (heard when the host's window is in the background), position
    // notifications, volume, pan, mixed in software, static.
    description.dwFlags = DSBCAPS_GLOBALFOCUS | DSBCAPS_CTRLPOSITIONNOTIFY | DSBCAPS_CTRLVOLUME |
                          DSBCAPS_CTRLPAN | DSBCAPS_LOCSOFTWARE | DSBCAPS_STATIC;
    description.dwBufferBytes = bytes;
    description.lpwfxFormat = &w;
    IDirectSoundBuffer* b = nullptr;
    const HRESULT hr = ds(device)->CreateSoundBuffer(&description, &b, nullptr);
    *out = reinterpret_cast<Buffer*>(hr == DS_OK ? b : nullptr);
    return result(hr);
}

int queryBuffer8(Buffer* b, Buffer** buffer8) {
    void* interface8 = nullptr;
    const HRESULT hr = buffer(b)->QueryInterface(IID_IDirectSoundBuffer8, &interface8);
    *buffer8 = reinterpret_cast<Buffer*>(hr == S_OK ? interface8 : nullptr);
    return result(hr);
}

int queryNotify(Buffer* buffer8, Notify** notify) {
    void* n = nullptr;
    const HRESULT hr = buffer(buffer8)->QueryInterface(IID_IDirectSoundNotify, &n);
    *notify = reinterpret_cast<Notify*>(hr == S_OK ? n : nullptr);
    return result(hr);
}

int setFormat(Buffer* primary, const WaveFormat& format) {
    const WAVEFORMATEX w = waveFormat(format);
    return result(buffer(primary)->SetFormat(&w));
}

int play(Buffer* b) { return result(buffer(b)->Play(0, 0, DSBPLAY_LOOPING)); }

int stop(Buffer* b) { return result(buffer(b)->Stop()); }

int lock(Buffer* b, uint32_t offset, uint32_t bytes, void** region1, uint32_t* bytes1, void** region2,
         uint32_t* bytes2, uint32_t flags) {
    DWORD n1 = 0, n2 = 0;
    const HRESULT hr = buffer(b)->Lock(offset, bytes, region1, &n1, region2, &n2, flags);
    *bytes1 = n1;
    if (bytes2 != nullptr) *bytes2 = n2;
    return result(hr);
}

int unlock(Buffer* b, void* region1, uint32_t bytes1, void* region2, uint32_t bytes2) {
    return result(buffer(b)->Unlock(region1, bytes1, region2, bytes2));
}

int setVolume(Buffer* b, int32_t hundredthsOfDecibel) {
    return result(buffer(b)->SetVolume(hundredthsOfDecibel));
}

namespace {

// DirectSound's play cursor moves a mixing period at a time (10 ms under Wine, a plain DirectSound
// program's the same): between two moves, the position is the cursor plus the time since it last
// moved, up to the length of that move, so that the clock of what is heard moves on smoothly.
// One stream plays at a time; the host's thread and the worker both ask.
struct CursorTrack {
    std::mutex lock;
    IDirectSoundBuffer* buffer = nullptr;
    DWORD cursor = 0;
    DWORD move = 0;  // bytes of its last move
    LARGE_INTEGER movedAt{};
};
CursorTrack track;

uint32_t interpolated(IDirectSoundBuffer* b, DWORD cursor) {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    std::lock_guard<std::mutex> guard(track.lock);
    if (track.buffer != b) {
        track.buffer = b;
        track.move = 0;
    } else if (cursor != track.cursor) {
        track.move = (cursor + kStreamBytes - track.cursor) % kStreamBytes;
        if (track.move >= kStreamBytes / 2) track.move = 0;  // no move forward: no estimate
    } else {
        const double seconds = double(now.QuadPart - track.movedAt.QuadPart) / double(frequency.QuadPart);
        const uint32_t since =
            uint32_t(std::min(seconds * kSampleRate, double(track.move / kBytesPerSample)));
        return (cursor + since * kBytesPerSample) % kStreamBytes;
    }
    track.cursor = cursor;
    track.movedAt = now;
    return cursor;
}

}  // namespace

int getPosition(Buffer* b, uint32_t* playPosition) {
    DWORD play = 0, write = 0;
    const HRESULT hr = buffer(b)->GetCurrentPosition(&play, &write);
    *playPosition = hr == DS_OK ? interpolated(buffer(b), play) : play;
    return result(hr);
}

namespace {

// DirectSound's play cursor is where the system's mixer takes the samples from; what the mixer and
// the device hold after that is not reported. Under Wine (a recording of a plain DirectSound
// program's first sample) it is 54 ms after the cursor moved on smoothly as above; Windows' shared
// audio engine holds a period of its own and the device's, some 20 to 40 ms: counted as 50 ms,
// the clock of what is heard is within a few ms of Wine's (it was 30 ms, which told an end 16 to
// 38 ms before it was heard there).
constexpr uint32_t kUnreportedLatencyBytes = kSampleRate * 50 / 1000 * kBytesPerSample;

}  // namespace

int getLatency(Buffer*, uint32_t* bytes) {
    *bytes = kUnreportedLatencyBytes;
    return 0;
}

// A volume reaches the samples the mixer takes next, from the write cursor on.
int getVolumeLatency(Buffer* b, uint32_t* bytes) {
    DWORD play = 0, write = 0;
    const HRESULT hr = buffer(b)->GetCurrentPosition(&play, &write);
    *bytes = kUnreportedLatencyBytes + (hr == DS_OK ? (write + kStreamBytes - play) % kStreamBytes : 0);
    return result(hr);
}

// What DirectSound's mixer has taken is what plays: nothing is taken again.
int getRetakable(Buffer*, uint32_t* bytes) {
    *bytes = 0;
    return 0;
}

int retakeFrom(Buffer*, uint32_t) { return 1; }

int getStatus(Buffer* b, uint32_t* status) {
    DWORD s = 0;
    const HRESULT hr = buffer(b)->GetStatus(&s);
    *status = s;
    return result(hr);
}

int setNotificationPositions(Notify* notify, uint32_t count, const PositionNotify* positions) {
    DSBPOSITIONNOTIFY entries[8];
    if (count > 8) return 1;
    for (uint32_t i = 0; i < count; ++i) {
        entries[i].dwOffset = positions[i].offset;
        entries[i].hEventNotify = handle(positions[i].event);
    }
    return result(reinterpret_cast<IDirectSoundNotify*>(notify)->SetNotificationPositions(count, entries));
}

// While the library is unloaded without the plugin's unload, DirectSound's objects are let go
// unreleased: releasing the device waits for its mixing thread, which cannot end while the loader's
// lock is held. (The stream is stopped first: nothing more is heard.)
void release(Buffer* b) {
    if (!unloading) buffer(b)->Release();
}
void release(Notify* notify) {
    if (!unloading) reinterpret_cast<IDirectSoundNotify*>(notify)->Release();
}
void release(Device* device) {
    if (!unloading) ds(device)->Release();
}
void finishReleases() {}
void unloadingWithoutUnload() { unloading = true; }

Event* createEvent() { return reinterpret_cast<Event*>(CreateEventA(nullptr, FALSE, FALSE, nullptr)); }

void setEvent(Event* event) { SetEvent(handle(event)); }

int waitForAny(Event* const* events, uint32_t count, uint32_t milliseconds) {
    HANDLE handles[MAXIMUM_WAIT_OBJECTS] = {};
    for (uint32_t i = 0; i < count; ++i) handles[i] = handle(events[i]);
    const DWORD r = WaitForMultipleObjects(count, handles, FALSE, milliseconds);
    if (r == WAIT_TIMEOUT) return kWaitTimedOut;
    return r < WAIT_OBJECT_0 + count ? int(r - WAIT_OBJECT_0) : -1;
}

Thread* createThread(int (*entry)(void*), void* argument) {
    Thread* thread = new (std::nothrow) Thread{nullptr, CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    if (thread == nullptr) return nullptr;
    ThreadStart* start =
        thread->left != nullptr ? new (std::nothrow) ThreadStart{entry, argument, thread->left} : nullptr;
    if (start != nullptr) thread->handle = CreateThread(nullptr, 0, threadEntry, start, 0, nullptr);
    if (thread->handle != nullptr) return thread;
    delete start;
    if (thread->left != nullptr) CloseHandle(thread->left);
    delete thread;
    return nullptr;
}

// A thread ends under the loader's lock only when the library is unloaded without the plugin's
// unload: it is then waited for until it has left the library's code, and ended there.
void waitForThread(Thread* thread) {
    if (!unloading) {
        WaitForSingleObject(thread->handle, INFINITE);
        return;
    }
    WaitForSingleObject(thread->left, INFINITE);
    // It is asleep, or about to be, holding nothing; ended that way it does not wait for the lock.
    TerminateThread(thread->handle, 0);
    WaitForSingleObject(thread->handle, INFINITE);
}

void closeHandle(Event* event) {
    if (!unloading) CloseHandle(handle(event));  // a buffer let go unreleased may still set it
}
void closeHandle(Thread* thread) {
    CloseHandle(thread->handle);
    CloseHandle(thread->left);
    delete thread;
}

}  // namespace sidtune::platform
