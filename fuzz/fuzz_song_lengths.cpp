// Fuzz target: any block of bytes parsed as a song-length database, as "SidtuneLengths" reads one.
#include <cstddef>
#include <cstdint>

#include "tune/song_lengths.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    sidtune::SongLengthDatabase db;
    sidtune::parseSongLengths(reinterpret_cast<const char*>(data), size, db);
    return 0;
}
