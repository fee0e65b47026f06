// Playing the software stream through PulseAudio's own client library, where a PulseAudio server
// answers (PipeWire desktops serve the same protocol). What it gives over SDL2 is control that
// is heard at once, at little cost:
//
//   - a stream that stops (a stop, a pause) is corked: the server stops taking from it at once and
//     keeps what it holds, so a stop is silent within a few ms and a pause goes on from there;
//   - the volume is the server's volume of the stream, applied as it mixes: heard at once, and at
//     full volume the samples pass unchanged;
//   - a stream that starts is filled at once (nothing is written while corked), so the stream's
//     first sample is heard as soon as the server mixes it.
//
// One connection to the server (a threaded main loop and a context) serves every device; each
// device is a playback stream, which is quick to open and to close. The main loop's thread calls
// the write callback, which pulls from the stream buffer.
#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>

#include "audio/audio_format.h"
#include "audio/software_platform.h"
#include "audio/sound_output.h"

namespace sidtune::platform {
namespace {

// What the server holds of the stream: its queue and what the sink has mixed ahead of the sound
// heard. It asks for more whenever kServerRequest of it has played. Control does not wait for it:
// a cork, a flush or a new volume takes effect as the server mixes (it rewinds what it has mixed
// ahead), and a new stream is filled at once. What it holds less one request has to outlast the
// longest the refilling thread, or the server itself, may be kept from running: a virtual machine
// that loses its processors now and then ran 150 ms dry. A longer one delays only what the render
// makes (a new tempo, a muted voice) by what it holds (bench/README.md).
//
// The server lets the sink mix (kServerBuffer - 2 x kServerRequest) / 2 ahead, 100 ms here. A
// request of half the buffer, as this stream once made, asked for no latency at all, which the
// server raises to its least: a null sink then wakes 2000 times a second to mix half a
// millisecond, and takes back no more than that when a stream starts (see catchUpSink).
constexpr pa_usec_t kServerBuffer = 300 * PA_USEC_PER_MSEC;
constexpr pa_usec_t kServerRequest = 50 * PA_USEC_PER_MSEC;
// What the server may be about to play of what it holds, which a write that seeks back would no
// longer change: with a change 10 ms past it, every change was heard whole, on a PulseAudio null
// sink and on PipeWire's server (RealAudio.EffectsAndACrossfadeAsHeard).
constexpr pa_usec_t kAboutToPlay = 10 * PA_USEC_PER_MSEC;
// How long the clock goes by its last reading of the server before it reads it again; the client
// library itself goes up to 1.5 s between the server's reports of its timing.
constexpr std::chrono::milliseconds kClockReread{250};
// How long opening a device may take in all, connection and stream: a server that does not answer
// in that time (one that is frozen, say) gives no device.
constexpr pa_usec_t kOpenTimeout = 2 * PA_USEC_PER_SEC;
// How long a stream that starts may spend bringing the sink up to it (catchUpSink), and in how
// many rounds: a null sink two seconds ahead takes some twenty, each a few hundred microseconds.
constexpr pa_usec_t kCatchUpTimeout = 250 * PA_USEC_PER_MSEC;
constexpr int kCatchUpRounds = 40;

constexpr pa_sample_spec kSpec{PA_SAMPLE_S16LE, kSampleRate, 1};

// The connection to the server, made when the first device is opened and kept until every
// release is finished (the plugin's unload). Only the thread that opens and releases devices
// changes it.
struct Connection {
    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    int streams = 0;  // open playback streams

