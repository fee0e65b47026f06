// The audio platform on Linux: SDL2. The one-second stream is a software buffer (software_stream)
// that SDL's pull callback copies from, applying the volume, moving the play position and
// signalling the events as it passes offset 0 and the middle. The "primary buffer" is the device
// itself: playing it starts SDL's callbacks.
//
// The audio subsystem is opened with SDL_InitSubSystem and closed with SDL_QuitSubSystem, so a host
// that uses SDL itself keeps its own subsystems. Without an audio server or device the device
// cannot be created: set-up fails quickly, and nothing is printed.
//
// Closing an SDL device takes a while (SDL lets two callback periods drain), so a released device
// is parked instead: it stays open, playing silence, for a second, and the next createDevice in
// that time takes it back at once ("PlaySidtune" while a tune plays, or soon after "StopSidtune").
// Otherwise a thread of ours closes it when the second is over. No SDL call of ours ever runs on
// two threads at once: createDevice and finishReleases wait for that thread first, and it leaves
// the subsystem's reference for them to give back (SDL_QuitSubSystem may unload libraries, which
// must not happen on a thread that the library's own unloading may be waiting for).
#include <SDL.h>
#include <dlfcn.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

#include "audio/software_stream.h"
#include "audio/std_events.h"

namespace sidtune::platform {

struct Buffer;

struct Device {
    SDL_AudioDeviceID id = 0;
    // The stream the callback plays, set and cleared under SDL's device lock.
    Buffer* stream = nullptr;
};

struct Buffer {
    Device* device = nullptr;
    bool primary = false;
    int references = 1;
    SoftwareStream stream;
};

struct Notify {
    Buffer* buffer;
};

namespace {

// Samples per callback: about 186 ms. Every wake-up of SDL's audio thread costs about the same
// (the sound library, the kernel; rendering is a small part), and it wakes several times per
// callback, so the cost of playing falls as this grows: measured with bench/play_bench, 0.50% of
// a core at 2048 samples, 0.27% at 4096, 0.13% at 8192. The price is latency: a volume change or
// a stop is heard 0.2 to 0.4 s later. Closing the device would cost the same again in waiting
// (SDL lets two callback periods drain), which is why released devices are parked (see above).
constexpr Uint16 kCallbackSamples = 8192;

void SDLCALL fill(void* userdata, Uint8* out, int bytes) {
    Device* device = static_cast<Device*>(userdata);
    if (device->stream == nullptr) {
        std::memset(out, 0, size_t(bytes));
        return;
    }
    pull(device->stream->stream, out, uint32_t(bytes));
}

// ALSA writes its complaints about missing sound cards straight to stderr; the plugin prints
// nothing. If libasound is loaded (SDL may use it), its error handler is replaced by a silent one.
extern "C" void silentAlsaError(const char*, int, const char*, int, const char*, ...) {}

void silenceAlsa() {
    using Handler = void (*)(const char*, int, const char*, int, const char*, ...);
    using SetHandler = int (*)(Handler);
    void* alsa = dlopen("libasound.so.2", RTLD_LAZY | RTLD_NOLOAD);
    if (alsa == nullptr) alsa = dlopen("libasound.so.2", RTLD_LAZY);
    if (alsa == nullptr) return;
    if (auto set = reinterpret_cast<SetHandler>(dlsym(alsa, "snd_lib_error_set_handler")))
        set(silentAlsaError);
    // The library stays loaded: SDL holds its own reference while it uses it.
}

// A parked device and the thread that closes it. `parked` and `subsystemReferences` are shared with that
// thread under `parkLock`; `closer` itself is only touched by the thread that creates and releases devices.
constexpr auto kParkTime = std::chrono::seconds(1);
std::mutex parkLock;
std::condition_variable parkChanged;
Device* parked = nullptr;
int subsystemReferences = 0;  // of closed devices, not yet given back
std::thread closer;

void closeDevice(Device* device) {
    SDL_CloseAudioDevice(device->id);  // waits for the callback and SDL's drain
    delete device;
}

void closeWhenParkEnds() {
    std::unique_lock<std::mutex> lock(parkLock);
    parkChanged.wait_for(lock, kParkTime, [] { return parked == nullptr; });
    Device* device = parked;
    parked = nullptr;
    lock.unlock();
    if (device == nullptr) return;  // taken back
    closeDevice(device);
    lock.lock();
    ++subsystemReferences;
}

// Takes the parked device back, if there is one, and waits until the closing thread has ended;
// gives back the subsystem references of the devices it closed. Returns the parked device.
Device* unpark() {
    Device* device;
    {
        std::lock_guard<std::mutex> lock(parkLock);
        device = parked;
        parked = nullptr;
    }
    parkChanged.notify_all();
    if (closer.joinable()) closer.join();
    int references;
    {
        std::lock_guard<std::mutex> lock(parkLock);
        references = subsystemReferences;
        subsystemReferences = 0;
    }
    for (; references > 0; --references) SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return device;
}

void closeNow(Device* device) {
    closeDevice(device);
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

// Without a call to finishReleases (a host that unloads the library without the plugin's unload)
// the parked device is closed as the library goes: its callback is our code.
struct FinishAtUnload {
    ~FinishAtUnload() { finishReleases(); }
} finishAtUnload;

void releaseBuffer(Buffer* buffer) {
    if (--buffer->references > 0) return;
    if (!buffer->primary && buffer->device != nullptr) {
        SDL_LockAudioDevice(buffer->device->id);
        if (buffer->device->stream == buffer) buffer->device->stream = nullptr;
        SDL_UnlockAudioDevice(buffer->device->id);
    }
    delete buffer;
}

}  // namespace

void* desktopWindow() {
    static int window;  // SDL needs no window; any non-null value serves
    return &window;
}

// Opens SDL's audio subsystem. Unless the host or the user has chosen a driver, the sound servers
// come first and ALSA last, so that a machine with a server never goes probing sound cards.
static bool initAudioSubsystem() {
    const bool chosen = SDL_GetHint(SDL_HINT_AUDIODRIVER) != nullptr;
    if (!chosen) SDL_SetHint(SDL_HINT_AUDIODRIVER, "pulseaudio,pipewire,alsa");
    const bool ok = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
    if (!chosen) SDL_ResetHint(SDL_HINT_AUDIODRIVER);  // the host's process keeps its own settings
    return ok;
}

int createDevice(Device** device) {
    *device = nullptr;
    if (Device* d = unpark()) {
        // A device the server dropped while it was parked is stopped for good.
        if (SDL_GetAudioDeviceStatus(d->id) != SDL_AUDIO_STOPPED) {
            *device = d;
            return 0;
        }
        closeNow(d);
    }
    silenceAlsa();
    if (!initAudioSubsystem()) return 1;
    Device* d = new (std::nothrow) Device;
    if (d == nullptr) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return 1;
    }
    SDL_AudioSpec want{};
    want.freq = 44100;
    want.format = AUDIO_S16LSB;
    want.channels = 1;
    want.samples = kCallbackSamples;
    want.callback = fill;
    want.userdata = d;
    SDL_AudioSpec have{};
    // No changes allowed: SDL converts to whatever the device takes.
    d->id = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (d->id == 0) {
        delete d;
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return 1;
    }
    *device = d;
    return 0;
}

int setCooperativeLevel(Device*, void* window) { return window == nullptr; }

int getCaps(Device*) { return 0; }

int createPrimaryBuffer(Device* device, Buffer** buffer) {
    *buffer = new (std::nothrow) Buffer;
    if (*buffer == nullptr) return 1;
    (*buffer)->device = device;
    (*buffer)->primary = true;
    return 0;
}

int createStreamBuffer(Device* device, const WaveFormat& format, uint32_t bytes, Buffer** buffer) {
    *buffer = nullptr;
    if (format.formatTag != 1 || format.channels != 1 || format.samplesPerSec != 44100 ||
        format.bitsPerSample != 16) {
        return 1;
    }
    Buffer* b = new (std::nothrow) Buffer;
    if (b == nullptr) return 1;
    try {
        b->stream.data.assign(bytes, 0);
    } catch (...) {
        delete b;
        return 1;
    }
    b->device = device;
    SDL_LockAudioDevice(device->id);
    device->stream = b;
    SDL_UnlockAudioDevice(device->id);
    *buffer = b;
    return 0;
}

int queryBuffer8(Buffer* buffer, Buffer** buffer8) {
    ++buffer->references;
    *buffer8 = buffer;
    return 0;
}

int queryNotify(Buffer* buffer8, Notify** notify) {
    *notify = new (std::nothrow) Notify{buffer8};
    if (*notify == nullptr) return 1;
    ++buffer8->references;
    return 0;
}

int setFormat(Buffer* primary, const WaveFormat& format) {
    return !primary->primary || format.samplesPerSec != 44100 || format.bitsPerSample != 16;
}

int play(Buffer* buffer) {
    if (buffer->primary) {
        SDL_PauseAudioDevice(buffer->device->id, 0);
    } else {
        softwarePlay(buffer->stream);
    }
    return 0;
}

int stop(Buffer* buffer) {
    // The primary buffer stops only to be released, and closing the device ends SDL's callbacks
    // anyway. Pausing first would cost a whole callback period of sleep in SDL's audio thread.
    if (!buffer->primary) softwareStop(buffer->stream);
    return 0;
}

int lock(Buffer* buffer, uint32_t offset, uint32_t bytes, void** region1, uint32_t* bytes1, void** region2,
         uint32_t* bytes2, uint32_t flags) {
    return softwareLock(buffer->stream, offset, bytes, region1, bytes1, region2, bytes2, flags);
}

int unlock(Buffer* buffer, void*, uint32_t, void*, uint32_t) {
    softwareUnlock(buffer->stream);
    return 0;
}

int setVolume(Buffer* buffer, int32_t hundredthsOfDecibel) {
    if (hundredthsOfDecibel > kVolumeMax || hundredthsOfDecibel < kVolumeMin) return 1;
    buffer->stream.volume = hundredthsOfDecibel;
    return 0;
}

int setNotificationPositions(Notify* notify, uint32_t count, const PositionNotify* positions) {
    return softwareSetNotifications(notify->buffer->stream, count, positions);
}

void release(Buffer* buffer) { releaseBuffer(buffer); }

void release(Notify* notify) {
    Buffer* buffer = notify->buffer;
    delete notify;
    releaseBuffer(buffer);
}

void release(Device* device) {
    // Whatever it played, from now on it plays silence.
    SDL_LockAudioDevice(device->id);
    device->stream = nullptr;
    SDL_UnlockAudioDevice(device->id);
    finishReleases();  // only one device is ever in use
    {
        std::lock_guard<std::mutex> lock(parkLock);
        parked = device;
    }
    try {
        closer = std::thread(closeWhenParkEnds);
    } catch (...) {
        finishReleases();  // no thread to be had: closed here and now, as SDL does it
    }
}

void finishReleases() {
    if (Device* device = unpark()) closeNow(device);
}

Event* createEvent() { return stdCreateEvent(); }
Thread* createThread(int (*entry)()) { return stdCreateThread(entry); }
void closeHandle(Event* event) { stdCloseEvent(event); }
void closeHandle(Thread* thread) { stdCloseThread(thread); }

}  // namespace sidtune::platform
