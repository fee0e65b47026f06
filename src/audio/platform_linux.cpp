// The audio platform on Linux. The one-second stream is a software buffer (software_stream.h,
// with its DirectSound-shaped calls in software_platform.cpp); a device is an output that pulls
// from it (sound_output.h): PulseAudio's own client where a PulseAudio server answers, for control
// that is heard at once, and SDL2 where none does. A server that answers but gives no stream (it
// has no sink, or it went silent) gives no device: SDL2 would only try the same server again, and
// its PulseAudio driver crashes on a server without a sink. The "primary buffer" is the output
// itself: playing it starts the output.
//
// Built with SIDTUNE_SDL_ONLY (for the tests of the fallback), every device is SDL2's.
#include <new>

#include "audio/software_platform.h"
#include "audio/sound_output.h"
#include "audio/std_events.h"

namespace sidtune::platform {

struct Device {
    SoundOutput* output;
};

void* desktopWindow() {
    static int window;  // no window is needed; any non-null value serves
    return &window;
}

int createDevice(Device** device) {
    *device = nullptr;
#if defined(SIDTUNE_SDL_ONLY)
    SoundOutput* output = openSdlOutput("pulseaudio,pipewire,alsa");
#else
    bool serverAnswered = false;
    SoundOutput* output = openPulseOutput(serverAnswered);
    // Where no PulseAudio server answers, SDL's PulseAudio driver would find none either.
    if (output == nullptr && !serverAnswered) output = openSdlOutput("pipewire,alsa");
#endif
    if (output == nullptr) return 1;
    *device = new (std::nothrow) Device{output};
    if (*device == nullptr) {
        output->release();
        return 1;
    }
    return 0;
}

int setCooperativeLevel(Device*, void* window) { return window == nullptr; }

int getCaps(Device*) { return 0; }

void release(Device* device) {
    device->output->release();
    delete device;
}

void finishReleases() {
    finishSdlOutputs();
    finishPulseOutputs();
}
void unloadingWithoutUnload() {}

// The hooks of the shared buffer calls: the stream buffer is what the device's output plays.
namespace software {

int beforeCall(BufferCall, const Buffer*, uint32_t, bool) { return 0; }

void bufferCreated(Buffer* buffer) {
    if (!buffer->primary) buffer->device->output->setSource(buffer);
}

void bufferDeleted(Buffer* buffer) {
    if (!buffer->primary && buffer->device != nullptr) buffer->device->output->setSource(nullptr);
}

void notifyCreated(Notify*) {}
void notifyDeleted(Notify*) {}

int primaryPlays(Buffer* primary) { return primary->device->output->start(); }

void streamPlays(Buffer* stream, bool on) { stream->device->output->streamPlays(on); }

bool volumeApplied(Buffer* stream, int32_t hundredthsOfDecibel) {
    return stream->device->output->setVolume(hundredthsOfDecibel);
}

uint32_t bytesNotYetHeard(Buffer* stream) { return stream->device->output->bytesNotYetHeard(); }

uint32_t bytesBeforeVolumeIsHeard(Buffer* stream) {
    return stream->device->output->bytesBeforeVolumeIsHeard();
}

uint32_t bytesRetakable(Buffer* stream) { return stream->device->output->bytesRetakable(); }

bool retakeFrom(Buffer* stream, uint32_t offset) { return stream->device->output->retakeFrom(offset); }

bool outputLost(Buffer* stream) { return stream->device->output->lost(); }

}  // namespace software

Event* createEvent() { return stdCreateEvent(); }
Thread* createThread(int (*entry)(void*), void* argument) { return stdCreateThread(entry, argument); }
void closeHandle(Event* event) { stdCloseEvent(event); }
void closeHandle(Thread* thread) { stdCloseThread(thread); }

}  // namespace sidtune::platform
