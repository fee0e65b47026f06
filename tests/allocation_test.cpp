// While a tune plays nothing is allocated: rendering blocks (play routine, synthesizer, digi) runs
// on the engine's own state. Counted by replacing the global allocator in this test program.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "audio/render_block.h"
#include "cpu/cpu.h"
#include "engine/engine_state.h"
#include "tune/tune_loader.h"

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
    for (const char* file : {"demo.sid", "effects.sid", "digi.sid"}) {
        resetMachine(kSampleRate);
        const std::string path = std::string(SIDTUNE_DEMO_DIR) + "/" + file;
        ASSERT_EQ(loadTune(path.c_str(), 0, kLoadFromFile), kTuneLoaded);
        engine.renderEnabled = 1;
        callSubroutine(engine.tune.initAddress, 0);
        std::vector<int16_t> block(kBlockSamples);
        allocations = 0;
        counting = true;
        for (int b = 0; b < 20; ++b) renderBlock(block.data(), kBlockSamples * 2);
        counting = false;
        EXPECT_EQ(allocations, 0) << file;
    }
}

TEST(Allocation, TheEngineStateIsSmall) {
    // The image, the CPU, the chip, the digi player and the audio objects' handles, and the
    // one-second stream buffer the platform keeps.
    EXPECT_LT(sizeof(EngineState) + 88200, 256u * 1024);
    std::printf("engine state: %zu bytes; with the stream buffer %zu bytes\n", sizeof(EngineState),
                sizeof(EngineState) + 88200);
}

}  // namespace
}  // namespace sidtune::test
