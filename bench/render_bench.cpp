// Render speed: seconds of audio made per second of wall time, per tune, for the demo tunes and
// the real tunes of the shared test material (skipped when it is absent). Each run renders 60 s of
// song 0 exactly as the player does: half-second blocks, play routine and synthesizer.
// At the end: the median and the slowest tune.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "audio/render_block.h"
#include "cpu/cpu.h"
#include "engine/engine_state.h"
#include "tune/tune_loader.h"

namespace {

using namespace sidtune;

std::map<std::string, double> bestSpeed;  // seconds of audio per second, best run of each tune

bool startTune(const std::string& path) {
    resetMachine(kSampleRate);
    if (loadTune(path.c_str(), 0, kLoadFromFile) != kTuneLoaded) return false;
    engine.renderEnabled = 1;
    callSubroutine(engine.tune.initAddress, 0, kInitInstructionLimit);
    return true;
}

void renderTune(benchmark::State& state, const std::string& name, const std::string& path) {
    std::vector<int16_t> block(kBlockSamples);
    const int blocks = 120;  // 60 seconds
    for (auto _ : state) {
        state.PauseTiming();
        if (!startTune(path)) {
            state.SkipWithError("not a PSID tune");
            return;
        }
        state.ResumeTiming();
        const auto begin = std::chrono::steady_clock::now();
        for (int b = 0; b < blocks; ++b) renderBlock(block.data(), kBlockSamples * 2);
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        benchmark::DoNotOptimize(block.data());
        bestSpeed[name] = std::max(bestSpeed[name], 60.0 / wall);
    }
    state.counters["realtime_x"] =
        benchmark::Counter(60.0 * double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["cutoff"] = double(engine.cutOffCalls);
}

void registerTunes(const std::filesystem::path& dir, const std::string& prefix) {
    if (!std::filesystem::is_directory(dir)) return;
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().extension() == ".sid") files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    for (const auto& file : files) {
        // RSID tunes are refused by the loader; they are not part of the table.
        std::FILE* f = std::fopen(file.string().c_str(), "rb");
        char magic[4] = {};
        const bool psid = f && std::fread(magic, 1, 4, f) == 4 && std::string(magic, 4) == "PSID";
        if (f) std::fclose(f);
        if (!psid) continue;
        const std::string name = prefix + file.stem().string();
        benchmark::RegisterBenchmark(name.c_str(), renderTune, name, file.string())
            ->Unit(benchmark::kMillisecond)
            ->MinTime(0.5);
    }
}

}  // namespace

int main(int argc, char** argv) {
    registerTunes(SIDTUNE_DEMO_DIR, "demo/");
    registerTunes(std::filesystem::path(SIDTUNE_SHARED_DIR) / "tunes", "tunes/");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::vector<double> speeds;
    for (const auto& [name, speed] : bestSpeed) speeds.push_back(speed);
    if (!speeds.empty()) {
        std::sort(speeds.begin(), speeds.end());
        std::printf("\n%zu tunes: median %.0fx real time, slowest %.0fx (%s)\n", speeds.size(),
                    speeds[speeds.size() / 2], speeds.front(),
                    std::min_element(bestSpeed.begin(), bestSpeed.end(), [](auto& a, auto& b) {
                        return a.second < b.second;
                    })->first.c_str());
    }
    return 0;
}
