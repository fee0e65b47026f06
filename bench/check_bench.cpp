// `sidtune check` over the tunes of the test data (SIDTUNE_TEST_DATA; skipped without them), 30 s
// of every song as the command checks it, with one job and with as many as the machine has: the
// songs checked per second, and what a folder of 1,000 songs takes at that pace.
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tune_check.h"

namespace {

using namespace sidtune;

void BM_CheckTheTunes(benchmark::State& state) {
    const std::filesystem::path tunes = std::filesystem::path(SIDTUNE_TEST_DATA) / "tunes";
    if (!std::filesystem::is_directory(tunes)) {
        state.SkipWithError("no tunes in the test data");
        return;
    }
    const unsigned jobs = unsigned(state.range(0));
    const std::vector<std::string> files = walkPaths({tunes.string()}).files;
    size_t songs = 0;
    double seconds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<SongCheck> checks = planCheck(files, nullptr).songs;
        state.ResumeTiming();
        const auto begin = std::chrono::steady_clock::now();
        checkSongs(checks, 30, jobs);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        songs = 0;
        for (const SongCheck& s : checks) songs += s.song != 0;
    }
    const double perSong = seconds / double(state.iterations()) / double(songs);
    state.counters["songs"] = double(songs);
    state.counters["songs_per_s"] = 1.0 / perSong;
    state.counters["s_per_1000_songs"] = 1000.0 * perSong;
}
BENCHMARK(BM_CheckTheTunes)
    ->Arg(1)
    ->Arg(std::max(2u, std::thread::hardware_concurrency()))
    ->Unit(benchmark::kSecond)
    ->UseRealTime()
    ->Iterations(3);

}  // namespace
