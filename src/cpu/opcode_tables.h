// The opcode matrix of the NMOS 6502: which instruction and which addressing mode each of the
// 256 opcodes has. The interpreter is generated from these two tables at compile time, so they
// are the one place where an opcode's meaning is written down.
//
// Both tables are laid out as the published matrix: row = high nibble, column = low nibble.
// The 151 documented opcodes hold their mnemonic; the other 105 hold Undocumented and run as
// one-byte no-ops, whatever their length on the real chip.
#pragma once

#include <array>
#include <cstdint>

#include "cpu/cpu_state.h"

namespace sidtune {

// The 56 documented mnemonics in alphabetical order, then Undocumented.
// clang-format off
enum class Instruction : uint8_t {
    ADC, AND, ASL, BCC, BCS, BEQ, BIT, BMI, BNE, BPL, BRK, BVC, BVS, CLC,
    CLD, CLI, CLV, CMP, CPX, CPY, DEC, DEX, DEY, EOR, INC, INX, INY, JMP,
    JSR, LDA, LDX, LDY, LSR, NOP, ORA, PHA, PHP, PLA, PLP, ROL, ROR, RTI,
    RTS, SBC, SEC, SED, SEI, STA, STX, STY, TAX, TAY, TSX, TXA, TXS, TYA,
    Undocumented,
};
// clang-format on

namespace opcode_grid {
using enum Instruction;
constexpr Instruction ___ = Undocumented;

// clang-format off
constexpr std::array<Instruction, 256> opcodeTable = {
//    x0   x1   x2   x3   x4   x5   x6   x7   x8   x9   xA   xB   xC   xD   xE   xF
     BRK, ORA, ___, ___, ___, ORA, ASL, ___, PHP, ORA, ASL, ___, ___, ORA, ASL, ___,  // 0x
     BPL, ORA, ___, ___, ___, ORA, ASL, ___, CLC, ORA, ___, ___, ___, ORA, ASL, ___,  // 1x
     JSR, AND, ___, ___, BIT, AND, ROL, ___, PLP, AND, ROL, ___, BIT, AND, ROL, ___,  // 2x
     BMI, AND, ___, ___, ___, AND, ROL, ___, SEC, AND, ___, ___, ___, AND, ROL, ___,  // 3x
     RTI, EOR, ___, ___, ___, EOR, LSR, ___, PHA, EOR, LSR, ___, JMP, EOR, LSR, ___,  // 4x
     BVC, EOR, ___, ___, ___, EOR, LSR, ___, CLI, EOR, ___, ___, ___, EOR, LSR, ___,  // 5x
     RTS, ADC, ___, ___, ___, ADC, ROR, ___, PLA, ADC, ROR, ___, JMP, ADC, ROR, ___,  // 6x
     BVS, ADC, ___, ___, ___, ADC, ROR, ___, SEI, ADC, ___, ___, ___, ADC, ROR, ___,  // 7x
     ___, STA, ___, ___, STY, STA, STX, ___, DEY, ___, TXA, ___, STY, STA, STX, ___,  // 8x
     BCC, STA, ___, ___, STY, STA, STX, ___, TYA, STA, TXS, ___, ___, STA, ___, ___,  // 9x
     LDY, LDA, LDX, ___, LDY, LDA, LDX, ___, TAY, LDA, TAX, ___, LDY, LDA, LDX, ___,  // Ax
     BCS, LDA, ___, ___, LDY, LDA, LDX, ___, CLV, LDA, TSX, ___, LDY, LDA, LDX, ___,  // Bx
     CPY, CMP, ___, ___, CPY, CMP, DEC, ___, INY, CMP, DEX, ___, CPY, CMP, DEC, ___,  // Cx
     BNE, CMP, ___, ___, ___, CMP, DEC, ___, CLD, CMP, ___, ___, ___, CMP, DEC, ___,  // Dx
     CPX, SBC, ___, ___, CPX, SBC, INC, ___, INX, SBC, NOP, ___, CPX, SBC, INC, ___,  // Ex
     BEQ, SBC, ___, ___, ___, SBC, INC, ___, SED, SBC, ___, ___, ___, SBC, INC, ___,  // Fx
};
// clang-format on
}  // namespace opcode_grid

namespace mode_grid {
constexpr AddressingMode imp = AddressingMode::Implied;
constexpr AddressingMode imm = AddressingMode::Immediate;
constexpr AddressingMode abs = AddressingMode::Absolute;
constexpr AddressingMode abx = AddressingMode::AbsoluteX;
constexpr AddressingMode aby = AddressingMode::AbsoluteY;
constexpr AddressingMode zpg = AddressingMode::ZeroPage;
constexpr AddressingMode zpx = AddressingMode::ZeroPageX;
constexpr AddressingMode zpy = AddressingMode::ZeroPageY;
constexpr AddressingMode ind = AddressingMode::Indirect;
constexpr AddressingMode izx = AddressingMode::IndexedIndirect;
constexpr AddressingMode izy = AddressingMode::IndirectIndexed;
constexpr AddressingMode acc = AddressingMode::Accumulator;
constexpr AddressingMode rel = AddressingMode::Relative;

// Undocumented opcodes are marked imp: their entries are never consulted.
// clang-format off
constexpr std::array<AddressingMode, 256> modeTable = {
//    x0   x1   x2   x3   x4   x5   x6   x7   x8   x9   xA   xB   xC   xD   xE   xF
     imp, izx, imp, imp, imp, zpg, zpg, imp, imp, imm, acc, imp, imp, abs, abs, imp,  // 0x
     rel, izy, imp, imp, imp, zpx, zpx, imp, imp, aby, imp, imp, imp, abx, abx, imp,  // 1x
     abs, izx, imp, imp, zpg, zpg, zpg, imp, imp, imm, acc, imp, abs, abs, abs, imp,  // 2x
     rel, izy, imp, imp, imp, zpx, zpx, imp, imp, aby, imp, imp, imp, abx, abx, imp,  // 3x
     imp, izx, imp, imp, imp, zpg, zpg, imp, imp, imm, acc, imp, abs, abs, abs, imp,  // 4x
     rel, izy, imp, imp, imp, zpx, zpx, imp, imp, aby, imp, imp, imp, abx, abx, imp,  // 5x
     imp, izx, imp, imp, imp, zpg, zpg, imp, imp, imm, acc, imp, ind, abs, abs, imp,  // 6x
     rel, izy, imp, imp, imp, zpx, zpx, imp, imp, aby, imp, imp, imp, abx, abx, imp,  // 7x
     imp, izx, imp, imp, zpg, zpg, zpg, imp, imp, imp, imp, imp, abs, abs, abs, imp,  // 8x
     rel, izy, imp, imp, zpx, zpx, zpy, imp, imp, aby, imp, imp, imp, abx, imp, imp,  // 9x
     imm, izx, imm, imp, zpg, zpg, zpg, imp, imp, imm, imp, imp, abs, abs, abs, imp,  // Ax
     rel, izy, imp, imp, zpx, zpx, zpy, imp, imp, aby, imp, imp, abx, abx, aby, imp,  // Bx
     imm, izx, imp, imp, zpg, zpg, zpg, imp, imp, imm, imp, imp, abs, abs, abs, imp,  // Cx
     rel, izy, imp, imp, imp, zpx, zpx, imp, imp, aby, imp, imp, imp, abx, abx, imp,  // Dx
     imm, izx, imp, imp, zpg, zpg, zpg, imp, imp, imm, imp, imp, abs, abs, abs, imp,  // Ex
     rel, izy, imp, imp, imp, zpx, zpx, imp, imp, aby, imp, imp, imp, abx, abx, imp,  // Fx
};
// clang-format on
}  // namespace mode_grid

using mode_grid::modeTable;
using opcode_grid::opcodeTable;

}  // namespace sidtune
