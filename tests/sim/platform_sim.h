// The simulated audio platform of the tests: no device, no time. The test moves the play
// position (advance), and the stream signals its events as a real one would: offset 0 on start
// and whenever the position wraps, the middle when it passes it, the stop event on stop. Each
// platform step can be made to fail, and every live object is counted, so that set-up failures,
// leaks and waits on handles that were never obtained show.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sidtune::sim {

enum class Step {
    None,
    CreateDevice,
    SetCooperativeLevel,
    GetCaps,
    CreatePrimaryBuffer,
    SetFormat,
    PlayPrimaryBuffer,
    CreateStreamBuffer,
    QueryBuffer8,
    QueryNotify,
    CreateEvent,
    SetNotificationPositions,
    ClearingLock,
    CreateThread,
};

struct LiveObjects {
    int devices = 0;
    int buffers = 0;  // buffer objects, each counted once however many references it has
    int notifies = 0;
    int events = 0;
    int threads = 0;
    bool operator==(const LiveObjects&) const = default;
};

// Back to a platform with no failures and an empty call log. Only while nothing is alive.
void reset();
void failAt(Step step);
// The next `count` locks of the stream fail (as a lost buffer would).
void failLocks(int count);
// The device goes away (its sound server dies): the stream buffer is lost from now on.
void loseOutput();
// What the device says it holds of the stream, not yet heard, from now on (0 after a reset); a
// sound server's count of it may change while the stream is stopped.
void holdNotYetHeard(uint32_t bytes);

LiveObjects live();
// The platform calls made since the last reset, by name, in order.
std::vector<std::string> calls();

// The stream buffer of the engine that is set up, if any.
bool streamExists();
bool streamPlaying();
uint32_t streamPosition();
// Plays `bytes` bytes of the stream: moves the position, signals the events passed, and returns
// the samples as the device would hear them (with the volume applied).
std::vector<int16_t> advance(uint32_t bytes);
// The whole stream buffer as it is now.
std::vector<int16_t> streamContents();
int32_t streamVolume();
int setVolumeCalls();

}  // namespace sidtune::sim
