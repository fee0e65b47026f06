// The meaning of each instruction: the registers while code runs, the addressing modes, and one
// handler per opcode, generated at compile time from the opcode grid (opcode_tables.h). Only the
// interpreter (cpu.cpp) includes this; it dispatches to execute<Op> for each opcode it decodes, and
// for a branch asks branchTaken<Op> and takes or skips it.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "cpu/cpu_state.h"
#include "cpu/machine.h"
#include "cpu/opcode_tables.h"
#include "sid/sid.h"

namespace sidtune {

namespace interpreter {

using flag::Carry;
using flag::Negative;
using flag::Overflow;
using flag::Zero;

// The registers while code runs. The interpreter works on a local copy so that the compiler can
// keep them in machine registers; the machine's cpu is written back when a call or a step ends.
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

// The rare path of a store to the chip: the sample player's registers. Out of line (cpu.cpp) and
// marked cold, so that the registers of the interpreter's loop are allocated for the other paths
// (without the mark, handing the machine to a call made the loop spill its registers and run
// measurably slower; bench/README.md).
[[gnu::cold]] void writeSamplePlayer(Machine& machine, uint16_t address, uint8_t value);
// A store to the I/O area of a machine with more than one chip (cpu.cpp), as rare.
[[gnu::cold]] void writeChips(Machine& machine, uint16_t address, uint8_t value);

// A store to $D400-$D7FF goes to the chip, the image keeping its byte. The register write is
// inline: play routines write the chip some 10 to 40 times a call, and a call out of the loop
// costs it its registers.
[[gnu::always_inline]] inline void store(uint8_t* mem, Machine& machine, uint16_t address, uint8_t value) {
    // One test for every store outside $D400-$DFFF (the sound chips' range; the first's 1 KiB
    // and the second and third chip's places).
    if (uint16_t(address - 0xD400) < 0x0C00) {
        if (__builtin_expect(machine.moreChipAddresses[0] != 0, 0))
            return writeChips(machine, address, value);
        if (address < 0xD800) {
            // The chip's 32 register indexes repeat every 32 bytes through the whole 1 KiB range.
            writeSidRegister(machine.sid, address & 0x1F, value);
            if (__builtin_expect(address >= kFirstDigiAddress && address <= kLastDigiAddress, 0))
                writeSamplePlayer(machine, address, value);
            return;
        }
    }
    mem[address] = value;
}

// A little-endian word; the high byte comes from the next address, wrapping at $FFFF. Below $FFFF
// the two bytes are one load, in the host's order, which is the 6502's.
static_assert(std::endian::native == std::endian::little, "a word is loaded as the 6502 stores it");
[[gnu::always_inline]] inline uint16_t readWord(const uint8_t* mem, uint16_t address) {
    if (__builtin_expect(address == 0xFFFF, 0)) return uint16_t(mem[0xFFFF] | mem[0] << 8);
    uint16_t word;
    std::memcpy(&word, mem + address, sizeof word);
    return word;
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
[[gnu::always_inline]] inline void modifyOperand(Regs& r, uint8_t* mem, Machine& machine, Change change) {
    if constexpr (M == AddressingMode::Accumulator) {
        r.a = change(r.a);
    } else {
        const uint16_t address = effectiveAddress<M>(r, mem);
        store(mem, machine, address, change(mem[address]));
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

// Branches. The interpreter gives a branch two tails (cpu.cpp), so it asks for the condition
// and then takes or skips the branch.
template <uint8_t Op>
constexpr bool kIsBranch = [] {
    using enum Instruction;
    constexpr Instruction id = opcodeTable[Op];
    return id == BCC || id == BCS || id == BNE || id == BEQ || id == BPL || id == BMI || id == BVC ||
           id == BVS;
}();

template <uint8_t Op>
[[gnu::always_inline]] inline bool branchTaken(const Regs& r) {
    using enum Instruction;
    constexpr Instruction id = opcodeTable[Op];
    if constexpr (id == BCC) return !r.c;
    if constexpr (id == BCS) return r.c;
    if constexpr (id == BNE) return r.z != 0;
    if constexpr (id == BEQ) return r.z == 0;
    if constexpr (id == BPL) return !(r.n & Negative);
    if constexpr (id == BMI) return r.n & Negative;
    if constexpr (id == BVC) return !r.v;
    if constexpr (id == BVS) return r.v;
    static_assert(kIsBranch<Op>, "not a branch");
}

// Called with PC on the offset byte.
[[gnu::always_inline]] inline void takeBranch(Regs& r, const uint8_t* mem) {
    const int8_t offset = int8_t(mem[r.pc]);
    r.pc = uint16_t(r.pc + 1 + offset);
}
[[gnu::always_inline]] inline void skipBranch(Regs& r) { ++r.pc; }

// One instruction, its meaning taken from the opcode tables at compile time. Called with PC
// already past the opcode byte.
template <uint8_t Op>
[[gnu::always_inline]] inline void execute(Regs& r, Machine& machine) {
    // The image is the machine's first member: one pointer serves for both, so the hot loop keeps
    // a single register for them.
    static_assert(offsetof(Machine, memory) == 0, "the interpreter reaches the machine through its image");
    uint8_t* const mem = machine.memory.data();
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
        store(mem, machine, effectiveAddress<mode>(r, mem), r.a);
    } else if constexpr (id == STX) {
        store(mem, machine, effectiveAddress<mode>(r, mem), r.x);
    } else if constexpr (id == STY) {
        store(mem, machine, effectiveAddress<mode>(r, mem), r.y);
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
        modifyOperand<mode>(r, mem, machine, [&r](uint8_t m) { return setNZ(r, uint8_t(m + 1)); });
    } else if constexpr (id == DEC) {
        modifyOperand<mode>(r, mem, machine, [&r](uint8_t m) { return setNZ(r, uint8_t(m - 1)); });
    } else if constexpr (id == ASL) {
        modifyOperand<mode>(r, mem, machine, [&r](uint8_t m) {
            r.c = m & 0x80;
            return setNZ(r, uint8_t(m << 1));
        });
    } else if constexpr (id == LSR) {
        modifyOperand<mode>(r, mem, machine, [&r](uint8_t m) {
            r.c = m & 0x01;
            return setNZ(r, uint8_t(m >> 1));
        });
    } else if constexpr (id == ROL) {
        modifyOperand<mode>(r, mem, machine, [&r](uint8_t m) {
            const uint8_t carryIn = r.c ? 0x01 : 0x00;
            r.c = m & 0x80;
            return setNZ(r, uint8_t(m << 1 | carryIn));
        });
    } else if constexpr (id == ROR) {
        modifyOperand<mode>(r, mem, machine, [&r](uint8_t m) {
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
    // Branches are not run here: the interpreter gives each branch two tails (branchTaken above).
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
        static_assert(id == Undocumented, "instruction without an implementation (a branch: branchTaken)");
    }
}

}  // namespace interpreter
}  // namespace sidtune
