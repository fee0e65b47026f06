// The simulated audio platform; see platform_sim.h.
#include "sim/platform_sim.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

#include "audio/software_platform.h"
#include "audio/std_events.h"

namespace sidtune::platform {

struct Device {};

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
    std::atomic<bool> outputLost{false};
    std::atomic<uint32_t> heldBytes{0};
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
    s.outputLost = false;
    s.heldBytes = 0;
}

void loseOutput() { state().outputLost = true; }

void holdNotYetHeard(uint32_t bytes) { state().heldBytes = bytes; }

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

void release(Device* device) {
    sim::call("Release(device)");
    delete device;
    sim::countLive(&sim::LiveObjects::devices, -1);
}

void finishReleases() {}
void unloadingWithoutUnload() {}

// The hooks of the shared buffer calls: every call logged under its DirectSound name, the
// failure switches, and the live buffers and notification interfaces counted.
namespace software {

int beforeCall(BufferCall call, const Buffer* buffer, uint32_t offset, bool entireBuffer) {
    const bool primary = buffer != nullptr && buffer->primary;
    // "Lock(entire)", "Lock(22050)": the whole buffer, or the offset.
    auto named = [&](const char* name) {
        std::string text(name);
        text.append("(").append(entireBuffer ? std::string("entire") : std::to_string(offset)).append(")");
        return text;
    };
    switch (call) {
        case BufferCall::CreatePrimaryBuffer:
            return sim::call("CreateSoundBuffer(primary)", Step::CreatePrimaryBuffer);
        case BufferCall::CreateStreamBuffer:
            return sim::call("CreateSoundBuffer(stream)", Step::CreateStreamBuffer);
        case BufferCall::QueryBuffer8:
            return sim::call("QueryInterface(IDirectSoundBuffer8)", Step::QueryBuffer8);
        case BufferCall::QueryNotify:
            return sim::call("QueryInterface(IDirectSoundNotify)", Step::QueryNotify);
        case BufferCall::SetFormat: return sim::call("SetFormat", Step::SetFormat);
        case BufferCall::Play:
            return primary ? sim::call("Play(primary)", Step::PlayPrimaryBuffer) : sim::call("Play(stream)");
        case BufferCall::Stop: return sim::call(primary ? "Stop(primary)" : "Stop(stream)");
        case BufferCall::Lock: {
            if (sim::call(named("Lock").c_str(), entireBuffer ? Step::ClearingLock : Step::None)) return 1;
            std::lock_guard<std::mutex> guard(sim::state().mutex);
            if (entireBuffer || sim::state().failingLocks == 0) return 0;
            --sim::state().failingLocks;
            return 1;
        }
        case BufferCall::Unlock: return sim::call(named("Unlock").c_str());
        case BufferCall::SetVolume: ++sim::state().setVolumeCalls; return sim::call("SetVolume");
        case BufferCall::GetPosition: return sim::call("GetCurrentPosition");
        case BufferCall::GetStatus: return sim::call("GetStatus");
        case BufferCall::GetLatency: return sim::call("GetLatency");
        case BufferCall::GetVolumeLatency: return sim::call("GetVolumeLatency");
        case BufferCall::GetRetakable: return sim::call("GetRetakable");
        case BufferCall::RetakeFrom: return sim::call(("RetakeFrom(" + std::to_string(offset) + ")").c_str());
        case BufferCall::SetNotificationPositions:
            return sim::call("SetNotificationPositions", Step::SetNotificationPositions);
        case BufferCall::Release: return sim::call(primary ? "Release(primary)" : "Release(stream)");
        case BufferCall::ReleaseNotify: return sim::call("Release(notify)");
    }
    return 0;
}

void bufferCreated(Buffer* buffer) {
    sim::countLive(&sim::LiveObjects::buffers, 1);
    if (buffer->primary) return;
    buffer->stream.data.assign(buffer->stream.data.size(), 0xAA);  // garbage until it is cleared
    sim::state().stream = buffer;
}

void bufferDeleted(Buffer* buffer) {
    sim::countLive(&sim::LiveObjects::buffers, -1);
    if (sim::state().stream == buffer) sim::state().stream = nullptr;
}

void notifyCreated(Notify*) { sim::countLive(&sim::LiveObjects::notifies, 1); }
void notifyDeleted(Notify*) { sim::countLive(&sim::LiveObjects::notifies, -1); }

int primaryPlays(Buffer*) { return 0; }
void streamPlays(Buffer*, bool) {}
bool volumeApplied(Buffer*, int32_t) { return false; }
uint32_t bytesNotYetHeard(Buffer*) { return sim::state().heldBytes.load(); }
uint32_t bytesBeforeVolumeIsHeard(Buffer*) { return 0; }
// What the device holds not yet heard can be taken again (logged as a call; the test's listening
// has heard it already).
uint32_t bytesRetakable(Buffer*) { return sim::state().heldBytes.load(); }
bool retakeFrom(Buffer*, uint32_t) { return true; }
bool outputLost(Buffer*) { return sim::state().outputLost; }

}  // namespace software

Event* createEvent() {
    if (sim::call("CreateEvent", Step::CreateEvent)) return nullptr;
    Event* e = stdCreateEvent();
    if (e != nullptr) sim::countLive(&sim::LiveObjects::events, 1);
    return e;
}

Thread* createThread(int (*entry)(void*), void* argument) {
    if (sim::call("CreateThread", Step::CreateThread)) return nullptr;
    Thread* t = stdCreateThread(entry, argument);
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
