// How soon the sound follows a command, on one clock: the test sink's monitor recorded in 5 ms
// pieces, each stamped with the wall-clock time its last sample was played (the time it was read,
// less what the source still held), and the trace a host prints of its commands (quenbrix-run
// --trace: "trace SECONDS NAME", the wall clock at each command). Used by the real-audio tests and
// bench/latency_bench; it needs libpulse-simple and a server (scripts/with-pulse.sh).
#pragma once

#include <pulse/error.h>
#include <pulse/simple.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "audio/audio_format.h"

namespace sidtune::test {

inline double wallClock() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

class StampedRecorder {
  public:
    StampedRecorder() {
        const pa_sample_spec format{PA_SAMPLE_S16LE, kSampleRate, 1};
        pa_buffer_attr attributes{};
        attributes.maxlength = uint32_t(-1);
        attributes.fragsize = kPiece * 2;
        int error = 0;
        source = pa_simple_new(nullptr, "sidtune-recorder", PA_STREAM_RECORD, "test.monitor", "record",
                               &format, nullptr, &attributes, &error);
        if (source == nullptr) {
            std::fprintf(stderr, "no recording: %s\n", pa_strerror(error));
            return;
        }
        opened = true;
        thread = std::thread([this] { run(); });
        std::this_thread::sleep_for(std::chrono::milliseconds(300));  // recording by now
    }
    ~StampedRecorder() { stop(); }
    StampedRecorder(const StampedRecorder&) = delete;
    StampedRecorder& operator=(const StampedRecorder&) = delete;

    // Records a little longer, for what the server still holds, then stops: the samples.
    const std::vector<int16_t>& stop() {
        if (thread.joinable()) std::this_thread::sleep_for(std::chrono::milliseconds(300));
        running = false;
        if (thread.joinable()) thread.join();
        if (source != nullptr) pa_simple_free(source);
        source = nullptr;
        return samples;
    }
    bool ok() const { return opened; }  // the monitor could be recorded
    // After stop, the longest wait for the next piece of the monitor, in seconds: the server
    // delivers one every few ms, so a long wait is a machine that stopped running its programs (or
    // the server) for a while.
    double longestStall() const { return longestWait; }
    // The wall-clock time sample i was played.
    double timeOf(size_t i) const {
        if (stamps.empty()) return NAN;
        const size_t piece = std::min(i / kPiece, stamps.size() - 1);
        return stamps[piece] - double((piece + 1) * kPiece - i) / kSampleRate;
    }
    // The sample played at wall-clock time t.
    size_t sampleAt(double t) const {
        size_t piece = 0;
        while (piece + 1 < stamps.size() && stamps[piece] < t) ++piece;
        const double back = (stamps.empty() ? t : stamps[piece]) - t;
        const long i = long((piece + 1) * kPiece) - long(std::lround(back * kSampleRate));
        return size_t(std::max(0L, i));
    }
    std::vector<int16_t> samples;

  private:
    static constexpr size_t kPiece = 220;  // 5 ms
    void run() {
        std::vector<int16_t> piece(kPiece);
        while (running) {
            int error = 0;
            if (pa_simple_read(source, piece.data(), piece.size() * 2, &error) < 0) break;
            const double now = wallClock();
            if (lastRead > 0) longestWait = std::max(longestWait, now - lastRead);
            lastRead = now;
            const pa_usec_t held = pa_simple_get_latency(source, &error);
            samples.insert(samples.end(), piece.begin(), piece.end());
            stamps.push_back(now - double(held) / 1e6);
        }
    }
    pa_simple* source = nullptr;
    bool opened = false;  // set before the recording thread starts
    std::thread thread;
    std::atomic<bool> running{true};
    std::vector<double> stamps;
    double lastRead = 0, longestWait = 0;
};

// Where the render begins in a recording of it: the recording index of the render's first sample,
// found by the run of 2000 samples from the first audible one on. A sound server that starts a
// stream on a sink already running rewinds the sink to mix it in at once, and its monitor keeps
// what it had recorded before the rewind: up to `mayBeLost` of the render's first samples can be
// missing from the recording (they were played). Returns recorded.size() when nothing matches.
inline size_t renderOffset(const std::vector<int16_t>& recorded, const std::vector<int16_t>& offline,
                           size_t mayBeLost = 2 * kSampleRate / 100) {
    auto audible = [](int16_t s) { return std::abs(int(s)) > 200; };
    const size_t r0 = size_t(std::find_if(recorded.begin(), recorded.end(), audible) - recorded.begin());
    const size_t o0 = size_t(std::find_if(offline.begin(), offline.end(), audible) - offline.begin());
    constexpr size_t kRun = 2000;
    for (size_t lost = 0; lost <= mayBeLost && r0 + kRun <= recorded.size(); ++lost) {
        const size_t o = o0 + lost;
        if (o + kRun > offline.size() || r0 + lost < o) break;
        size_t j = 0;
        while (j < kRun && std::abs(recorded[r0 + j] - offline[o + j]) <= 4) ++j;
        if (j == kRun) return r0 - o;
    }
    return recorded.size();
}

// The commands of a host's trace, in order: each name and the wall-clock time it was called.
struct TracedCall {
    std::string name;
    double time;
};

inline std::vector<TracedCall> readTrace(const std::string& path) {
    std::vector<TracedCall> calls;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string word, name;
        double time = 0;
        if (fields >> word >> time >> name && word == "trace") calls.push_back({name, time});
    }
    return calls;
}

// When `name` was first called; NAN when it was not.
inline double firstCall(const std::vector<TracedCall>& calls, const std::string& name) {
    for (const TracedCall& c : calls) {
        if (c.name == name) return c.time;
    }
    return NAN;
}

}  // namespace sidtune::test
