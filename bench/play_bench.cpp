// The cost of playing, through the real plugin as a Quenbrix host loads it (on Linux PulseAudio's own
// client), into
// whatever sound server the process sees (scripts/with-pulse.sh starts one):
//   PlayWhile/E the demo tune plays for 20 s while the host's thread sleeps, with E sound effects
//               over it (0 or 1: a song of effects.sid for the whole time; 2: none, and the host
//               asks "SidtuneLevel" 50 times a second; 3: the same host waking 50 times a second
//               asking nothing, whose cost is the host's own: the difference is the asking's;
//               4: the same host asking "SidtuneError", a command that only reads a number: the
//               difference from 2 is the plugin's part of the asking);
//               the CPU time the whole process spent meanwhile (streaming thread, the sound
//               library's threads) as a share of one core, and the number of times its threads
//               went to sleep;
//   AskOncePerFrame/A  one ask 20 ms after the last while the demo tune plays ("SidtuneError",
//               "SidtuneLevel"): the asking thread's CPU time;
//   SeekTenMinutes  "SeekSidtune 600" while the demo tune plays: how long the host's thread waits
//               (the song made from its start to ten minutes, unheard);
//   PlayStop/N/I  "PlaySidtune", N milliseconds of playing, "StopSidtune", I milliseconds of
//               quiet: how long the host's thread waits for each command. A stopped device stays
//               open for a second and the next "PlaySidtune" takes it back (I = 0); after that it
//               is closed, which takes a while (I = 1100: a play that has to wait for it), and a
//               play opens a new one (I = 2000).
// Without a server "PlaySidtune" gives 0 and the benchmarks report an error. SIDTUNE_BENCH_PLUGIN
// names another build of the plugin to measure, for a comparison in one sitting.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>

#include "quenbrix_host.h"

namespace {

const std::string kDemo = std::string(SIDTUNE_DEMO_DIR) + "/demo.sid";
const std::string kEffects = std::string(SIDTUNE_DEMO_DIR) + "/effects.sid";

struct Plugin {
    quenbrix::PluginHost host;
    bool ready = false;
    Plugin() {
        std::string error;
        const char* other = std::getenv("SIDTUNE_BENCH_PLUGIN");
        ready = host.start(other != nullptr ? other : SIDTUNE_PLUGIN, error) == quenbrix::Started::Yes;
    }
    int32_t command(const char* name, std::vector<quenbrix::Value> arguments = {}) {
        return host.call(name, arguments).result;
    }
    bool play() { return command("PlaySidtune", {quenbrix::Value::ofText(kDemo)}) == -1; }
    void stop() { command("StopSidtune"); }
};

double cpuSeconds(const rusage& u) {
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void PlayWhile(benchmark::State& state) {
    Plugin plugin;
    if (!plugin.ready || !plugin.play()) {
        state.SkipWithError("the plugin cannot play here (no sound server?)");
        return;
    }
    const double seconds = 20;
    using quenbrix::Value;
    if (state.range(0) != 0 && plugin.command("PlaySidEffect", {Value::ofText(kEffects), Value::ofReal(1),
                                                                Value::ofReal(seconds + 5)}) != -1) {
        state.SkipWithError("the effect does not play");
        return;
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));  // past set-up and the first blocks
    for (auto _ : state) {
        rusage before{}, after{};
        getrusage(RUSAGE_SELF, &before);
        const auto begin = std::chrono::steady_clock::now();
        if (state.range(0) >= 2) {
            const char* ask = state.range(0) == 2   ? "SidtuneLevel"
                              : state.range(0) == 4 ? "SidtuneError"
                                                    : nullptr;
            for (auto at = begin; at < begin + std::chrono::duration<double>(seconds);) {
                at += std::chrono::milliseconds(20);
                if (ask != nullptr) benchmark::DoNotOptimize(plugin.command(ask));
                std::this_thread::sleep_until(at);
            }
        } else {
            std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        }
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        getrusage(RUSAGE_SELF, &after);
        state.SetIterationTime(wall);
        state.counters["cpu_percent_of_a_core"] = 100 * (cpuSeconds(after) - cpuSeconds(before)) / wall;
        state.counters["sleeps_per_second"] = double(after.ru_nvcsw - before.ru_nvcsw) / wall;
    }
    plugin.stop();
}
BENCHMARK(PlayWhile)->Arg(0)->Arg(1)->Arg(2)->Arg(3)->Arg(4)->UseManualTime()->Iterations(1)->Unit(
    benchmark::kSecond);

// One ask while the demo tune plays, 20 ms after the last (as a game asks, once a frame: its caches
// cold): the CPU time of the host's thread for the ask, "SidtuneError" (/0: a command that reads a
// number) or "SidtuneLevel" (/1: the clock's reading of the sound server too). The command is
// found once, as a host that compiles its script does: the difference is the plugin's.
void AskOncePerFrame(benchmark::State& state) {
    Plugin plugin;
    if (!plugin.ready || !plugin.play()) {
        state.SkipWithError("the plugin cannot play here (no sound server?)");
        return;
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const quenbrix::Registration* ask =
        plugin.host.find(state.range(0) == 0 ? "SidtuneError" : "SidtuneLevel");
    const std::vector<quenbrix::Value> none;
    for (auto _ : state) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        timespec before{}, after{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &before);
        benchmark::DoNotOptimize(plugin.host.call(*ask, none).result);
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &after);
        state.SetIterationTime(double(after.tv_sec - before.tv_sec) +
                               double(after.tv_nsec - before.tv_nsec) / 1e9);
    }
    plugin.stop();
}
BENCHMARK(AskOncePerFrame)->Arg(0)->Arg(1)->UseManualTime()->Iterations(500)->Unit(benchmark::kMicrosecond);

