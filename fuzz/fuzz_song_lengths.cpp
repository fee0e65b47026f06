// Fuzz target: any block of bytes parsed as a song-length database, as "SidtuneLengths" reads one.
// What it keeps is what a script can be told: no more times than a tune has songs, and none that
// would read as a negative number of milliseconds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "tune/song_lengths.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    sidtune::SongLengthDatabase db;
    sidtune::parseSongLengths(reinterpret_cast<const char*>(data), size, db);
    for (const auto& [digest, lengths] : db.tunes) {
        if (lengths.size() > sidtune::kMostSongs) std::abort();
        for (uint32_t ms : lengths) {
            if (ms > uint32_t(INT32_MAX)) std::abort();
        }
    }
    return 0;
}
