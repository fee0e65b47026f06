#include "cpu/cpu.h"

#include "cpu/opcode_tables.h"
#include "engine/engine_state.h"
#include "sid/sid.h"

namespace sidtune {
namespace {

using flag::Carry;
using flag::Negative;
using flag::Overflow;
using flag::Zero;

// The registers while code runs. The interpreter works on a local copy so that the compiler can
// keep them in machine registers; engine.cpu is written back when a call or a step ends.
//
// The status byte is kept apart in the form the instructions use it: nearly every instruction
// sets N and Z from its result, so the result itself is kept (`n` holds N in bit 7, `z` is 0
// exactly when Z is set) and the byte is put together only when P is pushed or the call ends.
struct Regs {
    uint8_t a, x, y, sp;
    uint16_t pc;
    uint8_t n, z;
    bool c, v;
    uint8_t rest;  // I, D and bits 4 and 5, which no instruction tests

    uint8_t p() const {
        return uint8_t((n & Negative) | (v ? Overflow : 0) | rest | (z == 0 ? Zero : 0) | (c ? Carry : 0));
    }
    void setP(uint8_t p) {
        n = p;
        z = (p & Zero) ? 0 : 1;
        c = p & Carry;
        v = p & Overflow;
        rest = p & uint8_t(~(Negative | Overflow | Zero | Carry));
    }
};

Regs loadRegs() {
    const Cpu6502& c = engine.cpu;
    Regs r{c.A, c.X, c.Y, c.SP, c.PC, 0, 0, false, false, 0};
    r.setP(c.P);
    return r;
}

void saveRegs(const Regs& r) { engine.cpu = {r.a, r.x, r.y, r.sp, r.p(), r.pc}; }

// The rare path of a store: the sound chip. Kept out of line so that ordinary stores stay small.
[[gnu::noinline]] void writeChip(uint16_t address, uint8_t value) {
    // The chip's 32 register indexes repeat every 32 bytes through the whole 1 KiB range.
    writeSidRegister(address & 0x1F, value);
    if (address >= 0xD41D && address <= 0xD47F) writeDigiRegister(address, value);
}

[[gnu::always_inline]] inline void store(uint8_t* mem, uint16_t address, uint8_t value) {
    if ((address & 0xFC00) == 0xD400) {
        writeChip(address, value);  // the image keeps its byte
    } else {
        mem[address] = value;
    }
}

// A little-endian word; the high byte comes from the next address, wrapping at $FFFF.
[[gnu::always_inline]] inline uint16_t readWord(const uint8_t* mem, uint16_t address) {
    return uint16_t(mem[address] | mem[uint16_t(address + 1)] << 8);
}

// A pointer in page 0: its high byte wraps within the page.
[[gnu::always_inline]] inline uint16_t readZeroPageWord(const uint8_t* mem, uint8_t z) {
    return uint16_t(mem[z] | mem[uint8_t(z + 1)] << 8);
}

template <AddressingMode>
[[maybe_unused]] constexpr bool kNoSuchMode = false;

// The effective address of a memory operand. Called with PC on the first operand byte; moves PC
// past the operand bytes. There are no page-crossing effects.
template <AddressingMode M>
[[gnu::always_inline]] inline uint16_t effectiveAddress(Regs& r, const uint8_t* mem) {
    using enum AddressingMode;
    if constexpr (M == ZeroPage) {
        return mem[r.pc++];
    } else if constexpr (M == ZeroPageX) {
        return uint8_t(mem[r.pc++] + r.x);
    } else if constexpr (M == ZeroPageY) {
        return uint8_t(mem[r.pc++] + r.y);
    } else if constexpr (M == Absolute || M == AbsoluteX || M == AbsoluteY) {
        uint16_t base = readWord(mem, r.pc);
        r.pc += 2;
        if constexpr (M == AbsoluteX) base += r.x;
        if constexpr (M == AbsoluteY) base += r.y;
        return base;
    } else if constexpr (M == IndexedIndirect) {
        return readZeroPageWord(mem, uint8_t(mem[r.pc++] + r.x));
    } else if constexpr (M == IndirectIndexed) {
        return uint16_t(readZeroPageWord(mem, mem[r.pc++]) + r.y);
    } else {
        static_assert(kNoSuchMode<M>, "mode has no effective address");
    }
}

template <AddressingMode M>
[[gnu::always_inline]] inline uint8_t fetchOperand(Regs& r, const uint8_t* mem) {
    if constexpr (M == AddressingMode::Immediate) {
        return mem[r.pc++];
    } else if constexpr (M == AddressingMode::Accumulator) {
        return r.a;
    } else {
        return mem[effectiveAddress<M>(r, mem)];
    }
}

// Read-modify-write: the operand is read, changed by `change` and written back to the same
// place. Only the result is written (no dummy write of the old value).
template <AddressingMode M, typename Change>
[[gnu::always_inline]] inline void modifyOperand(Regs& r, uint8_t* mem, Change change) {
    if constexpr (M == AddressingMode::Accumulator) {
        r.a = change(r.a);
    } else {
        const uint16_t address = effectiveAddress<M>(r, mem);
        store(mem, address, change(mem[address]));
    }
}

[[gnu::always_inline]] inline uint8_t setNZ(Regs& r, uint8_t value) {
    r.n = r.z = value;
    return value;
}

// Binary addition whatever D says; SBC is this with the operand inverted.
[[gnu::always_inline]] inline void addWithCarry(Regs& r, uint8_t m) {
    const unsigned sum = r.a + m + r.c;
    // Signed overflow: both inputs have the same sign and the result has the other one.
    r.v = (~(r.a ^ m) & (r.a ^ sum) & 0x80) != 0;
    r.c = sum > 0xFF;
    r.a = setNZ(r, uint8_t(sum));
}

[[gnu::always_inline]] inline void compare(Regs& r, uint8_t reg, uint8_t m) {
    r.c = reg >= m;
    setNZ(r, uint8_t(reg - m));
}

// The stack pointer stops at $00 and $FF instead of wrapping: pushes at $00 keep overwriting
// $0100, pulls at $FF keep returning $01FF. The stack page is plain RAM.
[[gnu::always_inline]] inline void push(Regs& r, uint8_t* mem, uint8_t value) {
    mem[0x0100 + r.sp] = value;
    if (r.sp != 0x00) --r.sp;
}

[[gnu::always_inline]] inline uint8_t pull(Regs& r, const uint8_t* mem) {
    if (r.sp != 0xFF) ++r.sp;
    return mem[0x0100 + r.sp];
}

[[gnu::always_inline]] inline void branchIf(Regs& r, const uint8_t* mem, bool condition) {
    const int8_t offset = int8_t(mem[r.pc]);
    ++r.pc;
    if (condition) r.pc = uint16_t(r.pc + offset);
}

// One instruction, its meaning taken from the opcode tables at compile time. Called with PC
// already past the opcode byte.
template <uint8_t Op>
[[gnu::always_inline]] inline void execute(Regs& r, uint8_t* mem) {
    using enum Instruction;
    constexpr Instruction id = opcodeTable[Op];
    constexpr AddressingMode mode = modeTable[Op];

    if constexpr (id == Undocumented || id == NOP) {
        // A one-byte no-op: the next byte is the next opcode.
    }
    // Loads, stores, transfers.
    else if constexpr (id == LDA) {
        r.a = setNZ(r, fetchOperand<mode>(r, mem));
    } else if constexpr (id == LDX) {
        r.x = setNZ(r, fetchOperand<mode>(r, mem));
    } else if constexpr (id == LDY) {
        r.y = setNZ(r, fetchOperand<mode>(r, mem));
    } else if constexpr (id == STA) {
        store(mem, effectiveAddress<mode>(r, mem), r.a);
    } else if constexpr (id == STX) {
        store(mem, effectiveAddress<mode>(r, mem), r.x);
    } else if constexpr (id == STY) {
        store(mem, effectiveAddress<mode>(r, mem), r.y);
    } else if constexpr (id == TAX) {
        r.x = setNZ(r, r.a);
    } else if constexpr (id == TAY) {
        r.y = setNZ(r, r.a);
    } else if constexpr (id == TXA) {
        r.a = setNZ(r, r.x);
    } else if constexpr (id == TYA) {
        r.a = setNZ(r, r.y);
    } else if constexpr (id == TSX) {
        r.x = setNZ(r, r.sp);
    } else if constexpr (id == TXS) {
        r.sp = r.x;
    }
    // Arithmetic, logic, comparison.
    else if constexpr (id == ADC) {
        addWithCarry(r, fetchOperand<mode>(r, mem));
    } else if constexpr (id == SBC) {
        addWithCarry(r, uint8_t(~fetchOperand<mode>(r, mem)));
    } else if constexpr (id == AND) {
        r.a = setNZ(r, r.a & fetchOperand<mode>(r, mem));
    } else if constexpr (id == ORA) {
        r.a = setNZ(r, r.a | fetchOperand<mode>(r, mem));
    } else if constexpr (id == EOR) {
        r.a = setNZ(r, r.a ^ fetchOperand<mode>(r, mem));
    } else if constexpr (id == CMP) {
        compare(r, r.a, fetchOperand<mode>(r, mem));
    } else if constexpr (id == CPX) {
        compare(r, r.x, fetchOperand<mode>(r, mem));
    } else if constexpr (id == CPY) {
        compare(r, r.y, fetchOperand<mode>(r, mem));
    } else if constexpr (id == BIT) {
        const uint8_t m = fetchOperand<mode>(r, mem);
        r.z = r.a & m;
        r.n = m;
        r.v = m & 0x40;
    }
    // Read-modify-write.
    else if constexpr (id == INC) {
        modifyOperand<mode>(r, mem, [&r](uint8_t m) { return setNZ(r, uint8_t(m + 1)); });
    } else if constexpr (id == DEC) {
        modifyOperand<mode>(r, mem, [&r](uint8_t m) { return setNZ(r, uint8_t(m - 1)); });
    } else if constexpr (id == ASL) {
        modifyOperand<mode>(r, mem, [&r](uint8_t m) {
            r.c = m & 0x80;
            return setNZ(r, uint8_t(m << 1));
        });
    } else if constexpr (id == LSR) {
        modifyOperand<mode>(r, mem, [&r](uint8_t m) {
            r.c = m & 0x01;
            return setNZ(r, uint8_t(m >> 1));
        });
    } else if constexpr (id == ROL) {
        modifyOperand<mode>(r, mem, [&r](uint8_t m) {
            const uint8_t carryIn = r.c ? 0x01 : 0x00;
            r.c = m & 0x80;
            return setNZ(r, uint8_t(m << 1 | carryIn));
        });
    } else if constexpr (id == ROR) {
        modifyOperand<mode>(r, mem, [&r](uint8_t m) {
            const uint8_t carryIn = r.c ? 0x80 : 0x00;
            r.c = m & 0x01;
            return setNZ(r, uint8_t(m >> 1 | carryIn));
        });
    } else if constexpr (id == INX) {
        r.x = setNZ(r, uint8_t(r.x + 1));
    } else if constexpr (id == INY) {
        r.y = setNZ(r, uint8_t(r.y + 1));
    } else if constexpr (id == DEX) {
        r.x = setNZ(r, uint8_t(r.x - 1));
    } else if constexpr (id == DEY) {
        r.y = setNZ(r, uint8_t(r.y - 1));
    }
    // Branches.
    else if constexpr (id == BCC) {
        branchIf(r, mem, !r.c);
    } else if constexpr (id == BCS) {
        branchIf(r, mem, r.c);
    } else if constexpr (id == BNE) {
        branchIf(r, mem, r.z != 0);
    } else if constexpr (id == BEQ) {
        branchIf(r, mem, r.z == 0);
    } else if constexpr (id == BPL) {
        branchIf(r, mem, !(r.n & Negative));
    } else if constexpr (id == BMI) {
        branchIf(r, mem, r.n & Negative);
    } else if constexpr (id == BVC) {
        branchIf(r, mem, !r.v);
    } else if constexpr (id == BVS) {
        branchIf(r, mem, r.v);
    }
    // Jumps, calls, returns.
    else if constexpr (id == JMP && mode == AddressingMode::Absolute) {
        r.pc = readWord(mem, r.pc);
    } else if constexpr (id == JMP && mode == AddressingMode::Indirect) {
        // The pointer's high byte comes from the next address even across a page boundary.
        r.pc = readWord(mem, readWord(mem, r.pc));
    } else if constexpr (id == JSR) {
        // The pushed address is that of the JSR's last operand byte; RTS adds one.
        const uint16_t target = readWord(mem, r.pc);
        const uint16_t last = uint16_t(r.pc + 1);
        push(r, mem, uint8_t(last >> 8));
        push(r, mem, uint8_t(last));
        r.pc = target;
    } else if constexpr (id == RTS || id == RTI) {
        // RTI returns like RTS: there are no interrupts, so there is no status byte to restore.
        const uint8_t lo = pull(r, mem);
        const uint8_t hi = pull(r, mem);
        r.pc = uint16_t((lo | hi << 8) + 1);
    } else if constexpr (id == BRK) {
        // No vectors exist: BRK ends the routine by jumping to $0000.
        r.pc = 0x0000;
    }
    // Stack.
    else if constexpr (id == PHA) {
        push(r, mem, r.a);
    } else if constexpr (id == PHP) {
        push(r, mem, r.p());
    } else if constexpr (id == PLA) {
        r.a = setNZ(r, pull(r, mem));
    } else if constexpr (id == PLP) {
        r.setP(pull(r, mem));
    }
    // Flags.
    else if constexpr (id == CLC) {
        r.c = false;
    } else if constexpr (id == SEC) {
        r.c = true;
    } else if constexpr (id == CLD) {
        r.rest &= uint8_t(~flag::Decimal);
    } else if constexpr (id == SED) {
        r.rest |= flag::Decimal;
    } else if constexpr (id == CLI) {
        r.rest &= uint8_t(~flag::Interrupt);
    } else if constexpr (id == SEI) {
        r.rest |= flag::Interrupt;
    } else if constexpr (id == CLV) {
        r.v = false;
    } else {
        static_assert(id == Undocumented, "instruction without an implementation");
    }
}

// Runs instructions from PC until PC is $0000 or $0001 after an instruction, or until `limit`
// instructions have run (at least one is always run). Every instruction is decoded from the image
// as it runs, so code that rewrites itself runs its new bytes at once.
//
// Dispatch is threaded: every handler ends with its own jump to the next opcode's handler, through
// a table of label addresses (a GCC and Clang extension). With one shared jump, as a switch
// compiles to, the processor predicts the next handler far worse; the threaded form runs about
// twice as many instructions per second. The only bookkeeping is the bound counter.
[[gnu::noinline]] void runInstructions(Regs& registers, uint8_t* mem, uint32_t limit) {
    Regs r = registers;  // a local copy the compiler can keep in machine registers
    // clang-format off
    static void* const handlers[256] = {
        &&op00, &&op01, &&op02, &&op03, &&op04, &&op05, &&op06, &&op07, &&op08, &&op09, &&op0A, &&op0B, &&op0C, &&op0D, &&op0E, &&op0F,  // 0x
        &&op10, &&op11, &&op12, &&op13, &&op14, &&op15, &&op16, &&op17, &&op18, &&op19, &&op1A, &&op1B, &&op1C, &&op1D, &&op1E, &&op1F,  // 1x
        &&op20, &&op21, &&op22, &&op23, &&op24, &&op25, &&op26, &&op27, &&op28, &&op29, &&op2A, &&op2B, &&op2C, &&op2D, &&op2E, &&op2F,  // 2x
        &&op30, &&op31, &&op32, &&op33, &&op34, &&op35, &&op36, &&op37, &&op38, &&op39, &&op3A, &&op3B, &&op3C, &&op3D, &&op3E, &&op3F,  // 3x
        &&op40, &&op41, &&op42, &&op43, &&op44, &&op45, &&op46, &&op47, &&op48, &&op49, &&op4A, &&op4B, &&op4C, &&op4D, &&op4E, &&op4F,  // 4x
        &&op50, &&op51, &&op52, &&op53, &&op54, &&op55, &&op56, &&op57, &&op58, &&op59, &&op5A, &&op5B, &&op5C, &&op5D, &&op5E, &&op5F,  // 5x
        &&op60, &&op61, &&op62, &&op63, &&op64, &&op65, &&op66, &&op67, &&op68, &&op69, &&op6A, &&op6B, &&op6C, &&op6D, &&op6E, &&op6F,  // 6x
        &&op70, &&op71, &&op72, &&op73, &&op74, &&op75, &&op76, &&op77, &&op78, &&op79, &&op7A, &&op7B, &&op7C, &&op7D, &&op7E, &&op7F,  // 7x
        &&op80, &&op81, &&op82, &&op83, &&op84, &&op85, &&op86, &&op87, &&op88, &&op89, &&op8A, &&op8B, &&op8C, &&op8D, &&op8E, &&op8F,  // 8x
        &&op90, &&op91, &&op92, &&op93, &&op94, &&op95, &&op96, &&op97, &&op98, &&op99, &&op9A, &&op9B, &&op9C, &&op9D, &&op9E, &&op9F,  // 9x
        &&opA0, &&opA1, &&opA2, &&opA3, &&opA4, &&opA5, &&opA6, &&opA7, &&opA8, &&opA9, &&opAA, &&opAB, &&opAC, &&opAD, &&opAE, &&opAF,  // Ax
        &&opB0, &&opB1, &&opB2, &&opB3, &&opB4, &&opB5, &&opB6, &&opB7, &&opB8, &&opB9, &&opBA, &&opBB, &&opBC, &&opBD, &&opBE, &&opBF,  // Bx
        &&opC0, &&opC1, &&opC2, &&opC3, &&opC4, &&opC5, &&opC6, &&opC7, &&opC8, &&opC9, &&opCA, &&opCB, &&opCC, &&opCD, &&opCE, &&opCF,  // Cx
        &&opD0, &&opD1, &&opD2, &&opD3, &&opD4, &&opD5, &&opD6, &&opD7, &&opD8, &&opD9, &&opDA, &&opDB, &&opDC, &&opDD, &&opDE, &&opDF,  // Dx
        &&opE0, &&opE1, &&opE2, &&opE3, &&opE4, &&opE5, &&opE6, &&opE7, &&opE8, &&opE9, &&opEA, &&opEB, &&opEC, &&opED, &&opEE, &&opEF,  // Ex
        &&opF0, &&opF1, &&opF2, &&opF3, &&opF4, &&opF5, &&opF6, &&opF7, &&opF8, &&opF9, &&opFA, &&opFB, &&opFC, &&opFD, &&opFE, &&opFF,  // Fx
    };

#define NEXT_INSTRUCTION                           \
    do {                                           \
        if (r.pc <= 1 || --limit == 0) goto done;  \
        goto* handlers[mem[r.pc++]];               \
    } while (0)

    goto* handlers[mem[r.pc++]];
    op00: execute<0x00>(r, mem); NEXT_INSTRUCTION;
    op01: execute<0x01>(r, mem); NEXT_INSTRUCTION;
    op02: execute<0x02>(r, mem); NEXT_INSTRUCTION;
    op03: execute<0x03>(r, mem); NEXT_INSTRUCTION;
    op04: execute<0x04>(r, mem); NEXT_INSTRUCTION;
    op05: execute<0x05>(r, mem); NEXT_INSTRUCTION;
    op06: execute<0x06>(r, mem); NEXT_INSTRUCTION;
    op07: execute<0x07>(r, mem); NEXT_INSTRUCTION;
    op08: execute<0x08>(r, mem); NEXT_INSTRUCTION;
    op09: execute<0x09>(r, mem); NEXT_INSTRUCTION;
    op0A: execute<0x0A>(r, mem); NEXT_INSTRUCTION;
    op0B: execute<0x0B>(r, mem); NEXT_INSTRUCTION;
    op0C: execute<0x0C>(r, mem); NEXT_INSTRUCTION;
    op0D: execute<0x0D>(r, mem); NEXT_INSTRUCTION;
    op0E: execute<0x0E>(r, mem); NEXT_INSTRUCTION;
    op0F: execute<0x0F>(r, mem); NEXT_INSTRUCTION;
    op10: execute<0x10>(r, mem); NEXT_INSTRUCTION;
    op11: execute<0x11>(r, mem); NEXT_INSTRUCTION;
    op12: execute<0x12>(r, mem); NEXT_INSTRUCTION;
    op13: execute<0x13>(r, mem); NEXT_INSTRUCTION;
    op14: execute<0x14>(r, mem); NEXT_INSTRUCTION;
    op15: execute<0x15>(r, mem); NEXT_INSTRUCTION;
    op16: execute<0x16>(r, mem); NEXT_INSTRUCTION;
    op17: execute<0x17>(r, mem); NEXT_INSTRUCTION;
    op18: execute<0x18>(r, mem); NEXT_INSTRUCTION;
    op19: execute<0x19>(r, mem); NEXT_INSTRUCTION;
    op1A: execute<0x1A>(r, mem); NEXT_INSTRUCTION;
    op1B: execute<0x1B>(r, mem); NEXT_INSTRUCTION;
    op1C: execute<0x1C>(r, mem); NEXT_INSTRUCTION;
    op1D: execute<0x1D>(r, mem); NEXT_INSTRUCTION;
    op1E: execute<0x1E>(r, mem); NEXT_INSTRUCTION;
    op1F: execute<0x1F>(r, mem); NEXT_INSTRUCTION;
    op20: execute<0x20>(r, mem); NEXT_INSTRUCTION;
    op21: execute<0x21>(r, mem); NEXT_INSTRUCTION;
    op22: execute<0x22>(r, mem); NEXT_INSTRUCTION;
    op23: execute<0x23>(r, mem); NEXT_INSTRUCTION;
    op24: execute<0x24>(r, mem); NEXT_INSTRUCTION;
    op25: execute<0x25>(r, mem); NEXT_INSTRUCTION;
    op26: execute<0x26>(r, mem); NEXT_INSTRUCTION;
    op27: execute<0x27>(r, mem); NEXT_INSTRUCTION;
    op28: execute<0x28>(r, mem); NEXT_INSTRUCTION;
    op29: execute<0x29>(r, mem); NEXT_INSTRUCTION;
    op2A: execute<0x2A>(r, mem); NEXT_INSTRUCTION;
    op2B: execute<0x2B>(r, mem); NEXT_INSTRUCTION;
    op2C: execute<0x2C>(r, mem); NEXT_INSTRUCTION;
    op2D: execute<0x2D>(r, mem); NEXT_INSTRUCTION;
    op2E: execute<0x2E>(r, mem); NEXT_INSTRUCTION;
    op2F: execute<0x2F>(r, mem); NEXT_INSTRUCTION;
    op30: execute<0x30>(r, mem); NEXT_INSTRUCTION;
    op31: execute<0x31>(r, mem); NEXT_INSTRUCTION;
    op32: execute<0x32>(r, mem); NEXT_INSTRUCTION;
    op33: execute<0x33>(r, mem); NEXT_INSTRUCTION;
    op34: execute<0x34>(r, mem); NEXT_INSTRUCTION;
    op35: execute<0x35>(r, mem); NEXT_INSTRUCTION;
    op36: execute<0x36>(r, mem); NEXT_INSTRUCTION;
    op37: execute<0x37>(r, mem); NEXT_INSTRUCTION;
    op38: execute<0x38>(r, mem); NEXT_INSTRUCTION;
    op39: execute<0x39>(r, mem); NEXT_INSTRUCTION;
    op3A: execute<0x3A>(r, mem); NEXT_INSTRUCTION;
    op3B: execute<0x3B>(r, mem); NEXT_INSTRUCTION;
    op3C: execute<0x3C>(r, mem); NEXT_INSTRUCTION;
    op3D: execute<0x3D>(r, mem); NEXT_INSTRUCTION;
    op3E: execute<0x3E>(r, mem); NEXT_INSTRUCTION;
    op3F: execute<0x3F>(r, mem); NEXT_INSTRUCTION;
    op40: execute<0x40>(r, mem); NEXT_INSTRUCTION;
    op41: execute<0x41>(r, mem); NEXT_INSTRUCTION;
    op42: execute<0x42>(r, mem); NEXT_INSTRUCTION;
    op43: execute<0x43>(r, mem); NEXT_INSTRUCTION;
    op44: execute<0x44>(r, mem); NEXT_INSTRUCTION;
    op45: execute<0x45>(r, mem); NEXT_INSTRUCTION;
    op46: execute<0x46>(r, mem); NEXT_INSTRUCTION;
    op47: execute<0x47>(r, mem); NEXT_INSTRUCTION;
    op48: execute<0x48>(r, mem); NEXT_INSTRUCTION;
    op49: execute<0x49>(r, mem); NEXT_INSTRUCTION;
    op4A: execute<0x4A>(r, mem); NEXT_INSTRUCTION;
    op4B: execute<0x4B>(r, mem); NEXT_INSTRUCTION;
    op4C: execute<0x4C>(r, mem); NEXT_INSTRUCTION;
    op4D: execute<0x4D>(r, mem); NEXT_INSTRUCTION;
    op4E: execute<0x4E>(r, mem); NEXT_INSTRUCTION;
    op4F: execute<0x4F>(r, mem); NEXT_INSTRUCTION;
    op50: execute<0x50>(r, mem); NEXT_INSTRUCTION;
    op51: execute<0x51>(r, mem); NEXT_INSTRUCTION;
    op52: execute<0x52>(r, mem); NEXT_INSTRUCTION;
    op53: execute<0x53>(r, mem); NEXT_INSTRUCTION;
    op54: execute<0x54>(r, mem); NEXT_INSTRUCTION;
    op55: execute<0x55>(r, mem); NEXT_INSTRUCTION;
    op56: execute<0x56>(r, mem); NEXT_INSTRUCTION;
    op57: execute<0x57>(r, mem); NEXT_INSTRUCTION;
    op58: execute<0x58>(r, mem); NEXT_INSTRUCTION;
    op59: execute<0x59>(r, mem); NEXT_INSTRUCTION;
    op5A: execute<0x5A>(r, mem); NEXT_INSTRUCTION;
    op5B: execute<0x5B>(r, mem); NEXT_INSTRUCTION;
    op5C: execute<0x5C>(r, mem); NEXT_INSTRUCTION;
    op5D: execute<0x5D>(r, mem); NEXT_INSTRUCTION;
    op5E: execute<0x5E>(r, mem); NEXT_INSTRUCTION;
    op5F: execute<0x5F>(r, mem); NEXT_INSTRUCTION;
    op60: execute<0x60>(r, mem); NEXT_INSTRUCTION;
    op61: execute<0x61>(r, mem); NEXT_INSTRUCTION;
    op62: execute<0x62>(r, mem); NEXT_INSTRUCTION;
    op63: execute<0x63>(r, mem); NEXT_INSTRUCTION;
    op64: execute<0x64>(r, mem); NEXT_INSTRUCTION;
    op65: execute<0x65>(r, mem); NEXT_INSTRUCTION;
    op66: execute<0x66>(r, mem); NEXT_INSTRUCTION;
    op67: execute<0x67>(r, mem); NEXT_INSTRUCTION;
    op68: execute<0x68>(r, mem); NEXT_INSTRUCTION;
    op69: execute<0x69>(r, mem); NEXT_INSTRUCTION;
    op6A: execute<0x6A>(r, mem); NEXT_INSTRUCTION;
    op6B: execute<0x6B>(r, mem); NEXT_INSTRUCTION;
    op6C: execute<0x6C>(r, mem); NEXT_INSTRUCTION;
    op6D: execute<0x6D>(r, mem); NEXT_INSTRUCTION;
    op6E: execute<0x6E>(r, mem); NEXT_INSTRUCTION;
    op6F: execute<0x6F>(r, mem); NEXT_INSTRUCTION;
    op70: execute<0x70>(r, mem); NEXT_INSTRUCTION;
    op71: execute<0x71>(r, mem); NEXT_INSTRUCTION;
    op72: execute<0x72>(r, mem); NEXT_INSTRUCTION;
    op73: execute<0x73>(r, mem); NEXT_INSTRUCTION;
    op74: execute<0x74>(r, mem); NEXT_INSTRUCTION;
    op75: execute<0x75>(r, mem); NEXT_INSTRUCTION;
    op76: execute<0x76>(r, mem); NEXT_INSTRUCTION;
    op77: execute<0x77>(r, mem); NEXT_INSTRUCTION;
    op78: execute<0x78>(r, mem); NEXT_INSTRUCTION;
    op79: execute<0x79>(r, mem); NEXT_INSTRUCTION;
    op7A: execute<0x7A>(r, mem); NEXT_INSTRUCTION;
    op7B: execute<0x7B>(r, mem); NEXT_INSTRUCTION;
    op7C: execute<0x7C>(r, mem); NEXT_INSTRUCTION;
    op7D: execute<0x7D>(r, mem); NEXT_INSTRUCTION;
    op7E: execute<0x7E>(r, mem); NEXT_INSTRUCTION;
    op7F: execute<0x7F>(r, mem); NEXT_INSTRUCTION;
    op80: execute<0x80>(r, mem); NEXT_INSTRUCTION;
    op81: execute<0x81>(r, mem); NEXT_INSTRUCTION;
    op82: execute<0x82>(r, mem); NEXT_INSTRUCTION;
    op83: execute<0x83>(r, mem); NEXT_INSTRUCTION;
    op84: execute<0x84>(r, mem); NEXT_INSTRUCTION;
    op85: execute<0x85>(r, mem); NEXT_INSTRUCTION;
    op86: execute<0x86>(r, mem); NEXT_INSTRUCTION;
    op87: execute<0x87>(r, mem); NEXT_INSTRUCTION;
    op88: execute<0x88>(r, mem); NEXT_INSTRUCTION;
    op89: execute<0x89>(r, mem); NEXT_INSTRUCTION;
    op8A: execute<0x8A>(r, mem); NEXT_INSTRUCTION;
    op8B: execute<0x8B>(r, mem); NEXT_INSTRUCTION;
    op8C: execute<0x8C>(r, mem); NEXT_INSTRUCTION;
    op8D: execute<0x8D>(r, mem); NEXT_INSTRUCTION;
    op8E: execute<0x8E>(r, mem); NEXT_INSTRUCTION;
    op8F: execute<0x8F>(r, mem); NEXT_INSTRUCTION;
    op90: execute<0x90>(r, mem); NEXT_INSTRUCTION;
    op91: execute<0x91>(r, mem); NEXT_INSTRUCTION;
    op92: execute<0x92>(r, mem); NEXT_INSTRUCTION;
    op93: execute<0x93>(r, mem); NEXT_INSTRUCTION;
    op94: execute<0x94>(r, mem); NEXT_INSTRUCTION;
    op95: execute<0x95>(r, mem); NEXT_INSTRUCTION;
    op96: execute<0x96>(r, mem); NEXT_INSTRUCTION;
    op97: execute<0x97>(r, mem); NEXT_INSTRUCTION;
    op98: execute<0x98>(r, mem); NEXT_INSTRUCTION;
    op99: execute<0x99>(r, mem); NEXT_INSTRUCTION;
    op9A: execute<0x9A>(r, mem); NEXT_INSTRUCTION;
    op9B: execute<0x9B>(r, mem); NEXT_INSTRUCTION;
    op9C: execute<0x9C>(r, mem); NEXT_INSTRUCTION;
    op9D: execute<0x9D>(r, mem); NEXT_INSTRUCTION;
    op9E: execute<0x9E>(r, mem); NEXT_INSTRUCTION;
    op9F: execute<0x9F>(r, mem); NEXT_INSTRUCTION;
    opA0: execute<0xA0>(r, mem); NEXT_INSTRUCTION;
    opA1: execute<0xA1>(r, mem); NEXT_INSTRUCTION;
    opA2: execute<0xA2>(r, mem); NEXT_INSTRUCTION;
    opA3: execute<0xA3>(r, mem); NEXT_INSTRUCTION;
    opA4: execute<0xA4>(r, mem); NEXT_INSTRUCTION;
    opA5: execute<0xA5>(r, mem); NEXT_INSTRUCTION;
    opA6: execute<0xA6>(r, mem); NEXT_INSTRUCTION;
    opA7: execute<0xA7>(r, mem); NEXT_INSTRUCTION;
    opA8: execute<0xA8>(r, mem); NEXT_INSTRUCTION;
    opA9: execute<0xA9>(r, mem); NEXT_INSTRUCTION;
    opAA: execute<0xAA>(r, mem); NEXT_INSTRUCTION;
    opAB: execute<0xAB>(r, mem); NEXT_INSTRUCTION;
    opAC: execute<0xAC>(r, mem); NEXT_INSTRUCTION;
    opAD: execute<0xAD>(r, mem); NEXT_INSTRUCTION;
    opAE: execute<0xAE>(r, mem); NEXT_INSTRUCTION;
    opAF: execute<0xAF>(r, mem); NEXT_INSTRUCTION;
    opB0: execute<0xB0>(r, mem); NEXT_INSTRUCTION;
    opB1: execute<0xB1>(r, mem); NEXT_INSTRUCTION;
    opB2: execute<0xB2>(r, mem); NEXT_INSTRUCTION;
    opB3: execute<0xB3>(r, mem); NEXT_INSTRUCTION;
    opB4: execute<0xB4>(r, mem); NEXT_INSTRUCTION;
    opB5: execute<0xB5>(r, mem); NEXT_INSTRUCTION;
    opB6: execute<0xB6>(r, mem); NEXT_INSTRUCTION;
    opB7: execute<0xB7>(r, mem); NEXT_INSTRUCTION;
    opB8: execute<0xB8>(r, mem); NEXT_INSTRUCTION;
    opB9: execute<0xB9>(r, mem); NEXT_INSTRUCTION;
    opBA: execute<0xBA>(r, mem); NEXT_INSTRUCTION;
    opBB: execute<0xBB>(r, mem); NEXT_INSTRUCTION;
    opBC: execute<0xBC>(r, mem); NEXT_INSTRUCTION;
    opBD: execute<0xBD>(r, mem); NEXT_INSTRUCTION;
    opBE: execute<0xBE>(r, mem); NEXT_INSTRUCTION;
    opBF: execute<0xBF>(r, mem); NEXT_INSTRUCTION;
    opC0: execute<0xC0>(r, mem); NEXT_INSTRUCTION;
    opC1: execute<0xC1>(r, mem); NEXT_INSTRUCTION;
    opC2: execute<0xC2>(r, mem); NEXT_INSTRUCTION;
    opC3: execute<0xC3>(r, mem); NEXT_INSTRUCTION;
    opC4: execute<0xC4>(r, mem); NEXT_INSTRUCTION;
    opC5: execute<0xC5>(r, mem); NEXT_INSTRUCTION;
    opC6: execute<0xC6>(r, mem); NEXT_INSTRUCTION;
    opC7: execute<0xC7>(r, mem); NEXT_INSTRUCTION;
    opC8: execute<0xC8>(r, mem); NEXT_INSTRUCTION;
    opC9: execute<0xC9>(r, mem); NEXT_INSTRUCTION;
    opCA: execute<0xCA>(r, mem); NEXT_INSTRUCTION;
    opCB: execute<0xCB>(r, mem); NEXT_INSTRUCTION;
    opCC: execute<0xCC>(r, mem); NEXT_INSTRUCTION;
    opCD: execute<0xCD>(r, mem); NEXT_INSTRUCTION;
    opCE: execute<0xCE>(r, mem); NEXT_INSTRUCTION;
    opCF: execute<0xCF>(r, mem); NEXT_INSTRUCTION;
    opD0: execute<0xD0>(r, mem); NEXT_INSTRUCTION;
    opD1: execute<0xD1>(r, mem); NEXT_INSTRUCTION;
    opD2: execute<0xD2>(r, mem); NEXT_INSTRUCTION;
    opD3: execute<0xD3>(r, mem); NEXT_INSTRUCTION;
    opD4: execute<0xD4>(r, mem); NEXT_INSTRUCTION;
    opD5: execute<0xD5>(r, mem); NEXT_INSTRUCTION;
    opD6: execute<0xD6>(r, mem); NEXT_INSTRUCTION;
    opD7: execute<0xD7>(r, mem); NEXT_INSTRUCTION;
    opD8: execute<0xD8>(r, mem); NEXT_INSTRUCTION;
    opD9: execute<0xD9>(r, mem); NEXT_INSTRUCTION;
    opDA: execute<0xDA>(r, mem); NEXT_INSTRUCTION;
    opDB: execute<0xDB>(r, mem); NEXT_INSTRUCTION;
    opDC: execute<0xDC>(r, mem); NEXT_INSTRUCTION;
    opDD: execute<0xDD>(r, mem); NEXT_INSTRUCTION;
    opDE: execute<0xDE>(r, mem); NEXT_INSTRUCTION;
    opDF: execute<0xDF>(r, mem); NEXT_INSTRUCTION;
    opE0: execute<0xE0>(r, mem); NEXT_INSTRUCTION;
    opE1: execute<0xE1>(r, mem); NEXT_INSTRUCTION;
    opE2: execute<0xE2>(r, mem); NEXT_INSTRUCTION;
    opE3: execute<0xE3>(r, mem); NEXT_INSTRUCTION;
    opE4: execute<0xE4>(r, mem); NEXT_INSTRUCTION;
    opE5: execute<0xE5>(r, mem); NEXT_INSTRUCTION;
    opE6: execute<0xE6>(r, mem); NEXT_INSTRUCTION;
    opE7: execute<0xE7>(r, mem); NEXT_INSTRUCTION;
    opE8: execute<0xE8>(r, mem); NEXT_INSTRUCTION;
    opE9: execute<0xE9>(r, mem); NEXT_INSTRUCTION;
    opEA: execute<0xEA>(r, mem); NEXT_INSTRUCTION;
    opEB: execute<0xEB>(r, mem); NEXT_INSTRUCTION;
    opEC: execute<0xEC>(r, mem); NEXT_INSTRUCTION;
    opED: execute<0xED>(r, mem); NEXT_INSTRUCTION;
    opEE: execute<0xEE>(r, mem); NEXT_INSTRUCTION;
    opEF: execute<0xEF>(r, mem); NEXT_INSTRUCTION;
    opF0: execute<0xF0>(r, mem); NEXT_INSTRUCTION;
    opF1: execute<0xF1>(r, mem); NEXT_INSTRUCTION;
    opF2: execute<0xF2>(r, mem); NEXT_INSTRUCTION;
    opF3: execute<0xF3>(r, mem); NEXT_INSTRUCTION;
    opF4: execute<0xF4>(r, mem); NEXT_INSTRUCTION;
    opF5: execute<0xF5>(r, mem); NEXT_INSTRUCTION;
    opF6: execute<0xF6>(r, mem); NEXT_INSTRUCTION;
    opF7: execute<0xF7>(r, mem); NEXT_INSTRUCTION;
    opF8: execute<0xF8>(r, mem); NEXT_INSTRUCTION;
    opF9: execute<0xF9>(r, mem); NEXT_INSTRUCTION;
    opFA: execute<0xFA>(r, mem); NEXT_INSTRUCTION;
    opFB: execute<0xFB>(r, mem); NEXT_INSTRUCTION;
    opFC: execute<0xFC>(r, mem); NEXT_INSTRUCTION;
    opFD: execute<0xFD>(r, mem); NEXT_INSTRUCTION;
    opFE: execute<0xFE>(r, mem); NEXT_INSTRUCTION;
    opFF: execute<0xFF>(r, mem); NEXT_INSTRUCTION;
#undef NEXT_INSTRUCTION
    // clang-format on

done:
    registers = r;
}

}  // namespace

uint8_t readMemory(uint16_t address) { return engine.memory[address]; }

void writeMemory(uint16_t address, uint8_t value) { store(engine.memory.data(), address, value); }

void pushByte(uint8_t value) {
    Regs r = loadRegs();
    push(r, engine.memory.data(), value);
    saveRegs(r);
}

uint8_t pullByte() {
    Regs r = loadRegs();
    const uint8_t value = pull(r, engine.memory.data());
    saveRegs(r);
    return value;
}

void resetMachine(uint32_t sampleRate) {
    setUpSynthesizer(sampleRate);
    engine.memory.fill(0);
    engine.cpu = {};
    engine.cpu.SP = 0xFF;
    engine.cutOffCalls = 0;
}

void executeInstruction() {
    Regs r = loadRegs();
    runInstructions(r, engine.memory.data(), 1);
    saveRegs(r);
}

bool callSubroutine(uint16_t address, uint8_t accumulator, uint32_t instructionLimit) {
    uint8_t* const mem = engine.memory.data();
    // P = 0: N clear, Z clear (z nonzero), C and V clear.
    Regs r{accumulator, 0, 0, 0xFD, address, 0, 1, false, false, 0};
    // The return address $0000 on the stack: the routine's final RTS continues at $0001.
    mem[0x01FF] = 0;
    mem[0x01FE] = 0;

    if (r.pc > 1 && instructionLimit != 0) runInstructions(r, mem, instructionLimit);
    saveRegs(r);

    const bool returned = r.pc <= 1;
    if (!returned) ++engine.cutOffCalls;
    return returned;
}

}  // namespace sidtune