    bool ready() const { return context != nullptr && pa_context_get_state(context) == PA_CONTEXT_READY; }
};
Connection connection;

void signalLoop() { pa_threaded_mainloop_signal(connection.loop, 0); }
void onContextState(pa_context*, void*) { signalLoop(); }
void onDeadline(pa_mainloop_api*, pa_time_event*, const struct timeval*, void*) { signalLoop(); }

// Waits, with the main loop locked, until `settled` says so or the deadline has passed: a timer
// on the loop wakes the wait when nothing else does.
template <typename Settled>
bool waitUntil(pa_usec_t deadline, Settled settled) {
    pa_time_event* timer = pa_context_rttime_new(connection.context, deadline, onDeadline, nullptr);
    bool done = settled();
    while (!done && pa_rtclock_now() < deadline) {
        pa_threaded_mainloop_wait(connection.loop);
        done = settled();
    }
    if (timer != nullptr) pa_threaded_mainloop_get_api(connection.loop)->time_free(timer);
    return done;
}

void disconnect() {
    if (connection.loop != nullptr) pa_threaded_mainloop_stop(connection.loop);
    if (connection.context != nullptr) {
        pa_context_disconnect(connection.context);
        pa_context_unref(connection.context);
    }
    if (connection.loop != nullptr) pa_threaded_mainloop_free(connection.loop);
    connection = Connection{};
}

// Connects to the server unless the connection stands. `answered` tells whether a server took
// the connection, even one that then failed or did not finish in time.
bool connect(pa_usec_t deadline, bool& answered) {
    if (connection.ready()) {
        answered = true;
        return true;
    }
    disconnect();  // a connection the server dropped
    connection.loop = pa_threaded_mainloop_new();
    if (connection.loop == nullptr) return false;
    pa_threaded_mainloop_set_name(connection.loop, "sidtune-pulse");
    connection.context = pa_context_new(pa_threaded_mainloop_get_api(connection.loop), "sidtune");
    if (connection.context == nullptr || pa_threaded_mainloop_start(connection.loop) < 0) {
        disconnect();
        return false;
    }
    pa_threaded_mainloop_lock(connection.loop);
    pa_context_set_state_callback(connection.context, onContextState, nullptr);
    bool ok = pa_context_connect(connection.context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0;
    pa_context_state_t state = PA_CONTEXT_UNCONNECTED;
    if (ok) {
        ok = waitUntil(deadline, [&] {
            const pa_context_state_t now = pa_context_get_state(connection.context);
            // Past connecting, something at the socket answered: a server is there.
            if (now != PA_CONTEXT_UNCONNECTED && now != PA_CONTEXT_CONNECTING) answered = true;
            state = now;
            return now == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(now);
        });
        ok = ok && state == PA_CONTEXT_READY;
    }
    pa_threaded_mainloop_unlock(connection.loop);
    if (!ok) disconnect();
    return ok;
}

class PulseOutput final : public SoundOutput {
  public:
    bool open(pa_usec_t deadline) {
        pa_threaded_mainloop_lock(connection.loop);
        stream = pa_stream_new(connection.context, "sidtune", &kSpec, nullptr);
        bool ok = stream != nullptr;
        if (ok) {
            pa_stream_set_state_callback(stream, onState, this);
            pa_stream_set_write_callback(stream, onWrite, this);
            pa_buffer_attr attributes{};
            attributes.maxlength = uint32_t(-1);
            attributes.tlength = uint32_t(pa_usec_to_bytes(kServerBuffer, &kSpec));
            attributes.prebuf = uint32_t(-1);
            attributes.minreq = uint32_t(pa_usec_to_bytes(kServerRequest, &kSpec));
            attributes.fragsize = uint32_t(-1);
            // The timing flags keep the latency known, for the clock of what has been heard. A new
            // stream starts at full volume and unmuted, as every play does: given explicitly, so that
            // a desktop's PulseAudio server does not restore the volume an earlier stream of ours
            // was left at (PipeWire's session manager restores it all the same: see below).
            const auto flags = pa_stream_flags_t(PA_STREAM_START_CORKED | PA_STREAM_ADJUST_LATENCY |
                                                 PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE |
                                                 PA_STREAM_START_UNMUTED);
            pa_cvolume full;
            pa_cvolume_set(&full, kSpec.channels, PA_VOLUME_NORM);
            ok = pa_stream_connect_playback(stream, nullptr, &attributes, flags, &full, nullptr) >= 0;
            // A server with no sink fails the stream at once; a frozen one never answers.
            ok = ok && waitUntil(deadline, [&] {
                     return !PA_STREAM_IS_GOOD(pa_stream_get_state(stream)) ||
                            pa_stream_get_state(stream) == PA_STREAM_READY;
                 });
            ok = ok && pa_stream_get_state(stream) == PA_STREAM_READY;
            if (ok) setServerVolume(PA_VOLUME_NORM);
        }
        if (!ok) closeStream();
        pa_threaded_mainloop_unlock(connection.loop);
        return ok;
    }

    // The server holds up to 0.3 s beyond what it pulled from the buffer: each half is refilled a
    // quarter of a second after it was pulled, so that what is made ahead of the listener stays
    // within the buffer's second (a command's change reaches back to the listener), and still
    // made a quarter of a second before it is pulled.
    void setSource(Buffer* buffer) override {
        pa_threaded_mainloop_lock(connection.loop);
        source = buffer;
        if (source != nullptr) {
            std::lock_guard<std::mutex> guard(source->stream.mutex);
            source->stream.notifyLag = uint32_t(kSampleRate / 4) * kBytesPerSample;
        }
        pa_threaded_mainloop_unlock(connection.loop);
    }

    int start() override { return 0; }  // corked until the stream plays: no wake-ups for silence

    void streamPlays(bool on) override {
        pa_threaded_mainloop_lock(connection.loop);
        ++epoch;
        if (on && corked && written == 0) catchUpSink();
        const pa_usec_t now = pa_rtclock_now();
        if (on && corked) playingSince = now;
        if (!on && !corked) playedBefore += now - playingSince;
        corked = !on;
        run(pa_stream_cork(stream, corked ? 1 : 0, nullptr, nullptr));
        // Nothing is written while corked, so the stream is heard as soon as it plays: what the
        // server can take now is pulled at once. A paused stream's samples are still held by the
        // server, and are heard first.
        if (!corked) fill(stream, pa_stream_writable_size(stream));
        pa_threaded_mainloop_unlock(connection.loop);
    }

    bool setVolume(int32_t hundredthsOfDecibel) override {
        const pa_volume_t v = hundredthsOfDecibel >= kVolumeMax ? PA_VOLUME_NORM
                              : hundredthsOfDecibel <= kVolumeMin
                                  ? PA_VOLUME_MUTED
                                  : pa_sw_volume_from_dB(hundredthsOfDecibel / 100.0);
        pa_threaded_mainloop_lock(connection.loop);
        setServerVolume(v);
        pa_threaded_mainloop_unlock(connection.loop);
        return true;
    }

    // What the server holds, as the clock reads it. The server's own account costs the client's
    // lock and its timing, most of what a script's question costs (a game asks once a frame, and
    // "SidtuneLevel" asks the clock each time): it is read at most every kClockReread, and between
    // two readings the server is taken to play on at the sample rate, which it does (the client
    // library's own estimate between the server's reports is made the same way), with no call into
    // the library (its code, cold by the next frame, cost more than the arithmetic). A stream that
    // stops or starts is read afresh.
    uint32_t bytesNotYetHeard() override {
        const auto now = std::chrono::steady_clock::now();
        const uint32_t current = epoch;
        std::lock_guard<std::mutex> guard(clockReadLock);
        if (clockRead.epoch == current && now - clockRead.at < kClockReread) {
            const uint64_t sent = written;
            const auto since =
                std::chrono::duration_cast<std::chrono::microseconds>(now - clockRead.at).count();
            const uint64_t played =
                clockRead.played + (corked ? 0 : uint64_t(since) * kSampleRate / 1000000 * kBytesPerSample);
            return sent > played ? uint32_t(sent - played) : 0;
        }
        uint64_t sent = 0;
        const uint32_t held = serverHolds(&sent);
        clockRead = {current, now, sent - std::min<uint64_t>(sent, held)};
        return held;
    }

    // What the server says it holds, but never less than what cannot have been heard yet: more
    // than the time the stream has played. PipeWire's server tells what a stream has played a
    // quantum at a time, counted from what it took into a buffer of its own, and the client
    // library's estimate between its reports ran up to 45 ms ahead of the time since the start.
    uint32_t serverHolds(uint64_t* sent = nullptr) {
        pa_threaded_mainloop_lock(connection.loop);
        if (sent != nullptr) *sent = written;
        pa_usec_t latency = 0;
        int negative = 0;
        if (stream == nullptr || pa_stream_get_latency(stream, &latency, &negative) < 0 || negative)
            latency = 0;
        const pa_usec_t played = playedBefore + (corked ? 0 : pa_rtclock_now() - playingSince);
        const uint64_t mayBeHeard = pa_usec_to_bytes(played, &kSpec);
        uint64_t held = pa_usec_to_bytes(latency, &kSpec);
        if (written > mayBeHeard && written - mayBeHeard > held) held = written - mayBeHeard;
        pa_threaded_mainloop_unlock(connection.loop);
        return uint32_t(held & ~uint64_t(kBytesPerSample - 1));
    }

    // The server applies the volume as it mixes, taking back what it mixed ahead: heard at once.
    uint32_t bytesBeforeVolumeIsHeard() override { return 0; }

    // What the server holds and has not played can be written again: a write that seeks back over
    // it replaces it in the server's queue, and the server takes back what it had mixed of it ahead.
    // Not what it is about to play (a few milliseconds of a sink), unless the stream is corked.
    uint32_t bytesRetakable() override {
        const uint32_t held = serverHolds();
        const uint32_t playing = corked ? 0 : uint32_t(pa_usec_to_bytes(kAboutToPlay, &kSpec));
        return held > playing ? held - playing : 0;
    }

    bool retakeFrom(uint32_t offset) override {
        pa_threaded_mainloop_lock(connection.loop);
        bool done = false;
        const uint32_t most = bytesRetakable();
        // The write callback, which pulls too, runs under the same lock: the position stays put.
        const uint32_t back =
            stream != nullptr && source != nullptr ? softwareTakenSince(source->stream, offset) : 0;
        void* data = nullptr;
        size_t size = back;
        if (back != 0 && back <= most && pa_stream_begin_write(stream, &data, &size) == 0 &&
            data != nullptr) {
            if (size >= back) {
                softwareMoveBack(source->stream, offset);
                pull(source->stream, static_cast<uint8_t*>(data), back);
                done = pa_stream_write(stream, data, back, nullptr, -int64_t(back), PA_SEEK_RELATIVE) == 0;
            } else {
                pa_stream_cancel_write(stream);
            }
        }
        pa_threaded_mainloop_unlock(connection.loop);
        return done;
    }

    bool lost() override {
        pa_threaded_mainloop_lock(connection.loop);
        const bool gone = stream == nullptr || !PA_STREAM_IS_GOOD(pa_stream_get_state(stream)) ||
                          !PA_CONTEXT_IS_GOOD(pa_context_get_state(connection.context));
        pa_threaded_mainloop_unlock(connection.loop);
        return gone;
    }

    void release() override {
        pa_threaded_mainloop_lock(connection.loop);
        closeStream();
        pa_threaded_mainloop_unlock(connection.loop);
        --connection.streams;
        delete this;
    }

  private:
    pa_stream* stream = nullptr;
    // Under the main loop's lock. The ones that the worker's clock reads too are atomics, so that a
    // thread sanitizer, which does not see the lock taken inside the sound library, sees their order.
    Buffer* source = nullptr;
    std::atomic<bool> corked{true};
    std::atomic<uint64_t> written{0};  // bytes, ever: a stream that resumes has samples queued on the server
    // How long the stream has played: before it was last corked, and since it was last uncorked.
    std::atomic<pa_usec_t> playedBefore{0};
    std::atomic<pa_usec_t> playingSince{0};
    // The clock's last reading of the server (bytesNotYetHeard): when, and how much of what was
    // written the server had played then; good while the epoch (bumped when the stream stops,
    // starts or closes) is the same.
    struct ClockRead {
        uint32_t epoch = UINT32_MAX;
        std::chrono::steady_clock::time_point at;
        uint64_t played = 0;  // bytes
    };
    std::mutex clockReadLock;
    ClockRead clockRead;
    std::atomic<uint32_t> epoch{0};

    static void run(pa_operation* operation) {
        if (operation != nullptr) pa_operation_unref(operation);
    }

    static void onDone(pa_stream*, int, void*) { signalLoop(); }

    // Runs an operation to its end, with the main loop locked: false when it failed to start or
    // did not end by the deadline.
    static bool await(pa_operation* operation, pa_usec_t deadline) {
        if (operation == nullptr) return false;
        const bool done =
            waitUntil(deadline, [&] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; });
        pa_operation_unref(operation);
        return done;
    }

    // A sink may have mixed further ahead of the sound heard than it takes back when a stream
    // starts: PulseAudio's null sink, while no client asks it for a latency, mixes two seconds of
    // silence at a time, and takes back no more than the least latency its clients ask for. A
    // stream that started there would be heard only when the rest had played, up to two seconds
    // late (and the clock of what is heard would stand still meanwhile). Every time a stream is
    // uncorked the sink takes back what it can: the stream, with nothing written yet, is uncorked
    // and corked again until the sink is no further ahead than it will take back when the stream
    // starts, as long as each round takes some back. (Not when a paused stream resumes: it has
    // samples queued, which such a round would play and lose; and while it was paused, the sink
    // kept to its latency.) A sink that takes back all it has mixed (a
    // sound card's) needs one round at most, and one that another client keeps close to the sound
    // needs none. With the main loop locked.
    void catchUpSink() {
        const pa_usec_t deadline = pa_rtclock_now() + kCatchUpTimeout;
        pa_usec_t ahead = UINT64_MAX;
        for (int round = 0; round < kCatchUpRounds; ++round) {
            if (!await(pa_stream_update_timing_info(stream, onDone, nullptr), deadline)) return;
            const pa_timing_info* timing = pa_stream_get_timing_info(stream);
            if (timing == nullptr || timing->sink_usec <= timing->configured_sink_usec ||
                timing->sink_usec >= ahead)
                return;
            ahead = timing->sink_usec;
            if (!await(pa_stream_cork(stream, 0, onDone, nullptr), deadline) ||
                !await(pa_stream_cork(stream, 1, onDone, nullptr), deadline))
                return;
        }
    }

    // The server's volume of the stream, with the main loop locked. A new stream gets full volume
    // this way too, once it is ready: PipeWire's session manager gives a new stream the volume an
    // earlier one of the same program was left at, and every play starts at full volume.
    void setServerVolume(pa_volume_t v) {
        pa_cvolume volume;
        pa_cvolume_set(&volume, kSpec.channels, v);
        run(pa_context_set_sink_input_volume(connection.context, pa_stream_get_index(stream), &volume,
                                             nullptr, nullptr));
    }

    void closeStream() {
        ++epoch;
        if (stream == nullptr) return;
        pa_stream_set_state_callback(stream, nullptr, nullptr);
        pa_stream_set_write_callback(stream, nullptr, nullptr);
        pa_stream_disconnect(stream);
        pa_stream_unref(stream);
        stream = nullptr;
    }

    static void onState(pa_stream*, void*) { signalLoop(); }

    static void onWrite(pa_stream* s, size_t bytes, void* self) {
        static_cast<PulseOutput*>(self)->fill(s, bytes);
    }

    // The server can take `bytes` more: pulled from the stream buffer (silence while it is stopped),
    // but only while the stream plays.
    void fill(pa_stream* s, size_t bytes) {
        while (!corked && bytes >= kBytesPerSample) {
            void* data = nullptr;
            size_t size = bytes;
            if (pa_stream_begin_write(s, &data, &size) < 0 || data == nullptr) return;
            size = (size < bytes ? size : bytes) & ~size_t(kBytesPerSample - 1);
            if (size == 0) {
                pa_stream_cancel_write(s);
                return;
            }
            // Counted before the stream buffer's position moves: the clock, which reads that
            // position without the main loop's lock, never sees it ahead of what was written.
            written += size;
            if (source != nullptr) {
                pull(source->stream, static_cast<uint8_t*>(data), uint32_t(size));
            } else {
                std::memset(data, 0, size);
            }
            pa_stream_write(s, data, size, nullptr, 0, PA_SEEK_RELATIVE);
            bytes -= size;
        }
    }
};

}  // namespace

SoundOutput* openPulseOutput(bool& serverAnswered) {
    serverAnswered = false;
    const pa_usec_t deadline = pa_rtclock_now() + kOpenTimeout;
    if (!connect(deadline, serverAnswered)) return nullptr;
    PulseOutput* output = new (std::nothrow) PulseOutput;
    if (output == nullptr) return nullptr;
    if (!output->open(deadline)) {
        delete output;
        if (connection.streams == 0) disconnect();
        return nullptr;
    }
    ++connection.streams;
    return output;
}

void finishPulseOutputs() {
    if (connection.streams == 0) disconnect();
}

}  // namespace sidtune::platform
