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
struct Regs {
    uint8_t a, x, y, sp, p;
    uint16_t pc;
};

Regs loadRegs() {
    const Cpu6502& c = engine.cpu;
    return {c.A, c.X, c.Y, c.SP, c.P, c.PC};
}

void saveRegs(const Regs& r) { engine.cpu = {r.a, r.x, r.y, r.sp, r.p, r.pc}; }

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
constexpr bool kNoSuchMode = false;

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

[[gnu::always_inline]] inline void setFlag(Regs& r, uint8_t mask, bool condition) {
    r.p = condition ? uint8_t(r.p | mask) : uint8_t(r.p & ~mask);
}

[[gnu::always_inline]] inline uint8_t setNZ(Regs& r, uint8_t value) {
    r.p = uint8_t((r.p & ~(Negative | Zero)) | (value & Negative) | (value == 0 ? Zero : 0));
    return value;
}

// Binary addition whatever D says; SBC is this with the operand inverted.
[[gnu::always_inline]] inline void addWithCarry(Regs& r, uint8_t m) {
    const unsigned sum = r.a + m + (r.p & Carry);
    // Signed overflow: both inputs have the same sign and the result has the other one.
    const bool overflow = (~(r.a ^ m) & (r.a ^ sum) & 0x80) != 0;
    setFlag(r, Carry, sum > 0xFF);
    setFlag(r, Overflow, overflow);
    r.a = setNZ(r, uint8_t(sum));
}

