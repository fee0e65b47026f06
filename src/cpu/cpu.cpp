#include "cpu/cpu.h"

#include "cpu/instructions.h"
#include "cpu/machine.h"
#include "sid/sid.h"

namespace sidtune {
namespace interpreter {

void writeSamplePlayer(Machine& m, uint16_t address, uint8_t value) {
    writeDigiRegister(m.digi, address, value);
}

// With more chips, a chip's 32 registers are the 32 bytes at its address, and the rest of
// $D400-$D7FF is the first chip's as on a one-chip machine. A chip's sample player answers at its
// chip's address plus the offsets the first chip's answers at ($1D to $7F); where two players'
// offsets meet, the chip nearest below the address has it. The image keeps its byte.
void writeChips(Machine& m, uint16_t address, uint8_t value) {
    SidChip* chip = (address & 0xFC00) == 0xD400 ? &m.sid : nullptr;
    DigiPlayer* player = address >= kFirstDigiAddress && address <= kLastDigiAddress ? &m.digi : nullptr;
    uint16_t playerBase = 0xD400;
    for (size_t k = 0; k < m.moreChipAddresses.size() && m.moreChipAddresses[k] != 0; ++k) {
        const uint16_t base = m.moreChipAddresses[k];
        const uint16_t offset = uint16_t(address - base);
        if (address < base) continue;
        if (offset < 0x20) chip = &m.moreChips[k];
        if (offset >= kFirstDigiAddress - 0xD400 && offset <= kLastDigiAddress - 0xD400 &&
            base >= playerBase) {
            player = &m.moreDigis[k];
            playerBase = base;
        }
    }
    if (chip == nullptr && player == nullptr) {
        m.memory[address] = value;
        return;
    }
    if (chip != nullptr) writeSidRegister(*chip, address & 0x1F, value);
    if (player != nullptr) writeDigiRegister(*player, uint16_t(0xD400 + (address - playerBase)), value);
}

}  // namespace interpreter

namespace {

using interpreter::Regs;

Regs loadRegs(const Cpu6502& c) {
    Regs r{c.A, c.X, c.Y, c.SP, c.PC, 0, 0, false, false, 0};
    r.setP(c.P);
    return r;
}

Cpu6502 savedRegs(const Regs& r) { return {r.a, r.x, r.y, r.sp, r.p(), r.pc}; }

// The 256 opcodes as row and column of the opcode grid: X(row, column) for each, in opcode order.
// Every handler and the dispatch table are generated from this list, and each handler takes its
// meaning from the grid (instructions.h), so the two cannot drift apart.
// clang-format off
#define SIDTUNE_OPCODE_ROW(X, row)                                                                 \
    X(row, 0) X(row, 1) X(row, 2) X(row, 3) X(row, 4) X(row, 5) X(row, 6) X(row, 7)                \
    X(row, 8) X(row, 9) X(row, A) X(row, B) X(row, C) X(row, D) X(row, E) X(row, F)
#define SIDTUNE_EVERY_OPCODE(X)                                                                    \
    SIDTUNE_OPCODE_ROW(X, 0) SIDTUNE_OPCODE_ROW(X, 1) SIDTUNE_OPCODE_ROW(X, 2) SIDTUNE_OPCODE_ROW(X, 3) \
    SIDTUNE_OPCODE_ROW(X, 4) SIDTUNE_OPCODE_ROW(X, 5) SIDTUNE_OPCODE_ROW(X, 6) SIDTUNE_OPCODE_ROW(X, 7) \
    SIDTUNE_OPCODE_ROW(X, 8) SIDTUNE_OPCODE_ROW(X, 9) SIDTUNE_OPCODE_ROW(X, A) SIDTUNE_OPCODE_ROW(X, B) \
    SIDTUNE_OPCODE_ROW(X, C) SIDTUNE_OPCODE_ROW(X, D) SIDTUNE_OPCODE_ROW(X, E) SIDTUNE_OPCODE_ROW(X, F)
// clang-format on

// Runs instructions from PC until PC is $0000 or $0001 after an instruction, or until `limit`
// instructions have run (at least one is always run). Every instruction is decoded from the image
// as it runs, so code that rewrites itself runs its new bytes at once.
//
// Dispatch is threaded: every handler ends with its own jump to the next opcode's handler, through
// a table of label addresses (a GCC and Clang extension). With one shared jump, as a switch
// compiles to, the processor predicts the next handler far worse; the threaded form runs about
// twice as many instructions per second. The only bookkeeping is the bound counter.
[[gnu::noinline]] void runInstructions(Regs& registers, Machine& m, uint32_t limit) {
    Regs r = registers;  // a local copy the compiler can keep in machine registers
    uint8_t* const mem = m.memory.data();

#define SIDTUNE_LABEL_ADDRESS(row, column) &&op##row##column,
    static void* const handlers[256] = {SIDTUNE_EVERY_OPCODE(SIDTUNE_LABEL_ADDRESS)};
#undef SIDTUNE_LABEL_ADDRESS

#define SIDTUNE_NEXT_INSTRUCTION                  \
    do {                                          \
        if (r.pc <= 1 || --limit == 0) goto done; \
        goto* handlers[mem[r.pc++]];              \
    } while (0)
// A branch gets two tails, each with its own jump to the next handler: the processor then predicts
// the branch's direction as a branch, and the next handler on each path apart.
#define SIDTUNE_HANDLER(row, column)                                           \
    op##row##column : if constexpr (interpreter::kIsBranch<0x##row##column>) { \
        if (interpreter::branchTaken<0x##row##column>(r)) {                    \
            interpreter::takeBranch(r, mem);                                   \
            SIDTUNE_NEXT_INSTRUCTION;                                          \
        }                                                                      \
        interpreter::skipBranch(r);                                            \
    }                                                                          \
    else {                                                                     \
        interpreter::execute<0x##row##column>(r, m);                           \
    }                                                                          \
    SIDTUNE_NEXT_INSTRUCTION;

