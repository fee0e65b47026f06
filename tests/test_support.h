// Helpers shared by the tests: the machine in a known state, and the shared test material.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <vector>

#include "cpu/cpu.h"
#include "engine/engine_state.h"

namespace sidtune::test {

// The tunes and CPU vectors beside the repository; absent on a user's fresh clone, where the
// tests that need them skip. SIDTUNE_SHARED overrides the place.
inline std::filesystem::path sharedDir() {
    if (const char* env = std::getenv("SIDTUNE_SHARED")) return env;
    return SIDTUNE_SHARED_DIR;
}

#define SKIP_WITHOUT_SHARED(sub)                                                             \
    do {                                                                                     \
        if (!std::filesystem::exists(sharedDir() / (sub)))                                   \
            GTEST_SKIP() << "no " << (sharedDir() / (sub)).string() << " (shared material)"; \
    } while (0)

// Puts bytes into the image from `address` on, straight, without the write decode.
inline void poke(uint16_t address, std::initializer_list<uint8_t> bytes) {
    for (uint8_t b : bytes) engine.memory[address++] = b;
}

// A fresh machine for every test.
class MachineTest : public ::testing::Test {
  protected:
    void SetUp() override { resetMachine(44100); }
};

}  // namespace sidtune::test
