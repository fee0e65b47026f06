// How soon the sound follows a command, on one clock: the test sink's monitor recorded in 5 ms
// pieces, each stamped with the wall-clock time its last sample was played, and the trace a host prints of
// its commands (quenbrix-run
// --trace: "trace SECONDS NAME", the wall clock at each command). Used by the real-audio tests and
// bench/latency_bench; it needs libpulse-simple and a server (scripts/with-pulse.sh).
//
// The recorder asks the monitor for 5 ms pieces, and so the sink mixes no more than 5 ms ahead
// while it records: the monitor then hands over what was played as it is played, each piece
// stamped within a millisecond or two: a piece is read once it has played, so the earliest reads
// around it, less the samples between, tell when it played. (The server's own account of what the
// monitor still held was off by up to 0.7 s for a while after a stream started on a sink that had
// had no playback client.) A recorder that asks for no latency leaves the sink at
// sidtune's own pace (100 ms mixed ahead), but its monitor hands over bursts whose stamps were off
// by up to a second here, too loose for a test. The recorder is no playback client: sidtune's
// stream is the server's only one, as on a desktop where nothing else plays, but it does set the
// sink's pace, so the tests also judge sidtune alone with no recorder at all, by what the scripts
// answer (playback_test.cpp).
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
        // A sink that ran with no client has mixed up to two seconds ahead: the monitor's first
        // piece comes once that has played. Then the stamps settle (the server's timing reports
        // come often at first).
        for (int wait = 0; wait < 300 && piecesRead.load() == 0; ++wait)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    ~StampedRecorder() { stop(); }
    StampedRecorder(const StampedRecorder&) = delete;
    StampedRecorder& operator=(const StampedRecorder&) = delete;

    // Records a little longer, for what the server still holds, then stops: the samples, now
    // stamped.
    const std::vector<int16_t>& stop() {
        if (thread.joinable()) std::this_thread::sleep_for(std::chrono::milliseconds(300));
        running = false;
        if (thread.joinable()) thread.join();
        if (source != nullptr) pa_simple_free(source);
        source = nullptr;
        stamp();
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
            samples.insert(samples.end(), piece.begin(), piece.end());
            reads.push_back(now);
            ++piecesRead;
        }
    }
    // Each piece played no later than any read within kWindow pieces of it, less the samples
    // between: the earliest of those reads came as it played (a piece comes within the sink's 5 ms
    // of being played; a read can only be late, when the thread was not run at once).
    void stamp() {
        constexpr size_t kWindow = 40;
        stamps.assign(reads.size(), 0.0);
        for (size_t p = 0; p < reads.size(); ++p) {
            double earliest = reads[p];
            for (size_t j = p > kWindow ? p - kWindow : 0; j < std::min(reads.size(), p + kWindow + 1); ++j)
                earliest = std::min(earliest, reads[j] - (double(j) - double(p)) * kPiece / kSampleRate);
            stamps[p] = earliest;
        }
    }
    pa_simple* source = nullptr;
    bool opened = false;  // set before the recording thread starts
    std::thread thread;
    std::atomic<bool> running{true};
    std::atomic<int> piecesRead{0};
    std::vector<double> reads, stamps;
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
