// How soon the sound follows the commands: a host drives the plugin through a script, a recorder
// takes the test sink's monitor, and the offline render tells where each change begins. Prints
// the delay from each command to its effect in the sound server:
//
//   start    "PlaySidtune" to the first rendered sample (the stream's first half, half a second,
//            is silence by design; the tune begins in the second)
//   volume   "SetSidVolume 0.5" to the first sample at the new volume
//   pause    "PauseSidtune" to silence
//   stop     "StopSidtune" to silence
//   quick    with "SetSidtuneQuickStart 1": "PlaySidtune" to the first rendered sample
//   speed    "SetSidtuneSpeed 2" while playing to the first sample made at the new tempo
//
// Run under scripts/with-pulse.sh, alone or beside a neighbour (SIDTUNE_NEIGHBOUR_MS; run-benchmarks.sh
// runs both). The host is quenbrix-run with --trace, which prints the wall
// clock at each command; by default the Linux one beside the plugin, or any command line given
// (the Windows DLL under Wine: SIDTUNE_WINE path/quenbrix-run.exe --plugin path/sidtune.dll):
//   latency_bench [--runs N] [HOST...]
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/frame_pacing.h"
#include "engine/song.h"
#include "stamped_recording.h"
#include "tune/tune_loader.h"

namespace {

using namespace sidtune;

using test::firstCall;
using test::readTrace;
using Recorder = test::StampedRecorder;

struct Delays {
    double start = NAN, volume = NAN, pause = NAN, stop = NAN, quickStart = NAN, speed = NAN;
};

// Runs a script through the host with the recorder on: the recording, the trace and where the
// render begins in the recording (`offset`), or false when the host failed or nothing was heard.
bool runScript(const std::vector<std::string>& host, const std::string& script,
               const std::vector<int16_t>& offline, Recorder& recorder, std::vector<test::TracedCall>& trace,
               size_t& offset) {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "sidtune-latency";
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "script.qb") << script;
    std::string command;
    for (const std::string& word : host) command += "'" + word + "' ";
    command += "--trace " + (dir / "script.qb").string() + " >/dev/null 2>" + (dir / "trace").string();
    if (!recorder.ok()) return false;
    const int status = std::system(command.c_str());
    recorder.stop();
    if (status != 0) {
        std::fprintf(stderr, "latency_bench: the host failed (%d): %s\n", status, command.c_str());
        return false;
    }
    trace = readTrace((dir / "trace").string());
    offset = test::renderOffset(recorder.samples, offline);
    return offset < recorder.samples.size();
}

// The first recording index from `from` on where the recording leaves the render (aligned at
// `offset`), looked for from a little before `commandTime` on (a platform that is not exact at its
// start would be found there).
size_t leavesRender(const Recorder& recorder, size_t offset, const std::vector<int16_t>& offline,
                    double commandTime) {
    const std::vector<int16_t>& r = recorder.samples;
    size_t i = 0;
    while (offset + i < r.size() && recorder.timeOf(offset + i) < commandTime - 0.1) ++i;
    while (offset + i < r.size() && i < offline.size() && std::abs(r[offset + i] - offline[i]) <= 4) ++i;
    return offset + i;
}

void measureControl(const std::vector<std::string>& host, const std::string& tune,
                    const std::vector<int16_t>& offline, Delays& d) {
    Recorder recorder;
    std::vector<test::TracedCall> trace;
    size_t offset = 0;
    if (!runScript(host,
                   "ok = PlaySidtune(\"" + tune +
                       "\")\nWait 2500\nSetSidVolume 0.5\nWait 1500\nPauseSidtune\nWait 1000\n"
                       "ResumeSidtune\nWait 1500\nStopSidtune\nWait 700\n",
                   offline, recorder, trace, offset)) {
        return;
    }
    auto t = [&](const char* name) { return firstCall(trace, name); };
    const std::vector<int16_t>& r = recorder.samples;
    d.start = recorder.timeOf(offset) - t("PlaySidtune");
    const size_t changed = leavesRender(recorder, offset, offline, t("SetSidVolume"));
    d.volume = recorder.timeOf(changed) - t("SetSidVolume");
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
    d.pause = recorder.timeOf(silenceFrom(changed)) - t("PauseSidtune");
    // The stop: the last sound.
    size_t last = r.size();
    while (last > 0 && r[last - 1] == 0) --last;
    d.stop = recorder.timeOf(last) - t("StopSidtune");
}

// With the quick start: the start, and a change of tempo (the first sample off the render).
void measureSettings(const std::vector<std::string>& host, const std::string& tune,
                     const std::vector<int16_t>& offline, Delays& d) {
    Recorder recorder;
    std::vector<test::TracedCall> trace;
    size_t offset = 0;
    if (!runScript(host,
                   "SetSidtuneQuickStart 1\nok = PlaySidtune(\"" + tune +
                       "\")\nWait 2300\nSetSidtuneSpeed 2\nWait 2500\nStopSidtune\nSetSidtuneSpeed 1\n"
                       "SetSidtuneQuickStart 0\nWait 300\n",
                   offline, recorder, trace, offset)) {
        return;
    }
    d.quickStart = recorder.timeOf(offset) - firstCall(trace, "PlaySidtune");
    const double command = firstCall(trace, "SetSidtuneSpeed");
    d.speed = recorder.timeOf(leavesRender(recorder, offset, offline, command)) - command;
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
    auto song = std::make_unique<Song>();
    if (beginTuneFile(*song, tune.c_str(), 0) != PlayError::None) return 1;
    std::vector<int16_t> offline(20 * kBlockSamples);
    for (int b = 0; b < 20; ++b) renderSong(*song, offline.data() + b * kBlockSamples, kBlockSamples);

    // Alone, or beside the neighbour that scripts/with-pulse.sh starts for SIDTUNE_NEIGHBOUR_MS.
    const char* neighbour = std::getenv("SIDTUNE_NEIGHBOUR_MS");
    if (neighbour != nullptr) {
        std::printf("beside a neighbour: a stream of silence with a latency of %s ms\n", neighbour);
    } else {
        std::printf(
            "alone: the measured stream the server's only playback client (the recorder asks 5 ms)\n");
    }
    std::printf("%-4s %8s %8s %8s %8s %8s %8s   (seconds from the command to its effect)\n", "run", "start",
                "volume", "pause", "stop", "quick", "speed");
    std::vector<Delays> all;
    for (int run = 1; run <= runs; ++run) {
        Delays d;
        measureControl(host, tune, offline, d);
        measureSettings(host, tune, offline, d);
        all.push_back(d);
        std::printf("%-4d %8.3f %8.3f %8.3f %8.3f %8.3f %8.3f\n", run, d.start, d.volume, d.pause, d.stop,
                    d.quickStart, d.speed);
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
    std::printf("%-4s %8.3f %8.3f %8.3f %8.3f %8.3f %8.3f\n", "max", worst(&Delays::start),
                worst(&Delays::volume), worst(&Delays::pause), worst(&Delays::stop),
                worst(&Delays::quickStart), worst(&Delays::speed));
    return 0;
}
