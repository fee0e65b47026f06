#include "engine/song_stream.h"

#include "engine/engine_state.h"

namespace sidtune {
namespace {

void addMark(SongStream& s, SongMark mark) {
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.markCount == s.marks.size()) {
        for (size_t i = 1; i < s.marks.size(); ++i) s.marks[i - 1] = s.marks[i];
        --s.markCount;
    }
    s.marks[s.markCount++] = mark;
}

}  // namespace

void startSongStream(EngineState& e, int32_t song, uint64_t at) {
    SongStream& s = e.songs;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        s.markCount = 0;
    }
    s.made = at;
    addMark(s, {at, song});
}

void playSongStream(EngineState& e, int16_t* samples, uint32_t count) {
    renderBlock(e, samples, count * kBytesPerSample);
    e.songs.made += count;
}

SongMark songHeard(EngineState& e, uint64_t heard) {
    SongStream& s = e.songs;
    std::lock_guard<std::mutex> guard(s.lock);
    SongMark found{0, -1};
    for (uint32_t i = 0; i < s.markCount; ++i) {
        if (s.marks[i].at <= heard || i == 0) found = s.marks[i];
    }
    return found;
}

}  // namespace sidtune
