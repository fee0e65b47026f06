// Playing the software stream through SDL2: the fallback where no PulseAudio server answers (SDL
// then tries PipeWire and ALSA). SDL's pull callback copies from the stream buffer, applying the
// volume, moving the play position and signalling the events as it passes offset 0 and the middle.
//
// SDL2 is loaded only when it is needed (dlopen), so a program that plays through PulseAudio never
// loads it, nor the display libraries it brings; where it is not installed there is no fallback.
// The audio subsystem is opened with SDL_InitSubSystem and closed with SDL_QuitSubSystem, so a host
// that uses SDL itself keeps its own subsystems. Without an audio server or device the device
// cannot be opened: set-up fails quickly, and nothing is printed.
//
// A device that never blocks (ALSA's null device, the usual way a container is silenced) would
// call back as fast as the callback returns: the callback holds it to the clock, so that it costs
// what a real device costs and the stream is heard at its own pace.
//
// Closing an SDL device takes a while (SDL lets two callback periods drain), so a released device
// is parked instead: it stays open, playing silence, for a second, and the next device opened in
// that time is that one ("PlaySidtune" while a tune plays, or soon after "StopSidtune").
// Otherwise a thread of ours closes it when the second is over. No SDL call of ours ever runs on
// two threads at once: opening and finishing wait for that thread first, and it leaves the
// subsystem's reference for them to give back (SDL_QuitSubSystem may unload libraries, which must
// not happen on a thread that the library's own unloading may be waiting for).
#include <SDL.h>  // the types and declarations only: the library itself is loaded at run time
#include <dlfcn.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>
#include <type_traits>

#include "audio/audio_format.h"
#include "audio/never_destroyed.h"
#include "audio/software_platform.h"
#include "audio/sound_output.h"

