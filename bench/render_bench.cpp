// Render speed: seconds of audio made per second of wall time, per tune, for the demo tunes and
// the real tunes of the shared test material (skipped when it is absent). Each run renders 60 s of
// song 0 exactly as the player does: half-second blocks, play routine and synthesizer.
// At the end, a table of every tune's median and worst run (Markdown, as in the README), and the
// median and the slowest tune by their median runs. The demo tunes and the real tunes for more chips
// or NTSC are rendered in faithful playback too (kind "faithful"), in the same sitting: a table of
// each one's speed against its speed without.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/frame_pacing.h"
#include "engine/song.h"

namespace {

using namespace sidtune;

struct TuneRuns {
    std::string kind;
    std::vector<double> speeds;  // seconds of audio per second, one per run
    double median() const {
        std::vector<double> s = speeds;
        std::sort(s.begin(), s.end());
        return s.size() % 2 ? s[s.size() / 2] : (s[s.size() / 2 - 1] + s[s.size() / 2]) / 2;
    }
    double worst() const { return *std::min_element(speeds.begin(), speeds.end()); }
};
std::map<std::string, TuneRuns> runs;

void renderTune(benchmark::State& state, const std::string& name, const std::string& kind,
                const std::string& path) {
    const auto ownSong = std::make_unique<Song>();
    Song& s = *ownSong;
    s.settings.faithful = kind == "faithful";
    std::vector<int16_t> block(kBlockSamples);
    const int blocks = 120;  // 60 seconds
    TuneRuns& tune = runs[name];
    tune.kind = kind;
    for (auto _ : state) {
        state.PauseTiming();
        if (beginTuneFile(s, path.c_str(), 0) != PlayError::None) {
            state.SkipWithError("not a PSID tune");
            return;
        }
        state.ResumeTiming();
        const auto begin = std::chrono::steady_clock::now();
        for (int b = 0; b < blocks; ++b) renderSong(s, block.data(), kBlockSamples);
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        benchmark::DoNotOptimize(block.data());
        tune.speeds.push_back(60.0 / wall);
    }
    state.counters["realtime_x"] =
        benchmark::Counter(60.0 * double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["cutoff"] = double(s.machine.cutOffCalls);
}

void registerTunes(const std::filesystem::path& dir, const std::string& kind) {
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
        const std::string name = file.stem().string();
        const bool faithfulToo = kind == "demo" || name.ends_with("SID") || name.ends_with("NTSC");
        for (const std::string& k : {kind, std::string("faithful")}) {
            if (k == "faithful" && !faithfulToo) continue;
            const std::string key = k == "faithful" ? name + " (faithful)" : name;
            benchmark::RegisterBenchmark((k + "/" + name).c_str(), renderTune, key, k, file.string())
                ->Unit(benchmark::kMillisecond)
                ->MinTime(0.5);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    registerTunes(SIDTUNE_DEMO_DIR, "demo");
    registerTunes(std::filesystem::path(SIDTUNE_TEST_DATA) / "tunes", "real");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::vector<std::pair<double, std::string>> byMedian;
    bool faithful = false;
    for (const auto& [name, tune] : runs) {
        if (tune.kind == "faithful") {
            faithful = faithful || !tune.speeds.empty();
            continue;
        }
        if (!tune.speeds.empty()) byMedian.emplace_back(tune.median(), name);  // none when skipped
    }
    if (faithful) {
        std::printf("\n| tune | median x | faithful x | share |\n|---|---|---|---|\n");
        for (const auto& [name, tune] : runs) {
            const auto plain = runs.find(name.substr(0, name.size() - std::string(" (faithful)").size()));
            if (tune.kind != "faithful" || tune.speeds.empty() || plain == runs.end() ||
                plain->second.speeds.empty())
                continue;
            std::printf("| %s | %.0f | %.0f | %.2f |\n", plain->first.c_str(), plain->second.median(),
                        tune.median(), tune.median() / plain->second.median());
        }
    }
    if (byMedian.empty()) return 0;
    std::sort(byMedian.begin(), byMedian.end());
    std::printf("\n| tune | kind | runs | median x | worst x |\n|---|---|---|---|---|\n");
    for (const auto& [median, name] : byMedian) {
        const TuneRuns& tune = runs[name];
        std::printf("| %s | %s | %zu | %.0f | %.0f |\n", name.c_str(), tune.kind.c_str(), tune.speeds.size(),
                    median, tune.worst());
    }
    std::printf("\n%zu tunes: median tune %.0fx real time, slowest %.0fx (%s)\n", byMedian.size(),
                byMedian[byMedian.size() / 2].first, byMedian.front().first, byMedian.front().second.c_str());
    return 0;
}
