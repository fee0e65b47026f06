// How soon the sound follows the commands: a host drives the plugin through a script, a recorder
// takes the test sink's monitor, and the offline render tells where each change begins. Prints
// the delay from each command to its effect in the sound server:
//
//   start    "PlaySidtune" to the first rendered sample (the stream's first half, half a second,
//            is silence by design; the tune begins in the second)
//   volume   "SetSidVolume 0.5" to the first sample at the new volume
//   pause    "PauseSidtune" to silence
//   stop     "StopSidtune" to silence
//
// Run under scripts/with-pulse.sh. The host is quenbrix-run with --trace, which prints the wall
// clock at each command; by default the Linux one beside the plugin, or any command line given
// (the Windows DLL under Wine: SIDTUNE_WINE path/quenbrix-run.exe --plugin path/sidtune.dll):
//   latency_bench [--runs N] [HOST...]
#include <pulse/error.h>
#include <pulse/simple.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine_state.h"
#include "engine/frame_pacing.h"
#include "engine/song.h"
#include "tune/tune_loader.h"

namespace {

using namespace sidtune;

double wallClock() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// The monitor of the test sink, read in 5 ms pieces, each stamped with the wall-clock time its
// last sample was played: the time it was read, less what the source still held.
class Recorder {
  public:
    Recorder() {
        const pa_sample_spec format{PA_SAMPLE_S16LE, kSampleRate, 1};
        pa_buffer_attr attributes{};
        attributes.maxlength = uint32_t(-1);
        attributes.fragsize = kPiece * 2;
        int error = 0;
        source = pa_simple_new(nullptr, "latency_bench", PA_STREAM_RECORD, "test.monitor", "record", &format,
                               nullptr, &attributes, &error);
        if (source == nullptr) {
            std::fprintf(stderr, "latency_bench: no recording: %s\n", pa_strerror(error));
            return;
        }
        thread = std::thread([this] { run(); });
    }
    ~Recorder() { stop(); }
    void stop() {
        running = false;
        if (thread.joinable()) thread.join();
        if (source != nullptr) pa_simple_free(source);
        source = nullptr;
    }
    bool ok() const { return source != nullptr; }
    // The wall-clock time sample i was played.
    double timeOf(size_t i) const {
        const size_t piece = std::min(i / kPiece, stamps.size() - 1);
        return stamps[piece] - double((piece + 1) * kPiece - i) / kSampleRate;
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
            const pa_usec_t held = pa_simple_get_latency(source, &error);
            samples.insert(samples.end(), piece.begin(), piece.end());
            stamps.push_back(now - double(held) / 1e6);
        }
    }
    pa_simple* source = nullptr;
    std::thread thread;
    std::atomic<bool> running{true};
    std::vector<double> stamps;
};

// The host's trace: command name -> the wall-clock time it was called.
std::map<std::string, double> readTrace(const std::string& path) {
    std::map<std::string, double> times;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string word, name;
        double time = 0;
        if (fields >> word >> time >> name && word == "trace" && !times.count(name)) times[name] = time;
    }
    return times;
}

struct Delays {
    double start = NAN, volume = NAN, pause = NAN, stop = NAN;
};

