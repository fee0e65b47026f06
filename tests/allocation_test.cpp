// While a tune plays nothing is allocated: rendering blocks (play routine, synthesizer, digi) runs
// on the engine's own state. Counted by replacing the global allocator in this test program.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

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

}  // namespace
}  // namespace sidtune::test
