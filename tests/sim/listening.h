// Listening to the simulated platform's stream as a device would: the position moved by the test,
// a refill of the worker's waited for at every half passed, and what is heard returned.
//
//   listen(bytes)          plays `bytes` of the stream; what the device hears
//   waitForRefills(n)      until the worker has finished n refills in all (an unlock of a half each)
//   eventually(condition)  until it holds; false after ten seconds
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "audio/audio_format.h"
#include "sim/platform_sim.h"

namespace sidtune::sim {

template <typename Condition>
bool eventually(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// The simulation's name of a lock or unlock at an offset: "Lock(44100)".
inline std::string at(const char* call, uint32_t offset) {
    return std::string(call) + "(" + std::to_string(offset) + ")";
}

inline int countCalls(const std::string& name) {
    int n = 0;
    for (const std::string& c : calls()) n += c == name;
    return n;
}

inline int refills() { return countCalls(at("Unlock", 0)) + countCalls(at("Unlock", kBlockBytes)); }

inline bool waitForRefills(int count) {
    return eventually([&] { return refills() >= count; });
}

inline std::vector<int16_t> listen(uint32_t bytes) {
    std::vector<int16_t> heard;
    for (uint32_t played = 0; played < bytes;) {
        const uint32_t toNextHalf = kBlockBytes - streamPosition() % kBlockBytes;
        const uint32_t step = std::min(bytes - played, toNextHalf);
        const int before = refills();
        const std::vector<int16_t> s = advance(step);
        heard.insert(heard.end(), s.begin(), s.end());
        played += step;
        if (step == toNextHalf) waitForRefills(before + 1);
    }
    return heard;
}

}  // namespace sidtune::sim