Delays measureOnce(const std::vector<std::string>& host, const std::string& tune,
                   const std::vector<int16_t>& offline) {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "sidtune-latency";
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "script.qb")
        << "ok = PlaySidtune(\"" << tune
        << "\")\nWait 2500\nSetSidVolume 0.5\nWait 1500\nPauseSidtune\nWait 1000\n"
           "ResumeSidtune\nWait 1500\nStopSidtune\nWait 700\n";
    std::string command;
    for (const std::string& word : host) command += "'" + word + "' ";
    command += "--trace " + (dir / "script.qb").string() + " >/dev/null 2>" + (dir / "trace").string();

    Recorder recorder;
    Delays d;
    if (!recorder.ok()) return d;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const int status = std::system(command.c_str());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    recorder.stop();
    if (status != 0) {
        std::fprintf(stderr, "latency_bench: the host failed (%d): %s\n", status, command.c_str());
        return d;
    }
    const std::map<std::string, double> t = readTrace((dir / "trace").string());
    const std::vector<int16_t>& r = recorder.samples;

    auto audible = [](int16_t s) { return std::abs(int(s)) > 200; };
    const size_t o0 = size_t(std::find_if(offline.begin(), offline.end(), audible) - offline.begin());
    const size_t r0 = size_t(std::find_if(r.begin(), r.end(), audible) - r.begin());
    if (r0 >= r.size() || r0 < o0) return d;
    const size_t offset = r0 - o0;  // recording index of the render's first sample
    d.start = recorder.timeOf(offset) - t.at("PlaySidtune");

    // The first sample that is no longer the render at full volume, looked for from a little
    // before the command on (a platform that is not exact at its start would be found there).
    size_t i = 0;
    while (offset + i < r.size() && recorder.timeOf(offset + i) < t.at("SetSidVolume") - 0.1) ++i;
    while (offset + i < r.size() && i < offline.size() && std::abs(r[offset + i] - offline[i]) <= 4) ++i;
    d.volume = recorder.timeOf(offset + i) - t.at("SetSidVolume");
    // The pause: the first of 50 ms of exact silence after that.
    auto silenceFrom = [&](size_t from) {
        for (size_t run = 0; from + run < r.size(); ++run) {
            if (r[from + run] != 0) {
                from += run + 1;
                run = size_t(-1);
            } else if (run == kSampleRate / 20) {
                return from;
            }
        }
        return r.size();
    };
    const size_t paused = silenceFrom(offset + i);
    d.pause = recorder.timeOf(paused) - t.at("PauseSidtune");
    // The stop: the last sound.
    size_t last = r.size();
    while (last > 0 && r[last - 1] == 0) --last;
    d.stop = recorder.timeOf(last) - t.at("StopSidtune");
    return d;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 5;
    std::vector<std::string> host;
    for (int a = 1; a < argc; ++a) {
        if (std::string(argv[a]) == "--runs" && a + 1 < argc) {
            runs = std::atoi(argv[++a]);
        } else {
            host.emplace_back(argv[a]);
        }
    }
    if (host.empty()) host = {SIDTUNE_QUENBRIX_RUN, "--plugin", SIDTUNE_PLUGIN};
    if (std::getenv("PULSE_SERVER") == nullptr) {
        std::fprintf(stderr, "latency_bench: no sound server (run under scripts/with-pulse.sh)\n");
        return 1;
    }
    const std::string tune = std::string(SIDTUNE_DEMO_DIR) + "/demo.sid";
    auto e = std::make_unique<EngineState>();
    if (beginTuneFile(*e, tune.c_str(), 0) != SongStart::Begun) return 1;
    std::vector<int16_t> offline(20 * kBlockSamples);
    for (int b = 0; b < 20; ++b) renderBlock(*e, offline.data() + b * kBlockSamples, kBlockBytes);

    std::printf("%-4s %8s %8s %8s %8s   (seconds from the command to its effect)\n", "run", "start", "volume",
                "pause", "stop");
    std::vector<Delays> all;
    for (int run = 1; run <= runs; ++run) {
        const Delays d = measureOnce(host, tune, offline);
        all.push_back(d);
        std::printf("%-4d %8.3f %8.3f %8.3f %8.3f\n", run, d.start, d.volume, d.pause, d.stop);
        std::fflush(stdout);
    }
    auto worst = [&](double Delays::*field) {
        double w = 0;
        for (const Delays& d : all) {
            if (std::isnan(d.*field)) return double(NAN);
            w = std::max(w, d.*field);
        }
        return w;
    };
    std::printf("%-4s %8.3f %8.3f %8.3f %8.3f\n", "max", worst(&Delays::start), worst(&Delays::volume),
                worst(&Delays::pause), worst(&Delays::stop));
    return 0;
}
