// The 6502 interpreter and its memory map.
//
// Tune code runs here: the loader and the song start call the init routine, frame pacing calls
// the play routine once per frame, each through callSubroutine, which returns when the routine
// returns. The CPU works on the machine it is handed (machine.h): its registers (m.cpu) and
// memory image (m.memory), and, for stores to the sound chip, its chip (m.sid) and sample player
// (m.digi).
//
//   readMemory(m, address)            a plain image byte; reads never have side effects
//   writeMemory(m, address, value)    the CPU's store path, with the sound chip's write decode
//   pushByte(m, value), pullByte(m)   the stack page, with the stops at $00 and $FF
//   executeInstruction(m)             exactly one instruction at PC
//   callSubroutine(m, address, a, n)  runs a routine until PC reaches $0000/$0001, at most n instructions
//
// Memory map (reads are the image everywhere):
//
//     $0000-$D3FF   RAM
//     $D400-$D7FF   writes go to the sound chip: register (address AND $1F), and for
//                   $D41D-$D47F the sample-playback registers too; the image keeps its byte
//     $D800-$FFFF   RAM (where the real machine has I/O and ROM)
//
// A machine given more chips (machine.h) has each one's 32 registers at its address, in
// $D420-$D7FF or $DE00-$DFFF, and its sample player's at the same offsets from it as the first's
// (cpu.cpp: writeChips).
#pragma once

#include <cstdint>

namespace sidtune {

struct Machine;

// Bounds on one call into tune code.
//
// The emulated machine has no interrupts and no timers, so a routine that waits for a video or
// timer register to change (a constant image byte here) would loop for ever, and with it the
// host's thread (init) or the worker thread (play). A call is therefore cut off after a fixed
// number of instructions; it just returns, with registers and memory as they are, and the next
// call starts afresh.
//
// Init: routines that unpack or relocate their data run a few million instructions. 40 million
// leaves ample room for them and still returns a runaway call in well under 0.1 s, as the
// interpreter runs several hundred million instructions per second (bench/README.md).
//
// Fuzzing builds (SIDTUNE_FUZZ_BOUNDS) keep both bounds but make them 40 and 50 times smaller, so
// that inputs whose code runs away, common among mutated tunes, do not take the fuzzer's time.
#if defined(SIDTUNE_FUZZ_BOUNDS)
constexpr uint32_t kInitInstructionLimit = 1'000'000;
#else
constexpr uint32_t kInitInstructionLimit = 40'000'000;
#endif

// Play: a play routine on the real machine has one frame of CPU time, about 22 cycles per output
// sample (20,000 cycles in a 50 Hz frame of 882 samples), and an instruction takes at least two
// cycles. Allowing 1000 instructions per sample of the frame is some 90 times what real code can
// use, yet a half-second block (22,050 samples, however it is cut into frames) whose every frame
// runs away costs at most about 25 million instructions: under a tenth of the block's budget.
#if defined(SIDTUNE_FUZZ_BOUNDS)
constexpr uint32_t kPlayInstructionsPerSample = 20;
#else
constexpr uint32_t kPlayInstructionsPerSample = 1000;
#endif

uint8_t readMemory(const Machine& m, uint16_t address);
void writeMemory(Machine& m, uint16_t address, uint8_t value);
void pushByte(Machine& m, uint8_t value);
uint8_t pullByte(Machine& m);

void executeInstruction(Machine& m);

// Runs the routine at `address` with `accumulator` in A, as if called from outside the machine:
// registers start fresh, the stack holds the return address $0000, and the call ends as soon as
// PC is $0000 or $0001 (the final RTS lands on $0001, BRK on $0000). Returns false when the
// instruction bound cut the routine off; m.cutOffCalls counts those calls.
bool callSubroutine(Machine& m, uint16_t address, uint8_t accumulator,
                    uint32_t instructionLimit = kInitInstructionLimit);

}  // namespace sidtune