[[gnu::always_inline]] inline void compare(Regs& r, uint8_t reg, uint8_t m) {
    setFlag(r, Carry, reg >= m);
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
    else if constexpr (id == LDA) { r.a = setNZ(r, fetchOperand<mode>(r, mem)); }
    else if constexpr (id == LDX) { r.x = setNZ(r, fetchOperand<mode>(r, mem)); }
    else if constexpr (id == LDY) { r.y = setNZ(r, fetchOperand<mode>(r, mem)); }
    else if constexpr (id == STA) { store(mem, effectiveAddress<mode>(r, mem), r.a); }
    else if constexpr (id == STX) { store(mem, effectiveAddress<mode>(r, mem), r.x); }
    else if constexpr (id == STY) { store(mem, effectiveAddress<mode>(r, mem), r.y); }
    else if constexpr (id == TAX) { r.x = setNZ(r, r.a); }
    else if constexpr (id == TAY) { r.y = setNZ(r, r.a); }
    else if constexpr (id == TXA) { r.a = setNZ(r, r.x); }
    else if constexpr (id == TYA) { r.a = setNZ(r, r.y); }
    else if constexpr (id == TSX) { r.x = setNZ(r, r.sp); }
    else if constexpr (id == TXS) { r.sp = r.x; }
    // Arithmetic, logic, comparison.
    else if constexpr (id == ADC) { addWithCarry(r, fetchOperand<mode>(r, mem)); }
    else if constexpr (id == SBC) { addWithCarry(r, uint8_t(~fetchOperand<mode>(r, mem))); }
    else if constexpr (id == AND) { r.a = setNZ(r, r.a & fetchOperand<mode>(r, mem)); }
    else if constexpr (id == ORA) { r.a = setNZ(r, r.a | fetchOperand<mode>(r, mem)); }
    else if constexpr (id == EOR) { r.a = setNZ(r, r.a ^ fetchOperand<mode>(r, mem)); }
    else if constexpr (id == CMP) { compare(r, r.a, fetchOperand<mode>(r, mem)); }
    else if constexpr (id == CPX) { compare(r, r.x, fetchOperand<mode>(r, mem)); }
    else if constexpr (id == CPY) { compare(r, r.y, fetchOperand<mode>(r, mem)); }
    else if constexpr (id == BIT) {
        const uint8_t m = fetchOperand<mode>(r, mem);
        setFlag(r, Zero, (r.a & m) == 0);
        setFlag(r, Negative, m & 0x80);
        setFlag(r, Overflow, m & 0x40);
    }
    // Read-modify-write.
    else if constexpr (id == INC) {
        modifyOperand<mode>(r, mem, [&r](uint8_t m) { return setNZ(r, uint8_t(m + 1)); });
    } else if constexpr (id == DEC) {
        modifyOperand<mode>(r, mem, [&r](uint8_t m) { return setNZ(r, uint8_t(m - 1)); });
    } else if constexpr (id == ASL) {
        modifyOperand<mode>(r, mem, [&r](uint8_t m) {
            setFlag(r, Carry, m & 0x80);
            return setNZ(r, uint8_t(m << 1));
        });
    } else if constexpr (id == LSR) {
        modifyOperand<mode>(r, mem, [&r](uint8_t m) {
            setFlag(r, Carry, m & 0x01);
            return setNZ(r, uint8_t(m >> 1));
        });
    } else if constexpr (id == ROL) {
        modifyOperand<mode>(r, mem, [&r](uint8_t m) {
            const uint8_t carryIn = r.p & Carry;
            setFlag(r, Carry, m & 0x80);
            return setNZ(r, uint8_t(m << 1 | carryIn));
        });
    } else if constexpr (id == ROR) {
        modifyOperand<mode>(r, mem, [&r](uint8_t m) {
            const uint8_t carryIn = (r.p & Carry) ? 0x80 : 0x00;
            setFlag(r, Carry, m & 0x01);
            return setNZ(r, uint8_t(m >> 1 | carryIn));
        });
    }
    else if constexpr (id == INX) { r.x = setNZ(r, uint8_t(r.x + 1)); }
    else if constexpr (id == INY) { r.y = setNZ(r, uint8_t(r.y + 1)); }
    else if constexpr (id == DEX) { r.x = setNZ(r, uint8_t(r.x - 1)); }
    else if constexpr (id == DEY) { r.y = setNZ(r, uint8_t(r.y - 1)); }
    // Branches.
    else if constexpr (id == BCC) { branchIf(r, mem, !(r.p & Carry)); }
    else if constexpr (id == BCS) { branchIf(r, mem, r.p & Carry); }
    else if constexpr (id == BNE) { branchIf(r, mem, !(r.p & Zero)); }
    else if constexpr (id == BEQ) { branchIf(r, mem, r.p & Zero); }
    else if constexpr (id == BPL) { branchIf(r, mem, !(r.p & Negative)); }
    else if constexpr (id == BMI) { branchIf(r, mem, r.p & Negative); }
    else if constexpr (id == BVC) { branchIf(r, mem, !(r.p & Overflow)); }
    else if constexpr (id == BVS) { branchIf(r, mem, r.p & Overflow); }
    // Jumps, calls, returns.
    else if constexpr (id == JMP && mode == AddressingMode::Absolute) { r.pc = readWord(mem, r.pc); }
    else if constexpr (id == JMP && mode == AddressingMode::Indirect) {
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
    else if constexpr (id == PHA) { push(r, mem, r.a); }
    else if constexpr (id == PHP) { push(r, mem, r.p); }
    else if constexpr (id == PLA) { r.a = setNZ(r, pull(r, mem)); }
    else if constexpr (id == PLP) { r.p = pull(r, mem); }
    // Flags.
    else if constexpr (id == CLC) { r.p &= uint8_t(~Carry); }
    else if constexpr (id == SEC) { r.p |= Carry; }
    else if constexpr (id == CLD) { r.p &= uint8_t(~flag::Decimal); }
    else if constexpr (id == SED) { r.p |= flag::Decimal; }
    else if constexpr (id == CLI) { r.p &= uint8_t(~flag::Interrupt); }
    else if constexpr (id == SEI) { r.p |= flag::Interrupt; }
    else if constexpr (id == CLV) { r.p &= uint8_t(~Overflow); }
    else {
        static_assert(id == Undocumented, "instruction without an implementation");
    }
}

// Fetches and executes one instruction. Every instruction is decoded from the image as it runs,
// so code that rewrites itself runs its new bytes at once.
[[gnu::always_inline]] inline void step(Regs& r, uint8_t* mem) {
    const uint8_t opcode = mem[r.pc++];
    switch (opcode) {
        // clang-format off
        case 0x00: return execute<0x00>(r, mem);
        case 0x01: return execute<0x01>(r, mem);
        case 0x02: return execute<0x02>(r, mem);
        case 0x03: return execute<0x03>(r, mem);
        case 0x04: return execute<0x04>(r, mem);
        case 0x05: return execute<0x05>(r, mem);
        case 0x06: return execute<0x06>(r, mem);
        case 0x07: return execute<0x07>(r, mem);
        case 0x08: return execute<0x08>(r, mem);
        case 0x09: return execute<0x09>(r, mem);
        case 0x0A: return execute<0x0A>(r, mem);
        case 0x0B: return execute<0x0B>(r, mem);
        case 0x0C: return execute<0x0C>(r, mem);
        case 0x0D: return execute<0x0D>(r, mem);
        case 0x0E: return execute<0x0E>(r, mem);
        case 0x0F: return execute<0x0F>(r, mem);
        case 0x10: return execute<0x10>(r, mem);
        case 0x11: return execute<0x11>(r, mem);
        case 0x12: return execute<0x12>(r, mem);
        case 0x13: return execute<0x13>(r, mem);
        case 0x14: return execute<0x14>(r, mem);
        case 0x15: return execute<0x15>(r, mem);
        case 0x16: return execute<0x16>(r, mem);
        case 0x17: return execute<0x17>(r, mem);
        case 0x18: return execute<0x18>(r, mem);
        case 0x19: return execute<0x19>(r, mem);
        case 0x1A: return execute<0x1A>(r, mem);
        case 0x1B: return execute<0x1B>(r, mem);
        case 0x1C: return execute<0x1C>(r, mem);
        case 0x1D: return execute<0x1D>(r, mem);
        case 0x1E: return execute<0x1E>(r, mem);
        case 0x1F: return execute<0x1F>(r, mem);
        case 0x20: return execute<0x20>(r, mem);
        case 0x21: return execute<0x21>(r, mem);
        case 0x22: return execute<0x22>(r, mem);
        case 0x23: return execute<0x23>(r, mem);
        case 0x24: return execute<0x24>(r, mem);
        case 0x25: return execute<0x25>(r, mem);
        case 0x26: return execute<0x26>(r, mem);
        case 0x27: return execute<0x27>(r, mem);
        case 0x28: return execute<0x28>(r, mem);
        case 0x29: return execute<0x29>(r, mem);
        case 0x2A: return execute<0x2A>(r, mem);
        case 0x2B: return execute<0x2B>(r, mem);
        case 0x2C: return execute<0x2C>(r, mem);
        case 0x2D: return execute<0x2D>(r, mem);
        case 0x2E: return execute<0x2E>(r, mem);
        case 0x2F: return execute<0x2F>(r, mem);
        case 0x30: return execute<0x30>(r, mem);
        case 0x31: return execute<0x31>(r, mem);
        case 0x32: return execute<0x32>(r, mem);
        case 0x33: return execute<0x33>(r, mem);
        case 0x34: return execute<0x34>(r, mem);
        case 0x35: return execute<0x35>(r, mem);
        case 0x36: return execute<0x36>(r, mem);
        case 0x37: return execute<0x37>(r, mem);
        case 0x38: return execute<0x38>(r, mem);
        case 0x39: return execute<0x39>(r, mem);
        case 0x3A: return execute<0x3A>(r, mem);
        case 0x3B: return execute<0x3B>(r, mem);
        case 0x3C: return execute<0x3C>(r, mem);
        case 0x3D: return execute<0x3D>(r, mem);
        case 0x3E: return execute<0x3E>(r, mem);
        case 0x3F: return execute<0x3F>(r, mem);
        case 0x40: return execute<0x40>(r, mem);
        case 0x41: return execute<0x41>(r, mem);
        case 0x42: return execute<0x42>(r, mem);
        case 0x43: return execute<0x43>(r, mem);
        case 0x44: return execute<0x44>(r, mem);
        case 0x45: return execute<0x45>(r, mem);
        case 0x46: return execute<0x46>(r, mem);
        case 0x47: return execute<0x47>(r, mem);
        case 0x48: return execute<0x48>(r, mem);
        case 0x49: return execute<0x49>(r, mem);
        case 0x4A: return execute<0x4A>(r, mem);
        case 0x4B: return execute<0x4B>(r, mem);
        case 0x4C: return execute<0x4C>(r, mem);
        case 0x4D: return execute<0x4D>(r, mem);
        case 0x4E: return execute<0x4E>(r, mem);
        case 0x4F: return execute<0x4F>(r, mem);
        case 0x50: return execute<0x50>(r, mem);
        case 0x51: return execute<0x51>(r, mem);
        case 0x52: return execute<0x52>(r, mem);
        case 0x53: return execute<0x53>(r, mem);
        case 0x54: return execute<0x54>(r, mem);
        case 0x55: return execute<0x55>(r, mem);
        case 0x56: return execute<0x56>(r, mem);
        case 0x57: return execute<0x57>(r, mem);
        case 0x58: return execute<0x58>(r, mem);
        case 0x59: return execute<0x59>(r, mem);
        case 0x5A: return execute<0x5A>(r, mem);
        case 0x5B: return execute<0x5B>(r, mem);
        case 0x5C: return execute<0x5C>(r, mem);
        case 0x5D: return execute<0x5D>(r, mem);
        case 0x5E: return execute<0x5E>(r, mem);
        case 0x5F: return execute<0x5F>(r, mem);
        case 0x60: return execute<0x60>(r, mem);
        case 0x61: return execute<0x61>(r, mem);
        case 0x62: return execute<0x62>(r, mem);
        case 0x63: return execute<0x63>(r, mem);
        case 0x64: return execute<0x64>(r, mem);
        case 0x65: return execute<0x65>(r, mem);
        case 0x66: return execute<0x66>(r, mem);
        case 0x67: return execute<0x67>(r, mem);
        case 0x68: return execute<0x68>(r, mem);
        case 0x69: return execute<0x69>(r, mem);
        case 0x6A: return execute<0x6A>(r, mem);
        case 0x6B: return execute<0x6B>(r, mem);
        case 0x6C: return execute<0x6C>(r, mem);
        case 0x6D: return execute<0x6D>(r, mem);
        case 0x6E: return execute<0x6E>(r, mem);
        case 0x6F: return execute<0x6F>(r, mem);
        case 0x70: return execute<0x70>(r, mem);
        case 0x71: return execute<0x71>(r, mem);
        case 0x72: return execute<0x72>(r, mem);
        case 0x73: return execute<0x73>(r, mem);
        case 0x74: return execute<0x74>(r, mem);
        case 0x75: return execute<0x75>(r, mem);
        case 0x76: return execute<0x76>(r, mem);
        case 0x77: return execute<0x77>(r, mem);
        case 0x78: return execute<0x78>(r, mem);
        case 0x79: return execute<0x79>(r, mem);
        case 0x7A: return execute<0x7A>(r, mem);
        case 0x7B: return execute<0x7B>(r, mem);
        case 0x7C: return execute<0x7C>(r, mem);
        case 0x7D: return execute<0x7D>(r, mem);
        case 0x7E: return execute<0x7E>(r, mem);
        case 0x7F: return execute<0x7F>(r, mem);
        case 0x80: return execute<0x80>(r, mem);
        case 0x81: return execute<0x81>(r, mem);
        case 0x82: return execute<0x82>(r, mem);
        case 0x83: return execute<0x83>(r, mem);
        case 0x84: return execute<0x84>(r, mem);
        case 0x85: return execute<0x85>(r, mem);
        case 0x86: return execute<0x86>(r, mem);
        case 0x87: return execute<0x87>(r, mem);
        case 0x88: return execute<0x88>(r, mem);
        case 0x89: return execute<0x89>(r, mem);
        case 0x8A: return execute<0x8A>(r, mem);
        case 0x8B: return execute<0x8B>(r, mem);
        case 0x8C: return execute<0x8C>(r, mem);
        case 0x8D: return execute<0x8D>(r, mem);
        case 0x8E: return execute<0x8E>(r, mem);
        case 0x8F: return execute<0x8F>(r, mem);
        case 0x90: return execute<0x90>(r, mem);
        case 0x91: return execute<0x91>(r, mem);
        case 0x92: return execute<0x92>(r, mem);
        case 0x93: return execute<0x93>(r, mem);
        case 0x94: return execute<0x94>(r, mem);
        case 0x95: return execute<0x95>(r, mem);
        case 0x96: return execute<0x96>(r, mem);
        case 0x97: return execute<0x97>(r, mem);
        case 0x98: return execute<0x98>(r, mem);
        case 0x99: return execute<0x99>(r, mem);
        case 0x9A: return execute<0x9A>(r, mem);
        case 0x9B: return execute<0x9B>(r, mem);
        case 0x9C: return execute<0x9C>(r, mem);
        case 0x9D: return execute<0x9D>(r, mem);
        case 0x9E: return execute<0x9E>(r, mem);
        case 0x9F: return execute<0x9F>(r, mem);
        case 0xA0: return execute<0xA0>(r, mem);
        case 0xA1: return execute<0xA1>(r, mem);
        case 0xA2: return execute<0xA2>(r, mem);
        case 0xA3: return execute<0xA3>(r, mem);
        case 0xA4: return execute<0xA4>(r, mem);
        case 0xA5: return execute<0xA5>(r, mem);
        case 0xA6: return execute<0xA6>(r, mem);
        case 0xA7: return execute<0xA7>(r, mem);
        case 0xA8: return execute<0xA8>(r, mem);
        case 0xA9: return execute<0xA9>(r, mem);
        case 0xAA: return execute<0xAA>(r, mem);
        case 0xAB: return execute<0xAB>(r, mem);
        case 0xAC: return execute<0xAC>(r, mem);
        case 0xAD: return execute<0xAD>(r, mem);
        case 0xAE: return execute<0xAE>(r, mem);
        case 0xAF: return execute<0xAF>(r, mem);
        case 0xB0: return execute<0xB0>(r, mem);
        case 0xB1: return execute<0xB1>(r, mem);
        case 0xB2: return execute<0xB2>(r, mem);
        case 0xB3: return execute<0xB3>(r, mem);
        case 0xB4: return execute<0xB4>(r, mem);
        case 0xB5: return execute<0xB5>(r, mem);
        case 0xB6: return execute<0xB6>(r, mem);
        case 0xB7: return execute<0xB7>(r, mem);
        case 0xB8: return execute<0xB8>(r, mem);
        case 0xB9: return execute<0xB9>(r, mem);
        case 0xBA: return execute<0xBA>(r, mem);
        case 0xBB: return execute<0xBB>(r, mem);
        case 0xBC: return execute<0xBC>(r, mem);
        case 0xBD: return execute<0xBD>(r, mem);
        case 0xBE: return execute<0xBE>(r, mem);
        case 0xBF: return execute<0xBF>(r, mem);
        case 0xC0: return execute<0xC0>(r, mem);
        case 0xC1: return execute<0xC1>(r, mem);
        case 0xC2: return execute<0xC2>(r, mem);
        case 0xC3: return execute<0xC3>(r, mem);
        case 0xC4: return execute<0xC4>(r, mem);
        case 0xC5: return execute<0xC5>(r, mem);
        case 0xC6: return execute<0xC6>(r, mem);
        case 0xC7: return execute<0xC7>(r, mem);
        case 0xC8: return execute<0xC8>(r, mem);
        case 0xC9: return execute<0xC9>(r, mem);
        case 0xCA: return execute<0xCA>(r, mem);
        case 0xCB: return execute<0xCB>(r, mem);
        case 0xCC: return execute<0xCC>(r, mem);
        case 0xCD: return execute<0xCD>(r, mem);
        case 0xCE: return execute<0xCE>(r, mem);
        case 0xCF: return execute<0xCF>(r, mem);
        case 0xD0: return execute<0xD0>(r, mem);
        case 0xD1: return execute<0xD1>(r, mem);
        case 0xD2: return execute<0xD2>(r, mem);
        case 0xD3: return execute<0xD3>(r, mem);
        case 0xD4: return execute<0xD4>(r, mem);
        case 0xD5: return execute<0xD5>(r, mem);
        case 0xD6: return execute<0xD6>(r, mem);
        case 0xD7: return execute<0xD7>(r, mem);
        case 0xD8: return execute<0xD8>(r, mem);
        case 0xD9: return execute<0xD9>(r, mem);
        case 0xDA: return execute<0xDA>(r, mem);
        case 0xDB: return execute<0xDB>(r, mem);
        case 0xDC: return execute<0xDC>(r, mem);
        case 0xDD: return execute<0xDD>(r, mem);
        case 0xDE: return execute<0xDE>(r, mem);
        case 0xDF: return execute<0xDF>(r, mem);
        case 0xE0: return execute<0xE0>(r, mem);
        case 0xE1: return execute<0xE1>(r, mem);
        case 0xE2: return execute<0xE2>(r, mem);
        case 0xE3: return execute<0xE3>(r, mem);
        case 0xE4: return execute<0xE4>(r, mem);
        case 0xE5: return execute<0xE5>(r, mem);
        case 0xE6: return execute<0xE6>(r, mem);
        case 0xE7: return execute<0xE7>(r, mem);
        case 0xE8: return execute<0xE8>(r, mem);
        case 0xE9: return execute<0xE9>(r, mem);
        case 0xEA: return execute<0xEA>(r, mem);
        case 0xEB: return execute<0xEB>(r, mem);
        case 0xEC: return execute<0xEC>(r, mem);
        case 0xED: return execute<0xED>(r, mem);
        case 0xEE: return execute<0xEE>(r, mem);
        case 0xEF: return execute<0xEF>(r, mem);
        case 0xF0: return execute<0xF0>(r, mem);
        case 0xF1: return execute<0xF1>(r, mem);
        case 0xF2: return execute<0xF2>(r, mem);
        case 0xF3: return execute<0xF3>(r, mem);
        case 0xF4: return execute<0xF4>(r, mem);
        case 0xF5: return execute<0xF5>(r, mem);
        case 0xF6: return execute<0xF6>(r, mem);
        case 0xF7: return execute<0xF7>(r, mem);
        case 0xF8: return execute<0xF8>(r, mem);
        case 0xF9: return execute<0xF9>(r, mem);
        case 0xFA: return execute<0xFA>(r, mem);
        case 0xFB: return execute<0xFB>(r, mem);
        case 0xFC: return execute<0xFC>(r, mem);
        case 0xFD: return execute<0xFD>(r, mem);
        case 0xFE: return execute<0xFE>(r, mem);
        case 0xFF: return execute<0xFF>(r, mem);
        // clang-format on
    }
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
    step(r, engine.memory.data());
    saveRegs(r);
}

bool callSubroutine(uint16_t address, uint8_t accumulator, uint32_t instructionLimit) {
    uint8_t* const mem = engine.memory.data();
    Regs r{accumulator, 0, 0, 0xFD, 0, address};
    // The return address $0000 on the stack: the routine's final RTS continues at $0001.
    mem[0x01FF] = 0;
    mem[0x01FE] = 0;

    // The hot loop: registers in locals, one counter for the bound, nothing else.
    uint32_t left = instructionLimit;
    while (r.pc > 1 && left != 0) {
        step(r, mem);
        --left;
    }
    saveRegs(r);

    const bool returned = r.pc <= 1;
    if (!returned) ++engine.cutOffCalls;
    return returned;
}

}  // namespace sidtune
