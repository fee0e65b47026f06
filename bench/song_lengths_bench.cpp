// Reading a song-length database the size of a large public collection's (60,000 lines, about
// 4 MB: a comment line and an entry line for each of 30,000 tunes), and looking a tune up in it.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "tune/md5.h"
#include "tune/song_lengths.h"

namespace {

using namespace sidtune;

constexpr int kTunes = 30000;

// A database file of generated lines, and the digests of its tunes.
struct GeneratedDatabase {
    std::string path = (std::filesystem::temp_directory_path() / "sidtune-bench-Songlengths.md5").string();
    std::vector<Md5> digests;
    GeneratedDatabase() {
        std::mt19937 random(7);
        std::ofstream out(path, std::ios::binary);
        out << "[Database]\r\n";
        for (int t = 0; t < kTunes; ++t) {
            Md5 d;
            for (uint8_t& b : d) b = uint8_t(random());
            digests.push_back(d);
            out << "; /MUSICIANS/S/Someone_" << t << "/A_Tune_With_A_Long_Name_" << t << ".sid\r\n"
                << toHex(d) << '=';
            for (int song = 0, songs = 1 + int(random() % 12); song < songs; ++song) {
                char time[16];
                std::snprintf(time, sizeof time, " %u:%02u.%03u", unsigned(random() % 10),
                              unsigned(random() % 60), unsigned(random() % 1000));
                out << (time + (song == 0 ? 1 : 0));
            }
            out << "\r\n";
        }
    }
    ~GeneratedDatabase() { std::filesystem::remove(path); }
};

void BM_ReadSongLengths(benchmark::State& state) {
    const GeneratedDatabase generated;
    state.counters["MB"] = double(std::filesystem::file_size(generated.path)) / 1e6;
    for (auto _ : state) {
        SongLengthDatabase db;
        if (readSongLengths(utf8Name(generated.path), db).status != TuneFileStatus::Read ||
            db.tunes.size() != kTunes)
            state.SkipWithError("not read");
        benchmark::DoNotOptimize(db);
    }
}
BENCHMARK(BM_ReadSongLengths)->Unit(benchmark::kMillisecond);

void BM_LookUpASong(benchmark::State& state) {
    const GeneratedDatabase generated;
    SongLengthDatabase db;
    readSongLengths(utf8Name(generated.path), db);
    size_t i = 0;
    for (auto _ : state) benchmark::DoNotOptimize(songLength(db, generated.digests[i++ % kTunes], 0));
}
BENCHMARK(BM_LookUpASong);

}  // namespace
