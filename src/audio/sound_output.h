// What plays the software stream on Linux: PulseAudio's own client library where a PulseAudio
// server answers (PipeWire desktops serve the same protocol), SDL2 everywhere else. The platform
// (platform_linux.cpp) opens one of these for each device and hands it the stream buffer to pull
// from; everything DirectSound-shaped stays in the platform and the shared software buffer.
//
//   setSource(stream)       what the output pulls from from now on; null: silence
//   start()                 the device plays (the primary buffer's Play): silence until a stream
//                           plays
//   streamPlays(on)         the stream buffer started or stopped: an output that buffers ahead
//                           stops at once and keeps what it holds (a pause loses nothing)
//   setVolume(attenuation)  true when the output applies the volume itself, where it is heard
//                           soonest; false: the stream applies it to the samples
//   bytesNotYetHeard()      bytes it has taken from the stream that are not yet heard
//   bytesBeforeVolumeIsHeard()
//                           bytes between the sample heard and the first that a volume set now
//                           reaches
//   bytesRetakable()        bytes before the play position it can take again (0: none)
//   retakeFrom(offset)      it takes again what it took from that offset of the stream buffer on,
//                           as the buffer holds it now: false when it cannot
//   lost()                  the device is gone (the server died, the sink went away): nothing
//                           more is heard
//   release()               the device is released: the output goes (at once, or later on a
//                           thread of its own)
#pragma once

#include <cstdint>

namespace sidtune::platform {

struct Buffer;

class SoundOutput {
  public:
    virtual ~SoundOutput() = default;
    virtual void setSource(Buffer* stream) = 0;
    virtual int start() = 0;
    virtual void streamPlays(bool on) = 0;
    virtual bool setVolume(int32_t hundredthsOfDecibel) = 0;
    virtual uint32_t bytesNotYetHeard() = 0;
    virtual uint32_t bytesBeforeVolumeIsHeard() = 0;
    virtual uint32_t bytesRetakable() = 0;
    virtual bool retakeFrom(uint32_t offset) = 0;
    virtual bool lost() = 0;
    virtual void release() = 0;
};

// Each returns null when its sound system cannot be had (no server, no device), within about two
// seconds whatever a server does. `serverAnswered`: a PulseAudio server took the connection, even
// if it then failed (no sink) or went silent (frozen): nothing else should try it.
SoundOutput* openPulseOutput(bool& serverAnswered);
// `drivers`: the SDL audio drivers to try, in their order, unless the host or the user chose.
SoundOutput* openSdlOutput(const char* drivers);
// Waits until every released output is gone for good, and lets go of the sound systems.
void finishPulseOutputs();
void finishSdlOutputs();

}  // namespace sidtune::platform
