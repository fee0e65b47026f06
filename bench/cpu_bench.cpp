// Interpreter speed in instructions per second, on code shaped like a tune's play routine:
// table look-ups through indexed and indirect modes, arithmetic, stores to the sound chip,
// shifts, compares and branches.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <initializer_list>
#include <memory>

#include "audio/audio_format.h"
#include "cpu/cpu.h"
#include "cpu/machine.h"

namespace {

using namespace sidtune;

void load(Machine& m, uint16_t address, std::initializer_list<uint8_t> bytes) {
    for (uint8_t b : bytes) m.memory[address++] = b;
}

// A machine of its own with a loop at $1000 that never returns, so every call runs exactly its
// bound of instructions.
std::unique_ptr<Machine> setUpPlayLikeLoop() {
    auto machine = std::make_unique<Machine>();
    Machine& m = *machine;
    resetMachine(m, kSampleRate);
    load(m, 0x0010, {0x00, 0x30});  // pointer to a table at $3000
    // clang-format off
    load(m, 0x1000, {
        0xA2, 0x00,                       // LDX #$00
        0xA0, 0x00,                       // LDY #$00      <- outer
        0xBD, 0x00, 0x20,                 // LDA $2000,X   <- inner
        0x18,                             // CLC
        0x71, 0x10,                       // ADC ($10),Y
        0x9D, 0x00, 0xD4,                 // STA $D400,X   (sound chip)
        0x85, 0x20,                       // STA $20
        0x4A,                             // LSR A
        0x26, 0x21,                       // ROL $21
        0xC9, 0x40,                       // CMP #$40
        0x90, 0x02,                       // BCC +2
        0xE6, 0x22,                       // INC $22
        0xE8,                             // INX
        0xC8,                             // INY
        0xE0, 0x18,                       // CPX #$18
        0xD0, 0xE6,                       // BNE inner
        0xA2, 0x00,                       // LDX #$00
        0x4C, 0x02, 0x10,                 // JMP outer
    });
    // clang-format on
    return machine;
}

void BM_InterpreterInstructions(benchmark::State& state) {
    const auto machine = setUpPlayLikeLoop();
    Machine& m = *machine;
    const uint32_t perCall = 10'000'000;
    for (auto _ : state) {
        callSubroutine(m, 0x1000, 0, perCall);
        benchmark::DoNotOptimize(m.cpu.A);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * perCall);
}
BENCHMARK(BM_InterpreterInstructions)->Unit(benchmark::kMillisecond);

// The worst an init routine that never returns can cost the host's thread.
void BM_RunawayInitCall(benchmark::State& state) {
    const auto machine = setUpPlayLikeLoop();
    Machine& m = *machine;
    for (auto _ : state) callSubroutine(m, 0x1000, 0, kInitInstructionLimit);
    state.SetItemsProcessed(int64_t(state.iterations()) * kInitInstructionLimit);
}
BENCHMARK(BM_RunawayInitCall)->Unit(benchmark::kMillisecond);

}  // namespace