namespace sidtune::platform {
namespace {

class SdlOutput;

// The functions of SDL2 the output calls, from the library loaded when the first device is opened;
// null until then, or where SDL2 is not installed.
struct SdlLibrary {
    decltype(&SDL_GetHint) GetHint;
    decltype(&SDL_SetHint) SetHint;
    decltype(&SDL_ResetHint) ResetHint;
    decltype(&SDL_InitSubSystem) InitSubSystem;
    decltype(&SDL_QuitSubSystem) QuitSubSystem;
    decltype(&SDL_OpenAudioDevice) OpenAudioDevice;
    decltype(&SDL_CloseAudioDevice) CloseAudioDevice;
    decltype(&SDL_PauseAudioDevice) PauseAudioDevice;
    decltype(&SDL_GetAudioDeviceStatus) GetAudioDeviceStatus;
};
SdlLibrary sdl;

// Loads SDL2 once; it stays loaded (SDL's own threads and handlers may outlive a device).
bool loadSdl() {
    if (sdl.GetAudioDeviceStatus != nullptr) return true;
    void* library = dlopen("libSDL2-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) return false;
    SdlLibrary found{};
    bool all = true;
    auto take = [&](auto& function, const char* name) {
        function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(dlsym(library, name));
        all = all && function != nullptr;
    };
    take(found.GetHint, "SDL_GetHint");
    take(found.SetHint, "SDL_SetHint");
    take(found.ResetHint, "SDL_ResetHint");
    take(found.InitSubSystem, "SDL_InitSubSystem");
    take(found.QuitSubSystem, "SDL_QuitSubSystem");
    take(found.OpenAudioDevice, "SDL_OpenAudioDevice");
    take(found.CloseAudioDevice, "SDL_CloseAudioDevice");
    take(found.PauseAudioDevice, "SDL_PauseAudioDevice");
    take(found.GetAudioDeviceStatus, "SDL_GetAudioDeviceStatus");
    if (!all) return false;  // too old an SDL2: no fallback (the library stays loaded, unused)
    sdl = found;
    return true;
}

// Samples per callback: about 186 ms. Every wake-up of SDL's audio thread costs about the same
// (the sound library, the kernel; rendering is a small part), and it wakes several times per
// callback, so the cost of playing falls as this grows (bench/README.md has the figures of each
// size). The price is latency: a volume change or a stop is heard that much later. Closing the device would
// cost the same again in waiting (SDL lets two callback periods drain), which is why released devices are
// parked (see above).
constexpr Uint16 kCallbackSamples = 8192;

// The SDL device and the stream its callback plays. The stream is set and cleared under a lock of
// our own, not SDL's device lock: SDL holds that through the whole callback, and the callback may
// sleep (keepToTheClock).
struct SdlDevice {
    SDL_AudioDeviceID id = 0;
    std::mutex streamLock;
    Buffer* stream = nullptr;
    // The callback's own: when it was first called and how much it has handed over since.
    std::chrono::steady_clock::time_point start;
    uint64_t samplesHanded = 0;
    // When the latest callback began, for what the device has played of it since.
    std::atomic<std::chrono::steady_clock::rep> lastCallback{0};
    // The callback's wait for the clock, and what ends it at once: closing needs SDL's device
    // lock, which the callback holds while it waits.
    std::mutex clockLock;
    std::condition_variable clockWake;
    bool closing = false;
};

// From now on the callback does not wait for the clock: the device is about to be closed.
void stopKeepingToTheClock(SdlDevice* device) {
    {
        std::lock_guard<std::mutex> guard(device->clockLock);
        device->closing = true;
    }
    device->clockWake.notify_all();
}

// Holds the callback to the clock: no more than two callbacks ahead of real time. A real device
// calls back as it plays and is never held; one that never blocks is, a callback's length at a
// time. A device that fell behind (a stall) is not let to catch up in a burst.
void keepToTheClock(SdlDevice* device, uint32_t samples) {
    using Clock = std::chrono::steady_clock;
    const auto now = Clock::now();
    if (device->samplesHanded == 0) device->start = now;
    device->samplesHanded += samples;
    const auto lead = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(double(2 * kCallbackSamples) / kSampleRate));
    auto handedAsTime = [&] {
        return std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(double(device->samplesHanded) / kSampleRate));
    };
    if (device->start + handedAsTime() < now - lead) device->start = now - handedAsTime();
    const auto due = device->start + handedAsTime() - lead;
    std::unique_lock<std::mutex> guard(device->clockLock);
    device->clockWake.wait_until(guard, due, [device] { return device->closing; });
}

void SDLCALL fill(void* userdata, Uint8* out, int bytes) {
    SdlDevice* device = static_cast<SdlDevice*>(userdata);
    device->lastCallback.store(std::chrono::steady_clock::now().time_since_epoch().count(),
                               std::memory_order_relaxed);
    {
        std::lock_guard<std::mutex> guard(device->streamLock);
        if (device->stream == nullptr) {
            std::memset(out, 0, size_t(bytes));
        } else {
            pull(device->stream->stream, out, uint32_t(bytes));
        }
    }
    keepToTheClock(device, uint32_t(bytes) / kBytesPerSample);
}

void setDeviceStream(SdlDevice* device, Buffer* stream) {
    std::lock_guard<std::mutex> guard(device->streamLock);
    device->stream = stream;
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

// Opens SDL's audio subsystem. Unless the host or the user has chosen a driver, `drivers` are tried
// in their order (a sound server before ALSA, so that a machine with a server never goes probing
// sound cards).
//
// The audio subsystem brings SDL's events with it, and with them SDL's own handlers for SIGINT and
// SIGTERM, which would turn the host's signals into events nobody reads: a program playing a tune
// could no longer be stopped. A plugin never takes the host's signals, so SDL is told not to
// install them (unless the host has said otherwise itself).
bool initAudioSubsystem(const char* drivers) {
    const bool chosen = sdl.GetHint(SDL_HINT_AUDIODRIVER) != nullptr;
    if (!chosen) sdl.SetHint(SDL_HINT_AUDIODRIVER, drivers);
    const bool signalsChosen = sdl.GetHint(SDL_HINT_NO_SIGNAL_HANDLERS) != nullptr;
    if (!signalsChosen) sdl.SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    const bool ok = sdl.InitSubSystem(SDL_INIT_AUDIO) == 0;
    // The host's process keeps its own settings.
    if (!chosen) sdl.ResetHint(SDL_HINT_AUDIODRIVER);
    if (!signalsChosen) sdl.ResetHint(SDL_HINT_NO_SIGNAL_HANDLERS);
    return ok;
}

// Closes a device and gives back the subsystem reference it held.
void closeNow(SdlDevice* device) {
    stopKeepingToTheClock(device);
    sdl.CloseAudioDevice(device->id);  // waits for the callback and SDL's drain
    delete device;
    sdl.QuitSubSystem(SDL_INIT_AUDIO);
}

// The one released device that is kept open for a while, and the thread that closes it when the
// while is over. `parked` and `closedReferences` are shared with that thread under `lock`;
// `closer` itself is only touched by the thread that creates and releases devices.
class DeviceParking {
  public:
    // Parks a released device and starts the thread that closes it after kParkTime, unless it is
    // taken back first. Without a thread to be had it is closed here and now, as SDL does it.
    void park(SdlDevice* device) {
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
    SdlDevice* takeBack() {
        SdlDevice* device;
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
        for (; references > 0; --references) sdl.QuitSubSystem(SDL_INIT_AUDIO);
        return device;
    }

    // Closes the parked device at once, if there is one: every release is then complete.
    void finish() {
        if (SdlDevice* device = takeBack()) closeNow(device);
    }

  private:
    static constexpr auto kParkTime = std::chrono::seconds(1);

    // The closing thread. It leaves the subsystem's reference to takeBack: SDL_QuitSubSystem may
    // unload libraries, which must not happen on a thread that the library's own unloading could
    // be waiting for.
    void closeWhenParkEnds() {
        std::unique_lock<std::mutex> guard(lock);
        changed.wait_for(guard, kParkTime, [this] { return parked == nullptr; });
        SdlDevice* device = parked;
        parked = nullptr;
        guard.unlock();
        if (device == nullptr) return;  // taken back
        stopKeepingToTheClock(device);
        sdl.CloseAudioDevice(device->id);
        delete device;
        guard.lock();
        ++closedReferences;
    }

    std::mutex lock;
    std::condition_variable changed;
    SdlDevice* parked = nullptr;
    int closedReferences = 0;  // of devices the thread closed, not yet given back
    std::thread closer;
};

// Never destroyed (a std::thread destroyed while it runs ends the process): a parked device's
// closing thread may still run when the exit handlers do.
DeviceParking& parking() { return neverDestroyed<DeviceParking>(); }

class SdlOutput final : public SoundOutput {
  public:
    explicit SdlOutput(SdlDevice* d) : device(d) {}
    void setSource(Buffer* stream) override { setDeviceStream(device, stream); }
    int start() override {
        // A device taken back from the parking plays already; unpausing it would wait for SDL's
        // device lock, which a device held to the clock keeps nearly all the time.
        if (sdl.GetAudioDeviceStatus(device->id) != SDL_AUDIO_PLAYING) sdl.PauseAudioDevice(device->id, 0);
        return 0;
    }
    void streamPlays(bool) override {}  // the callback plays what the stream holds, silence when stopped
    bool setVolume(int32_t) override { return false; }
    // When SDL calls back, what it was handed is not heard for about one and a half callbacks (the
    // one handed over, and what is left of the one the device plays: measured against a sound
    // server's recording); by the next call one more has been heard. Counted from the clock between
    // the two, the time heard moves smoothly rather than a callback at a time.
    uint32_t bytesNotYetHeard() override {
        using Clock = std::chrono::steady_clock;
        const Clock::duration since(Clock::now().time_since_epoch().count() -
                                    device->lastCallback.load(std::memory_order_relaxed));
        const double played = std::chrono::duration<double>(since).count() * kSampleRate;
        const double held = 1.5 * kCallbackSamples - std::min(played, double(kCallbackSamples));
        return uint32_t(held) * kBytesPerSample;
    }
    // The stream applies the volume to the samples SDL takes: heard once they are.
    uint32_t bytesBeforeVolumeIsHeard() override { return bytesNotYetHeard(); }
    // SDL2's device has what it took in a buffer of its own, beyond reach.
    uint32_t bytesRetakable() override { return 0; }
    bool retakeFrom(uint32_t) override { return false; }
    // SDL stops a device that went away (unplugged, its server gone).
    bool lost() override { return sdl.GetAudioDeviceStatus(device->id) == SDL_AUDIO_STOPPED; }
    void release() override {
        setDeviceStream(device, nullptr);  // whatever it played, from now on it plays silence
        parking().park(device);
        delete this;
    }

  private:
    SdlDevice* device;
};

SdlDevice* openDevice(const char* drivers) {
    if (SdlDevice* d = parking().takeBack()) {
        // A device the server dropped while it was parked is stopped for good.
        if (sdl.GetAudioDeviceStatus(d->id) != SDL_AUDIO_STOPPED) return d;
        closeNow(d);
    }
    if (!loadSdl()) return nullptr;
    silenceAlsa();
    if (!initAudioSubsystem(drivers)) return nullptr;
    SdlDevice* d = new (std::nothrow) SdlDevice;
    if (d == nullptr) {
        sdl.QuitSubSystem(SDL_INIT_AUDIO);
        return nullptr;
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
    d->id = sdl.OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (d->id == 0) {
        delete d;
        sdl.QuitSubSystem(SDL_INIT_AUDIO);
        return nullptr;
    }
    return d;
}

}  // namespace

SoundOutput* openSdlOutput(const char* drivers) {
    SdlDevice* device = openDevice(drivers);
    if (device == nullptr) return nullptr;
    SoundOutput* output = new (std::nothrow) SdlOutput(device);
    if (output == nullptr) closeNow(device);
    return output;
}

void finishSdlOutputs() {
    if (sdl.GetAudioDeviceStatus != nullptr) parking().finish();
}

}  // namespace sidtune::platform
