// While a tune plays nothing is allocated: rendering blocks (play routine, synthesizer, digi) runs
// on the song's own state, and the mix (effects, a crossfade, a remix) on the mix's. Counted by replacing the
// global allocator in this test program.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "engine/mix.h"
#include "engine/song_stream.h"
#include "test_support.h"

namespace {
std::atomic<bool> counting{false};
std::atomic<long> allocations{0};
}  // namespace

void* operator new(std::size_t size) {
    if (counting) ++allocations;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace sidtune::test {
namespace {

TEST(Allocation, NothingIsAllocatedWhileBlocksAreRendered) {
    const auto song = newSong();
    for (const char* file : {"demo.sid", "effects.sid", "digi.sid"}) {
        ASSERT_TRUE(beginTuneFile(*song, demoTune(file)));
        std::vector<int16_t> block(kBlockSamples);
        allocations = 0;
        counting = true;
        for (int b = 0; b < 20; ++b) renderSong(*song, block.data(), kBlockSamples);
        counting = false;
        EXPECT_EQ(allocations, 0) << file;
    }
}

TEST(Allocation, NothingIsAllocatedWhileSongsAreMixed) {
    std::vector<uint8_t> demo, effects;
    ASSERT_EQ(readTune(FileName{demoTune("demo.sid").c_str()}, demo).error, PlayError::None);
    ASSERT_EQ(readTune(FileName{demoTune("effects.sid").c_str()}, effects).error, PlayError::None);
    const auto mix = std::make_unique<Mix>();
    const auto music = newSong(), next = newSong();
    ASSERT_TRUE(beginTuneBytes(*music, demo));
    startSongStream(*music, 0, 0, {}, demo);
    ASSERT_TRUE(beginTuneBytes(*next, effects, 1));
    startSongStream(*next, 1, 3 * kBlockSamples, {}, effects);
    setMusicDuck(*mix, 0.5f);
    std::vector<int16_t> block(kBlockSamples);
    allocations = 0;
    counting = true;
    for (int b = 0; b < 8; ++b) {
        if (b == 1) startEffect(*mix, mix->made, effects.data(), effects.size(), 0, 0.7, 0);
        if (b == 3) startCrossfade(*mix, *music, *next, kSampleRate);
        mixSamples(*mix, *music, block.data(), kBlockSamples);
        if (b == 4) startEffect(*mix, mix->made - 1000, effects.data(), effects.size(), 2, 0, 0);
        if (b == 4) remixSamples(*mix, *music, mix->made - 1000, block.data());
    }
    counting = false;
    EXPECT_EQ(allocations, 0);
}

}  // namespace
}  // namespace sidtune::test