void SeekTenMinutes(benchmark::State& state) {
    Plugin plugin;
    if (!plugin.ready || !plugin.play()) {
        state.SkipWithError("the plugin cannot play here (no sound server?)");
        return;
    }
    for (auto _ : state) {
        if (plugin.command("SeekSidtune", {quenbrix::Value::ofReal(600)}) != -1)
            state.SkipWithError("no seek");
    }
    plugin.stop();
}
BENCHMARK(SeekTenMinutes)->Iterations(5)->Unit(benchmark::kMillisecond);

void PlayStop(benchmark::State& state) {
    Plugin plugin;
    if (!plugin.ready) {
        state.SkipWithError("the plugin cannot be loaded");
        return;
    }
    double playSeconds = 0, stopSeconds = 0;
    for (auto _ : state) {
        const auto begin = std::chrono::steady_clock::now();
        if (!plugin.play()) {
            state.SkipWithError("the plugin cannot play here (no sound server?)");
            return;
        }
        const auto played = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::milliseconds(state.range(0)));
        const auto playing = std::chrono::steady_clock::now();
        plugin.stop();
        playSeconds += std::chrono::duration<double>(played - begin).count();
        stopSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - playing).count();
        std::this_thread::sleep_for(std::chrono::milliseconds(state.range(1)));
    }
    state.counters["play_ms"] = 1000 * playSeconds / double(state.iterations());
    state.counters["stop_ms"] = 1000 * stopSeconds / double(state.iterations());
}
BENCHMARK(PlayStop)->Args({0, 0})->Iterations(20)->Unit(benchmark::kMillisecond);
// Stopped after a second of playing, when the stream runs steadily.
BENCHMARK(PlayStop)->Args({1000, 0})->Iterations(10)->Unit(benchmark::kMillisecond);
BENCHMARK(PlayStop)->Args({1000, 1100})->Iterations(10)->Unit(benchmark::kMillisecond);
BENCHMARK(PlayStop)->Args({1000, 2000})->Iterations(10)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
