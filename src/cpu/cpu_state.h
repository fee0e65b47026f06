// The emulated machine's state: the 6502 register set and the 64 KiB memory image.
//
// The machine is a bare NMOS 6502 with RAM everywhere: no ROM, no banking, no video or timer
// chips, no interrupts and no cycle timing. One range is decoded, and only on CPU writes:
// $D400-$D7FF goes to the sound chip (see cpu.h). Everything else is a plain byte.
//
// Status byte P:
//
//     bit   7   6   5   4   3   2   1   0
//           N   V   -   -   D   I   Z   C
//
// Bits 5 and 4 are never set or tested by an instruction; they keep whatever a pulled byte
// carried. I and D are stored, pushed and pulled, but nothing consults them: ADC and SBC are
// binary whatever D says.
#pragma once

#include <array>
#include <cstdint>

namespace sidtune {

struct Cpu6502 {
    uint8_t A;
    uint8_t X;
    uint8_t Y;
    uint8_t SP;  // the stack slot is $0100 + SP; it stops at $00 and $FF instead of wrapping
    uint8_t P;
    uint16_t PC;
};

// The whole address space of the emulated machine, indexed by the 16-bit address.
using C64Memory = std::array<uint8_t, 65536>;

namespace flag {
constexpr uint8_t Carry = 0x01;
constexpr uint8_t Zero = 0x02;
constexpr uint8_t Interrupt = 0x04;
constexpr uint8_t Decimal = 0x08;
constexpr uint8_t Overflow = 0x40;
constexpr uint8_t Negative = 0x80;
}  // namespace flag

// How an instruction finds its operand. Operand words are little-endian.
enum class AddressingMode : uint8_t {
    Implied = 0,           // no operand
    Immediate = 1,         // #nn
    Absolute = 2,          // nnnn
    AbsoluteX = 3,         // nnnn,X   (wraps at $FFFF)
    AbsoluteY = 4,         // nnnn,Y
    ZeroPage = 6,          // nn
    ZeroPageX = 7,         // nn,X     (stays in page 0)
    ZeroPageY = 8,         // nn,Y
    Indirect = 9,          // (nnnn)   JMP only
    IndexedIndirect = 10,  // (nn,X)   pointer in page 0, both bytes
    IndirectIndexed = 11,  // (nn),Y   pointer in page 0, then + Y over the whole space
    Accumulator = 12,      // A
    Relative = 13,         // signed branch offset
};

}  // namespace sidtune
