// The simulated audio platform; see platform_sim.h.
#include "audio/platform_sim.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

#include "audio/software_stream.h"
#include "audio/std_events.h"

namespace sidtune::platform {

struct Device {};

struct Buffer {
    bool primary = false;
    int references = 1;
    SoftwareStream stream;
};

struct Notify {
    Buffer* buffer;
};

}  // namespace sidtune::platform

namespace sidtune::sim {
namespace {

using namespace sidtune::platform;

// The simulation's own bookkeeping, used from the host's thread and the worker thread.
struct State {
    // A process can be started with a step set to fail, SIDTUNE_SIM_FAIL=<step number>, for the
    // tests that run the plugin inside another program.
    State() {
        if (const char* step = std::getenv("SIDTUNE_SIM_FAIL")) failing = Step(std::atoi(step));
    }
    std::mutex mutex;
    Step failing = Step::None;
    int failingLocks = 0;
    LiveObjects live;
    std::vector<std::string> calls;
    Buffer* stream = nullptr;
    std::atomic<int> setVolumeCalls{0};
};

State& state() {
    static State s;
    return s;
}

// Logs the call and tells whether it is the one set to fail.
bool call(const char* name, Step step = Step::None) {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.mutex);
    s.calls.emplace_back(name);
    return step != Step::None && s.failing == step;
}

void countLive(int LiveObjects::*field, int change) {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.mutex);
    s.live.*field += change;
}

}  // namespace

void reset() {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.mutex);
    s.failing = Step::None;
    s.failingLocks = 0;
    s.calls.clear();
    s.setVolumeCalls = 0;
}

void failAt(Step step) {
    std::lock_guard<std::mutex> guard(state().mutex);
    state().failing = step;
}

void failLocks(int count) {
    std::lock_guard<std::mutex> guard(state().mutex);
    state().failingLocks = count;
}

LiveObjects live() {
    std::lock_guard<std::mutex> guard(state().mutex);
    return state().live;
}

std::vector<std::string> calls() {
    std::lock_guard<std::mutex> guard(state().mutex);
    return state().calls;
}

bool streamExists() { return state().stream != nullptr; }

bool streamPlaying() {
    Buffer* b = state().stream;
    if (b == nullptr) return false;
    std::lock_guard<std::mutex> guard(b->stream.mutex);
    return b->stream.playing;
}

uint32_t streamPosition() {
    Buffer* b = state().stream;
    if (b == nullptr) return 0;
    std::lock_guard<std::mutex> guard(b->stream.mutex);
    return b->stream.position;
}

std::vector<int16_t> advance(uint32_t bytes) {
    std::vector<int16_t> out(bytes / 2);
    if (state().stream != nullptr)
        pull(state().stream->stream, reinterpret_cast<uint8_t*>(out.data()), bytes);
    return out;
}

std::vector<int16_t> streamContents() {
    Buffer* b = state().stream;
    if (b == nullptr) return {};
    std::lock_guard<std::mutex> guard(b->stream.mutex);
    std::vector<int16_t> out(b->stream.data.size() / 2);
    std::memcpy(out.data(), b->stream.data.data(), b->stream.data.size());
    return out;
}

int32_t streamVolume() { return state().stream != nullptr ? state().stream->stream.volume.load() : 0; }

int setVolumeCalls() { return state().setVolumeCalls; }

}  // namespace sidtune::sim

