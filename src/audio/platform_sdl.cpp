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

#include "audio/audio_format.h"
#include "audio/software_platform.h"
#include "audio/std_events.h"

namespace sidtune::platform {

struct Device {
    SDL_AudioDeviceID id = 0;
    // The stream the callback plays, set and cleared under SDL's device lock.
    Buffer* stream = nullptr;
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

// Sets the stream the device's callback plays (null: silence), under SDL's device lock.
void setDeviceStream(Device* device, Buffer* stream) {
    SDL_LockAudioDevice(device->id);
    device->stream = stream;
    SDL_UnlockAudioDevice(device->id);
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

// Opens SDL's audio subsystem. Unless the host or the user has chosen a driver, the sound servers
// come first and ALSA last, so that a machine with a server never goes probing sound cards.
//
// The audio subsystem brings SDL's events with it, and with them SDL's own handlers for SIGINT and
// SIGTERM, which would turn the host's signals into events nobody reads: a program playing a tune
// could no longer be stopped. A plugin never takes the host's signals, so SDL is told not to
// install them (unless the host has said otherwise itself).
bool initAudioSubsystem() {
    const bool chosen = SDL_GetHint(SDL_HINT_AUDIODRIVER) != nullptr;
    if (!chosen) SDL_SetHint(SDL_HINT_AUDIODRIVER, "pulseaudio,pipewire,alsa");
    const bool signalsChosen = SDL_GetHint(SDL_HINT_NO_SIGNAL_HANDLERS) != nullptr;
    if (!signalsChosen) SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    const bool ok = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
    // The host's process keeps its own settings.
    if (!chosen) SDL_ResetHint(SDL_HINT_AUDIODRIVER);
    if (!signalsChosen) SDL_ResetHint(SDL_HINT_NO_SIGNAL_HANDLERS);
    return ok;
}

// Closes a device and gives back the subsystem reference it held.
void closeNow(Device* device) {
    SDL_CloseAudioDevice(device->id);  // waits for the callback and SDL's drain
    delete device;
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

// The one released device that is kept open for a while, and the thread that closes it when the
// while is over. `parked` and `closedReferences` are shared with that thread under `lock`;
// `closer` itself is only touched by the thread that creates and releases devices.
class DeviceParking {
  public:
    // Parks a released device and starts the thread that closes it after kParkTime, unless it is
    // taken back first. Without a thread to be had it is closed here and now, as SDL does it.
    void park(Device* device) {
        finish();  // only one device is ever in use
        {
            std::lock_guard<std::mutex> guard(lock);
            parked = device;
        }
        try {
            closer = std::thread([this] { closeWhenParkEnds(); });
        } catch (...) {
            finish();
        }
    }

    // Takes the parked device back, if there is one, and waits until the closing thread has
    // ended; gives back the subsystem references of the devices that thread closed.
    Device* takeBack() {
        Device* device;
        {
            std::lock_guard<std::mutex> guard(lock);
            device = parked;
            parked = nullptr;
        }
        changed.notify_all();
        if (closer.joinable()) closer.join();
        int references;
        {
            std::lock_guard<std::mutex> guard(lock);
            references = closedReferences;
            closedReferences = 0;
        }
        for (; references > 0; --references) SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return device;
    }

    // Closes the parked device at once, if there is one: every release is then complete.
    void finish() {
        if (Device* device = takeBack()) closeNow(device);
    }

  private:
    static constexpr auto kParkTime = std::chrono::seconds(1);

    // The closing thread. It leaves the subsystem's reference to takeBack: SDL_QuitSubSystem may
    // unload libraries, which must not happen on a thread that the library's own unloading could
    // be waiting for.
    void closeWhenParkEnds() {
        std::unique_lock<std::mutex> guard(lock);
        changed.wait_for(guard, kParkTime, [this] { return parked == nullptr; });
        Device* device = parked;
        parked = nullptr;
        guard.unlock();
        if (device == nullptr) return;  // taken back
        SDL_CloseAudioDevice(device->id);
        delete device;
        guard.lock();
        ++closedReferences;
    }

    std::mutex lock;
    std::condition_variable changed;
    Device* parked = nullptr;
    int closedReferences = 0;  // of devices the thread closed, not yet given back
    std::thread closer;
};

DeviceParking parking;

// Without a call to finishReleases (a host that unloads the library without the plugin's unload)
// the parked device is closed as the library goes: its callback is our code.
struct FinishAtUnload {
    ~FinishAtUnload() { finishReleases(); }
} finishAtUnload;

}  // namespace

void* desktopWindow() {
    static int window;  // SDL needs no window; any non-null value serves
    return &window;
}

int createDevice(Device** device) {
    *device = nullptr;
    if (Device* d = parking.takeBack()) {
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
    want.freq = kSampleRate;
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

void release(Device* device) {
    setDeviceStream(device, nullptr);  // whatever it played, from now on it plays silence
    parking.park(device);
}

void finishReleases() { parking.finish(); }

// The hooks of the shared buffer calls: the stream buffer is what the device's callback plays.
namespace software {

int beforeCall(BufferCall, const Buffer*, uint32_t, bool) { return 0; }

void bufferCreated(Buffer* buffer) {
    if (!buffer->primary) setDeviceStream(buffer->device, buffer);
}

void bufferDeleted(Buffer* buffer) {
    if (buffer->primary || buffer->device == nullptr) return;
    SDL_LockAudioDevice(buffer->device->id);
    if (buffer->device->stream == buffer) buffer->device->stream = nullptr;
    SDL_UnlockAudioDevice(buffer->device->id);
}

void notifyCreated(Notify*) {}
void notifyDeleted(Notify*) {}

int primaryPlays(Buffer* primary) {
    SDL_PauseAudioDevice(primary->device->id, 0);
    return 0;
}

}  // namespace software

Event* createEvent() { return stdCreateEvent(); }
Thread* createThread(int (*entry)(void*), void* argument) { return stdCreateThread(entry, argument); }
void closeHandle(Event* event) { stdCloseEvent(event); }
void closeHandle(Thread* thread) { stdCloseThread(thread); }

}  // namespace sidtune::platform
