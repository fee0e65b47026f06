// Helpers shared by the tests: engines of the tests' own, the machine in a known state, a tune
// file begun as the player begins it, and the test data.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "audio/audio_format.h"
#include "audio/render_block.h"
#include "engine/engine_state.h"
#include "engine/song.h"
#include "tune/tune_loader.h"

namespace sidtune::test {

// The tunes and CPU vectors of the test data (the CMake variable SIDTUNE_TEST_DATA); absent on a
// user's fresh clone, where the tests that need them skip.
inline std::filesystem::path sharedDir() { return SIDTUNE_TEST_DATA; }

#define SKIP_WITHOUT_SHARED(sub)                                                               \
    do {                                                                                       \
        if (sharedDir().empty() || !std::filesystem::exists(sharedDir() / (sub)))              \
            GTEST_SKIP() << "no " << (sharedDir() / (sub)).string() << " (SIDTUNE_TEST_DATA)"; \
    } while (0)

// A demo tune assembled into the build tree.
inline std::string demoTune(const char* file) { return std::string(SIDTUNE_DEMO_DIR) + "/" + file; }

// An engine of the test's own, all zero as the plugin's static one is when the library loads.
inline std::unique_ptr<EngineState> newEngine() { return std::make_unique<EngineState>(); }

// Puts bytes into the image from `address` on, straight, without the write decode.
inline void poke(EngineState& e, uint16_t address, std::initializer_list<uint8_t> bytes) {
    for (uint8_t b : bytes) e.memory[address++] = b;
}

// A PSID tune of one song loaded at $1000: its init routine at $1000, its play routine at $1010.
inline std::vector<uint8_t> psidTune(std::initializer_list<uint8_t> init,
                                     std::initializer_list<uint8_t> play) {
    std::vector<uint8_t> b(124, 0);
    std::copy_n("PSID", 4, b.begin());
    b[5] = 2;
    b[7] = 124;
    b[10] = 0x10, b[11] = 0x00;  // init $1000
    b[12] = 0x10, b[13] = 0x10;  // play $1010
    b[15] = 1;
    b.push_back(0x00), b.push_back(0x10);  // loaded at $1000
    std::vector<uint8_t> code(0x20, 0xEA);
    std::copy(init.begin(), init.end(), code.begin());
    std::copy(play.begin(), play.end(), code.begin() + 0x10);
    b.insert(b.end(), code.begin(), code.end());
    return b;
}

// A fresh machine, a tune file loaded and song `song` (counted from 0) begun, as the player does it.
inline ::testing::AssertionResult beginTuneFile(EngineState& e, const std::string& path, int32_t song = 0) {
    resetMachine(e, kSampleRate);
    if (loadTune(e, path.c_str(), 0, kLoadFromFile) != kTuneLoaded)
        return ::testing::AssertionFailure() << path << " does not load";
    if (beginSong(e, song) != kSongBegun)
        return ::testing::AssertionFailure() << path << " has no song " << song;
    return ::testing::AssertionSuccess();
}

// `blocks` half-second blocks rendered one after the other, as the player renders them.
inline std::vector<int16_t> renderBlocks(EngineState& e, int blocks) {
    std::vector<int16_t> samples(size_t(blocks) * kBlockSamples);
    for (int b = 0; b < blocks; ++b) renderBlock(e, samples.data() + size_t(b) * kBlockSamples, kBlockBytes);
    return samples;
}

// A fresh machine for every test, on an engine of the test's own.
class MachineTest : public ::testing::Test {
  protected:
    std::unique_ptr<EngineState> engineState = newEngine();
    EngineState& e = *engineState;
    void SetUp() override { resetMachine(e, kSampleRate); }
};

}  // namespace sidtune::test