    goto* handlers[mem[r.pc++]];
    SIDTUNE_EVERY_OPCODE(SIDTUNE_HANDLER)

#undef SIDTUNE_HANDLER
#undef SIDTUNE_NEXT_INSTRUCTION

done:
    registers = r;
}

}  // namespace

uint8_t readMemory(const Machine& m, uint16_t address) { return m.memory[address]; }

void writeMemory(Machine& m, uint16_t address, uint8_t value) {
    interpreter::store(m.memory.data(), m, address, value);
}

void pushByte(Machine& m, uint8_t value) {
    Regs r = loadRegs(m.cpu);
    interpreter::push(r, m.memory.data(), value);
    m.cpu = savedRegs(r);
}

uint8_t pullByte(Machine& m) {
    Regs r = loadRegs(m.cpu);
    const uint8_t value = interpreter::pull(r, m.memory.data());
    m.cpu = savedRegs(r);
    return value;
}

void executeInstruction(Machine& m) {
    Regs r = loadRegs(m.cpu);
    runInstructions(r, m, 1);
    m.cpu = savedRegs(r);
}

bool callSubroutine(Machine& m, uint16_t address, uint8_t accumulator, uint32_t instructionLimit) {
    uint8_t* const mem = m.memory.data();
    // P = 0: N clear, Z clear (z nonzero), C and V clear.
    Regs r{accumulator, 0, 0, 0xFD, address, 0, 1, false, false, 0};
    // The return address $0000 on the stack: the routine's final RTS continues at $0001.
    mem[0x01FF] = 0;
    mem[0x01FE] = 0;

    if (r.pc > 1 && instructionLimit != 0) runInstructions(r, m, instructionLimit);
    m.cpu = savedRegs(r);

    const bool returned = r.pc <= 1;
    if (!returned) ++m.cutOffCalls;
    return returned;
}

}  // namespace sidtune