namespace sidtune::platform {

using sim::Step;

void* desktopWindow() {
    static int window;
    return &window;
}

int createDevice(Device** device) {
    *device = nullptr;
    if (sim::call("DirectSoundCreate8", Step::CreateDevice)) return 1;
    *device = new Device;
    sim::countLive(&sim::LiveObjects::devices, 1);
    return 0;
}

int setCooperativeLevel(Device*, void* window) {
    return sim::call("SetCooperativeLevel", Step::SetCooperativeLevel) || window == nullptr;
}

int getCaps(Device*) { return sim::call("GetCaps", Step::GetCaps); }

int createPrimaryBuffer(Device*, Buffer** buffer) {
    *buffer = nullptr;
    if (sim::call("CreateSoundBuffer(primary)", Step::CreatePrimaryBuffer)) return 1;
    *buffer = new Buffer;
    (*buffer)->primary = true;
    sim::countLive(&sim::LiveObjects::buffers, 1);
    return 0;
}

int createStreamBuffer(Device*, const WaveFormat& format, uint32_t bytes, Buffer** buffer) {
    *buffer = nullptr;
    if (sim::call("CreateSoundBuffer(stream)", Step::CreateStreamBuffer)) return 1;
    if (format.formatTag != 1 || format.blockAlign == 0 || bytes == 0) return 1;
    Buffer* b = new Buffer;
    b->stream.data.assign(bytes, 0xAA);  // a new buffer holds garbage until it is cleared
    sim::countLive(&sim::LiveObjects::buffers, 1);
    sim::state().stream = b;
    *buffer = b;
    return 0;
}

int queryBuffer8(Buffer* buffer, Buffer** buffer8) {
    *buffer8 = nullptr;
    if (sim::call("QueryInterface(IDirectSoundBuffer8)", Step::QueryBuffer8)) return 1;
    ++buffer->references;
    *buffer8 = buffer;
    return 0;
}

int queryNotify(Buffer* buffer8, Notify** notify) {
    *notify = nullptr;
    if (sim::call("QueryInterface(IDirectSoundNotify)", Step::QueryNotify)) return 1;
    ++buffer8->references;
    *notify = new Notify{buffer8};
    sim::countLive(&sim::LiveObjects::notifies, 1);
    return 0;
}

int setFormat(Buffer* primary, const WaveFormat& format) {
    if (sim::call("SetFormat", Step::SetFormat)) return 1;
    return !primary->primary || format.channels != 2 || format.samplesPerSec != 44100;
}

int play(Buffer* buffer) {
    if (buffer->primary) return sim::call("Play(primary)", Step::PlayPrimaryBuffer);
    sim::call("Play(stream)");
    softwarePlay(buffer->stream);
    return 0;
}

int stop(Buffer* buffer) {
    sim::call(buffer->primary ? "Stop(primary)" : "Stop(stream)");
    if (!buffer->primary) softwareStop(buffer->stream);
    return 0;
}

int lock(Buffer* buffer, uint32_t offset, uint32_t bytes, void** region1, uint32_t* bytes1, void** region2,
         uint32_t* bytes2, uint32_t flags) {
    *region1 = nullptr;
    *bytes1 = 0;
    if (region2 != nullptr) *region2 = nullptr;
    if (bytes2 != nullptr) *bytes2 = 0;
    const bool clearing = flags & kLockEntireBuffer;
    const std::string name = clearing ? "Lock(entire)" : "Lock(" + std::to_string(offset) + ")";
    if (sim::call(name.c_str(), clearing ? Step::ClearingLock : Step::None)) return 1;
    {
        std::lock_guard<std::mutex> guard(sim::state().mutex);
        if (!clearing && sim::state().failingLocks > 0) {
            --sim::state().failingLocks;
            return 1;
        }
    }
    return softwareLock(buffer->stream, offset, bytes, region1, bytes1, region2, bytes2, flags);
}

int unlock(Buffer* buffer, void* region1, uint32_t bytes1, void*, uint32_t) {
    softwareUnlock(buffer->stream);
    const size_t offset = static_cast<uint8_t*>(region1) - buffer->stream.data.data();
    sim::call(bytes1 == buffer->stream.data.size() ? "Unlock(entire)"
                                                   : ("Unlock(" + std::to_string(offset) + ")").c_str());
    return 0;
}

int setVolume(Buffer* buffer, int32_t hundredthsOfDecibel) {
    sim::call("SetVolume");
    ++sim::state().setVolumeCalls;
    if (hundredthsOfDecibel > kVolumeMax || hundredthsOfDecibel < kVolumeMin) return 1;
    buffer->stream.volume = hundredthsOfDecibel;
    return 0;
}

int setNotificationPositions(Notify* notify, uint32_t count, const PositionNotify* positions) {
    if (sim::call("SetNotificationPositions", Step::SetNotificationPositions)) return 1;
    return softwareSetNotifications(notify->buffer->stream, count, positions);
}

void release(Buffer* buffer) {
    sim::call(buffer->primary ? "Release(primary)" : "Release(stream)");
    if (--buffer->references > 0) return;
    if (sim::state().stream == buffer) sim::state().stream = nullptr;
    delete buffer;
    sim::countLive(&sim::LiveObjects::buffers, -1);
}

void release(Notify* notify) {
    sim::call("Release(notify)");
    Buffer* buffer = notify->buffer;
    delete notify;
    sim::countLive(&sim::LiveObjects::notifies, -1);
    if (--buffer->references == 0) {
        if (sim::state().stream == buffer) sim::state().stream = nullptr;
        delete buffer;
        sim::countLive(&sim::LiveObjects::buffers, -1);
    }
}

void release(Device* device) {
    sim::call("Release(device)");
    delete device;
    sim::countLive(&sim::LiveObjects::devices, -1);
}

void finishReleases() {}

Event* createEvent() {
    if (sim::call("CreateEvent", Step::CreateEvent)) return nullptr;
    Event* e = stdCreateEvent();
    if (e != nullptr) sim::countLive(&sim::LiveObjects::events, 1);
    return e;
}

Thread* createThread(int (*entry)()) {
    if (sim::call("CreateThread", Step::CreateThread)) return nullptr;
    Thread* t = stdCreateThread(entry);
    if (t != nullptr) sim::countLive(&sim::LiveObjects::threads, 1);
    return t;
}

void closeHandle(Event* event) {
    sim::call("CloseHandle(event)");
    stdCloseEvent(event);
    sim::countLive(&sim::LiveObjects::events, -1);
}

void closeHandle(Thread* thread) {
    sim::call("CloseHandle(thread)");
    stdCloseThread(thread);
    sim::countLive(&sim::LiveObjects::threads, -1);
}

}  // namespace sidtune::platform
