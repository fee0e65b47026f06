// The interpreter, instruction family by instruction family, as tiny programs. Each program is
// placed at $1000 and run with callSubroutine; its final RTS ends the call.
#include "cpu/cpu.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "cpu/opcode_tables.h"
#include "engine/song.h"
#include "test_support.h"

namespace sidtune::test {
namespace {

using Bytes = std::vector<std::pair<uint16_t, uint8_t>>;

constexpr uint8_t C = flag::Carry, Z = flag::Zero, D = flag::Decimal, V = flag::Overflow, N = flag::Negative;

struct ProgramCase {
    const char* name;
    std::vector<uint8_t> code;
    Bytes before;  // image bytes set before the run
    uint8_t a, x, y, p;
    Bytes after;  // image bytes expected after the run
};

void PrintTo(const ProgramCase& c, std::ostream* os) { *os << c.name; }

class ProgramTest : public MachineTest, public ::testing::WithParamInterface<ProgramCase> {};

TEST_P(ProgramTest, LeavesRegistersFlagsAndMemory) {
    const ProgramCase& c = GetParam();
    uint16_t at = 0x1000;
    for (uint8_t b : c.code) m.memory[at++] = b;
    for (auto [address, value] : c.before) m.memory[address] = value;

    EXPECT_TRUE(callSubroutine(m, 0x1000, 0));

    EXPECT_EQ(m.cpu.A, c.a);
    EXPECT_EQ(m.cpu.X, c.x);
    EXPECT_EQ(m.cpu.Y, c.y);
    EXPECT_EQ(m.cpu.P, c.p);
    for (auto [address, value] : c.after) EXPECT_EQ(m.memory[address], value) << std::hex << address;
}

// clang-format off
const ProgramCase kArithmetic[] = {
    {"adc_signed_overflow", {
        0x18,              // CLC
        0xA9, 0x50,        // LDA #$50
        0x69, 0x50,        // ADC #$50
        0x60},             // RTS
     {}, 0xA0, 0, 0, N | V, {}},
    {"adc_carry_out_to_zero", {
        0xA9, 0x01,        // LDA #$01
        0x69, 0xFF,        // ADC #$FF
        0x60},             // RTS
     {}, 0x00, 0, 0, Z | C, {}},
    {"adc_carry_in", {
        0x38,              // SEC
        0xA9, 0x10,        // LDA #$10
        0x69, 0x20,        // ADC #$20
        0x60},             // RTS
     {}, 0x31, 0, 0, 0, {}},
    {"adc_is_binary_in_decimal_mode", {
        0xF8,              // SED
        0xA9, 0x09,        // LDA #$09
        0x69, 0x01,        // ADC #$01
        0x60},             // RTS
     {}, 0x0A, 0, 0, D, {}},
    {"sbc_borrow", {
        0x38,              // SEC
        0xA9, 0x00,        // LDA #$00
        0xE9, 0x01,        // SBC #$01
        0x60},             // RTS
     {}, 0xFF, 0, 0, N, {}},
    {"sbc_signed_overflow", {
        0x38,              // SEC
        0xA9, 0x80,        // LDA #$80
        0xE9, 0x01,        // SBC #$01
        0x60},             // RTS
     {}, 0x7F, 0, 0, V | C, {}},
    {"sbc_is_binary_in_decimal_mode", {
        0xF8,              // SED
        0x38,              // SEC
        0xA9, 0x10,        // LDA #$10
        0xE9, 0x01,        // SBC #$01
        0x60},             // RTS
     {}, 0x0F, 0, 0, D | C, {}},
    {"cmp_less", {
        0xA9, 0x10,        // LDA #$10
        0xC9, 0x20,        // CMP #$20
        0x60},             // RTS
     {}, 0x10, 0, 0, N, {}},
    {"cmp_equal", {
        0xA9, 0x42,        // LDA #$42
        0xC5, 0x80,        // CMP $80
        0x60},             // RTS
     {{0x0080, 0x42}}, 0x42, 0, 0, Z | C, {}},
    {"cpx_greater", {
        0xA2, 0x90,        // LDX #$90
        0xE0, 0x10,        // CPX #$10
        0x60},             // RTS
     {}, 0, 0x90, 0, N | C, {}},
    {"cpy_absolute", {
        0xA0, 0x05,        // LDY #$05
        0xCC, 0x00, 0x20,  // CPY $2000
        0x60},             // RTS
     {{0x2000, 0x06}}, 0, 0, 0x05, N, {}},
    {"bit_takes_n_and_v_from_memory", {
        0xA9, 0x01,        // LDA #$01
        0x2C, 0x00, 0x02,  // BIT $0200
        0x60},             // RTS
     {{0x0200, 0xC0}}, 0x01, 0, 0, N | V | Z, {}},
    {"and_ora_eor", {
        0xA9, 0xF0,        // LDA #$F0
        0x29, 0x3C,        // AND #$3C    -> $30
        0x09, 0x01,        // ORA #$01    -> $31
        0x49, 0xB1,        // EOR #$B1    -> $80
        0x60},             // RTS
     {}, 0x80, 0, 0, N, {}},
};

const ProgramCase kShifts[] = {
    {"asl_accumulator", {
        0xA9, 0x80,        // LDA #$80
        0x0A,              // ASL A
        0x60},             // RTS
     {}, 0x00, 0, 0, Z | C, {}},
    {"lsr_accumulator", {
        0xA9, 0x01,        // LDA #$01
        0x4A,              // LSR A
        0x60},             // RTS
     {}, 0x00, 0, 0, Z | C, {}},
    {"ror_carry_into_bit7", {
        0x38,              // SEC
        0xA9, 0x00,        // LDA #$00
        0x6A,              // ROR A
        0x60},             // RTS
     {}, 0x80, 0, 0, N, {}},
    {"rol_memory", {
        0x38,              // SEC
        0x26, 0x40,        // ROL $40
        0x60},             // RTS
     {{0x0040, 0x81}}, 0, 0, 0, C, {{0x0040, 0x03}}},
    {"lsr_absolute_x", {
        0xA2, 0x02,        // LDX #$02
        0x5E, 0xFE, 0x20,  // LSR $20FE,X
        0x60},             // RTS
     {{0x2100, 0x02}}, 0, 0x02, 0, 0, {{0x2100, 0x01}}},
    {"inc_wraps_to_zero", {
        0xE6, 0x10,        // INC $10
        0x60},             // RTS
     {{0x0010, 0xFF}}, 0, 0, 0, Z, {{0x0010, 0x00}}},
    {"dec_zero_page_x", {
        0xA2, 0x01,        // LDX #$01
        0xD6, 0x10,        // DEC $10,X
        0x60},             // RTS
     {{0x0011, 0x00}}, 0, 0x01, 0, N, {{0x0011, 0xFF}}},
    {"register_steps", {
        0xA2, 0xFF,        // LDX #$FF
        0xE8,              // INX         -> $00
        0xA0, 0x00,        // LDY #$00
        0x88,              // DEY         -> $FF
        0x60},             // RTS
     {}, 0, 0x00, 0xFF, N, {}},
};

const ProgramCase kAddressing[] = {
    {"zero_page_x_wraps_in_page_0", {
        0xA2, 0x20,        // LDX #$20
        0xB5, 0xF0,        // LDA $F0,X   -> $0010
        0x60},             // RTS
     {{0x0010, 0x77}, {0x0110, 0x66}}, 0x77, 0x20, 0, 0, {}},
    {"zero_page_y_wraps_in_page_0", {
        0xA0, 0x02,        // LDY #$02
        0xB6, 0xFF,        // LDX $FF,Y   -> $0001
        0x60},             // RTS
     {{0x0001, 0x12}}, 0, 0x12, 0x02, 0, {}},
    {"absolute_x_wraps_past_ffff", {
        0xA2, 0x01,        // LDX #$01
        0xBD, 0xFF, 0xFF,  // LDA $FFFF,X -> $0000
        0x60},             // RTS
     {{0x0000, 0x33}}, 0x33, 0x01, 0, 0, {}},
    {"absolute_y_store", {
        0xA0, 0x10,        // LDY #$10
        0xA9, 0x99,        // LDA #$99
        0x99, 0xF8, 0x20,  // STA $20F8,Y -> $2108
        0x60},             // RTS
     {}, 0x99, 0, 0x10, N, {{0x2108, 0x99}}},
    {"indexed_indirect_pointer_wraps_in_page_0", {
        0xA2, 0x01,        // LDX #$01
        0xA1, 0xFE,        // LDA ($FE,X) -> pointer at $00FF/$0000
        0x60},             // RTS
     {{0x00FF, 0x34}, {0x0000, 0x12}, {0x1234, 0x5A}}, 0x5A, 0x01, 0, 0, {}},
    {"indirect_indexed_pointer_wraps_and_carries", {
        0xA0, 0x10,        // LDY #$10
        0xB1, 0xFF,        // LDA ($FF),Y -> ($00FF/$0000) + $10
        0x60},             // RTS
     {{0x00FF, 0xF8}, {0x0000, 0x12}, {0x1308, 0x44}}, 0x44, 0, 0x10, 0, {}},
    {"indirect_indexed_wraps_past_ffff", {
        0xA0, 0x02,        // LDY #$02
        0xA9, 0x66,        // LDA #$66
        0x91, 0x40,        // STA ($40),Y -> $FFFF + 2 = $0001
        0x60},             // RTS
     {{0x0040, 0xFF}, {0x0041, 0xFF}}, 0x66, 0, 0x02, 0, {{0x0001, 0x66}}},
    {"store_x_y_zero_page_indexed", {
        0xA2, 0x05,        // LDX #$05
        0xA0, 0x06,        // LDY #$06
        0x96, 0x10,        // STX $10,Y   -> $0016
        0x94, 0x10,        // STY $10,X   -> $0015
        0x60},             // RTS
     {}, 0, 0x05, 0x06, 0, {{0x0016, 0x05}, {0x0015, 0x06}}},
};

const ProgramCase kStackAndTransfers[] = {
    {"pha_pla_restore_a_and_flags", {
        0xA9, 0x80,        // LDA #$80
        0x48,              // PHA
        0xA9, 0x00,        // LDA #$00
        0x68,              // PLA
        0x60},             // RTS
     {}, 0x80, 0, 0, N, {}},
    {"php_pushes_p_as_held", {
        0x08,              // PHP         (P = $00)
        0x68,              // PLA
        0x60},             // RTS
     {}, 0x00, 0, 0, Z, {}},
    {"plp_pulls_all_eight_bits", {
        0xA9, 0xFF,        // LDA #$FF
        0x48,              // PHA
        0x28,              // PLP
        0x60},             // RTS
     {}, 0xFF, 0, 0, 0xFF, {}},
    {"tsx_txs", {
        0xBA,              // TSX         -> $FD
        0xA2, 0x80,        // LDX #$80
        0x9A,              // TXS         (flags unchanged)
        0xBA,              // TSX
        0xA2, 0xFD,        // LDX #$FD
        0x9A,              // TXS         (back, so RTS finds $0000)
        0x60},             // RTS
     {}, 0, 0xFD, 0, N, {}},
    {"transfers_set_n_and_z", {
        0xA9, 0x00,        // LDA #$00
        0xAA,              // TAX
        0xA9, 0x81,        // LDA #$81
        0xA8,              // TAY
        0x98,              // TYA
        0x8A,              // TXA         -> $00
        0x60},             // RTS
     {}, 0x00, 0x00, 0x81, Z, {}},
    {"flag_instructions", {
        0x38,              // SEC
        0xF8,              // SED
        0x78,              // SEI
        0x58,              // CLI
        0xA9, 0x40,        // LDA #$40
        0x69, 0x40,        // ADC #$40    (V = 1)
        0xB8,              // CLV
        0xD8,              // CLD
        0x18,              // CLC
        0x60},             // RTS
     {}, 0x81, 0, 0, N, {}},
};

const ProgramCase kControl[] = {
    {"jsr_rts_returns_after_the_call", {
        0x20, 0x00, 0x20,  // JSR $2000
        0xE8,              // INX
        0x60},             // RTS
     {{0x2000, 0xA0}, {0x2001, 0x07}, {0x2002, 0x60}},  // $2000: LDY #$07; RTS
     0, 0x01, 0x07, 0, {{0x01FD, 0x10}, {0x01FC, 0x02}}},
    {"rti_returns_like_rts", {
        0x20, 0x00, 0x20,  // JSR $2000
        0xE8,              // INX
        0x60},             // RTS
     {{0x2000, 0x40}},     // $2000: RTI
     0, 0x01, 0, 0, {}},
    {"jmp_indirect_reads_high_byte_from_next_page", {
        0x6C, 0xFF, 0x12,  // JMP ($12FF)
        },
     {{0x12FF, 0x00}, {0x1300, 0x30}, {0x1200, 0x40}, {0x3000, 0xA9}, {0x3001, 0x01}, {0x3002, 0x60}},
     0x01, 0, 0, 0, {}},   // $3000: LDA #$01; RTS
    {"branch_backwards_loop", {
        0xA2, 0x05,        // LDX #$05
        0xC8,              // INY         <- loop
        0xCA,              // DEX
        0xD0, 0xFC,        // BNE loop
        0x60},             // RTS
     {}, 0, 0x00, 0x05, Z, {}},
    {"branch_not_taken_steps_over_offset", {
        0x18,              // CLC
        0xB0, 0x7F,        // BCS +127
        0xA9, 0x03,        // LDA #$03
        0x60},             // RTS
     {}, 0x03, 0, 0, 0, {}},
    {"every_branch_condition", {
        0xA9, 0x00,        // LDA #$00    Z=1 N=0
        0xF0, 0x01,        // BEQ +1
        0x00,              // BRK         (skipped)
        0x10, 0x01,        // BPL +1
        0x00,              // BRK
        0x50, 0x01,        // BVC +1
        0x00,              // BRK
        0x90, 0x01,        // BCC +1
        0x00,              // BRK
        0xA9, 0x80,        // LDA #$80    Z=0 N=1
        0xD0, 0x01,        // BNE +1
        0x00,              // BRK
        0x30, 0x01,        // BMI +1
        0x00,              // BRK
        0x38,              // SEC
        0xB0, 0x01,        // BCS +1
        0x00,              // BRK
        0x69, 0x80,        // ADC #$80    V=1
        0x70, 0x01,        // BVS +1
        0x00,              // BRK
        0xA2, 0x07,        // LDX #$07
        0x60},             // RTS
     {}, 0x01, 0x07, 0, V | C, {}},
    {"undocumented_opcode_is_a_one_byte_nop", {
        0xFF,              // (undocumented; three bytes on the real chip)
        0xE8,              // INX
        0xE8,              // INX
        0x60},             // RTS
     {}, 0, 0x02, 0, 0, {}},
    {"code_that_rewrites_itself_runs_the_new_bytes", {
        0xA9, 0xE8,        // LDA #$E8    (INX)
        0x8D, 0x07, 0x10,  // STA $1007
        0xA2, 0x00,        // LDX #$00
        0xEA,              // NOP         (becomes INX)
        0x60},             // RTS
     {}, 0xE8, 0x01, 0, 0, {}},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Arithmetic, ProgramTest, ::testing::ValuesIn(kArithmetic),
                         [](const auto& info) { return info.param.name; });
INSTANTIATE_TEST_SUITE_P(Shifts, ProgramTest, ::testing::ValuesIn(kShifts),
                         [](const auto& info) { return info.param.name; });
INSTANTIATE_TEST_SUITE_P(Addressing, ProgramTest, ::testing::ValuesIn(kAddressing),
                         [](const auto& info) { return info.param.name; });
INSTANTIATE_TEST_SUITE_P(StackAndTransfers, ProgramTest, ::testing::ValuesIn(kStackAndTransfers),
                         [](const auto& info) { return info.param.name; });
INSTANTIATE_TEST_SUITE_P(Control, ProgramTest, ::testing::ValuesIn(kControl),
                         [](const auto& info) { return info.param.name; });

// Single steps where the exact PC and SP matter.
using StepTest = MachineTest;

TEST_F(StepTest, JsrPushesTheAddressOfItsLastOperandByte) {
    poke(m, 0x1000, {0x20, 0x00, 0x20});  // JSR $2000
    m.cpu.PC = 0x1000;
    m.cpu.SP = 0xFD;
    executeInstruction(m);
    EXPECT_EQ(m.cpu.PC, 0x2000);
    EXPECT_EQ(m.cpu.SP, 0xFB);
    EXPECT_EQ(m.memory[0x01FD], 0x10);
    EXPECT_EQ(m.memory[0x01FC], 0x02);
}

TEST_F(StepTest, RtiDoesNotPullTheStatus) {
    poke(m, 0x01FB, {0xAA, 0x02, 0x10});  // $01FC/$01FD: return address $1002
    poke(m, 0x2000, {0x40});              // RTI
    m.cpu.PC = 0x2000;
    m.cpu.SP = 0xFB;
    m.cpu.P = 0x41;
    executeInstruction(m);
    EXPECT_EQ(m.cpu.PC, 0x1003);
    EXPECT_EQ(m.cpu.SP, 0xFD);
    EXPECT_EQ(m.cpu.P, 0x41);
}

TEST_F(StepTest, BranchOffsets) {
    struct Case {
        uint8_t offset;
        uint16_t target;
    };
    // The offset counts from the byte after the offset, $1002.
    for (Case c : {Case{0x80, 0x0F82}, Case{0xFE, 0x1000}, Case{0x00, 0x1002}, Case{0x7F, 0x1081}}) {
        poke(m, 0x1000, {0xD0, c.offset});  // BNE
        m.cpu.PC = 0x1000;
        m.cpu.P = 0;
        executeInstruction(m);
        EXPECT_EQ(m.cpu.PC, c.target) << int(c.offset);
    }
    poke(m, 0x1000, {0xF0, 0x80});  // BEQ, not taken
    m.cpu.PC = 0x1000;
    executeInstruction(m);
    EXPECT_EQ(m.cpu.PC, 0x1002);
}

TEST_F(StepTest, BranchWrapsAroundTheAddressSpace) {
    poke(m, 0xFFF0, {0x10, 0x20});  // BPL +32 from $FFF2
    m.cpu.PC = 0xFFF0;
    executeInstruction(m);
    EXPECT_EQ(m.cpu.PC, 0x0012);
}

TEST_F(StepTest, StackStopsAtBothEnds) {
    m.cpu.SP = 0x00;
    pushByte(m, 0x11);
    pushByte(m, 0x22);
    EXPECT_EQ(m.cpu.SP, 0x00);
    EXPECT_EQ(m.memory[0x0100], 0x22);

    m.memory[0x01FF] = 0x5C;
    m.cpu.SP = 0xFF;
    EXPECT_EQ(pullByte(m), 0x5C);
    EXPECT_EQ(pullByte(m), 0x5C);
    EXPECT_EQ(m.cpu.SP, 0xFF);
}

TEST_F(StepTest, BrkJumpsToZeroWithoutPushing) {
    poke(m, 0x1000, {0x00});
    m.cpu.PC = 0x1000;
    m.cpu.SP = 0xFD;
    m.cpu.P = 0x04;
    executeInstruction(m);
    EXPECT_EQ(m.cpu.PC, 0x0000);
    EXPECT_EQ(m.cpu.SP, 0xFD);
    EXPECT_EQ(m.cpu.P, 0x04);
}

TEST_F(StepTest, EveryUndocumentedOpcodeIsAOneByteNop) {
    for (int op = 0; op < 256; ++op) {
        if (opcodeTable[op] != Instruction::Undocumented) continue;
        resetMachine(m, kSampleRate);
        poke(m, 0x1000, {uint8_t(op), 0x8D, 0x00, 0x20});  // the next bytes are never used
        m.cpu = {1, 2, 3, 0xFD, 0xC3, 0x1000};
        executeInstruction(m);
        EXPECT_EQ(m.cpu.PC, 0x1001) << std::hex << op;
        EXPECT_EQ(m.cpu.A, 1);
        EXPECT_EQ(m.cpu.X, 2);
        EXPECT_EQ(m.cpu.Y, 3);
        EXPECT_EQ(m.cpu.SP, 0xFD);
        EXPECT_EQ(m.cpu.P, 0xC3);
    }
}

// The memory map: only $D400-$D7FF is decoded, and only for CPU writes.
TEST_F(StepTest, SoundChipRangeKeepsTheImageByte) {
    m.memory[0xD418] = 0x5A;  // a tune byte loaded over the chip's address
    struct Case {
        uint16_t address;
        bool reachesImage;
    };
    for (Case c : {Case{0xD3FF, true}, Case{0xD400, false}, Case{0xD418, false}, Case{0xD41D, false},
                   Case{0xD480, false}, Case{0xD7FF, false}, Case{0xD800, true}, Case{0x0000, true},
                   Case{0xFFFF, true}}) {
        const uint8_t before = m.memory[c.address];
        writeMemory(m, c.address, 0x0F);
        EXPECT_EQ(readMemory(m, c.address), c.reachesImage ? 0x0F : before) << std::hex << c.address;
    }
    EXPECT_EQ(readMemory(m, 0xD418), 0x5A);
}

TEST_F(StepTest, StoreInstructionsGoThroughTheDecode) {
    // STA $D418, STA $D3FF
    poke(m, 0x1000, {0xA9, 0x0F, 0x8D, 0x18, 0xD4, 0x8D, 0xFF, 0xD3, 0x60});
    callSubroutine(m, 0x1000, 0);
    EXPECT_EQ(m.memory[0xD418], 0x00);
    EXPECT_EQ(m.memory[0xD3FF], 0x0F);
}

TEST_F(StepTest, ResetClearsEverything) {
    m.memory.fill(0xAB);
    m.cpu = {1, 2, 3, 4, 5, 6};
    resetMachine(m, kSampleRate);
    for (size_t i = 0; i < m.memory.size(); ++i) ASSERT_EQ(m.memory[i], 0) << i;
    EXPECT_EQ(m.cpu.A, 0);
    EXPECT_EQ(m.cpu.X, 0);
    EXPECT_EQ(m.cpu.Y, 0);
    EXPECT_EQ(m.cpu.P, 0);
    EXPECT_EQ(m.cpu.PC, 0);
    EXPECT_EQ(m.cpu.SP, 0xFF);
}

// callSubroutine: fresh registers, the return address $0000 on the stack, and the bound.
using CallTest = MachineTest;

TEST_F(CallTest, PlainRtsReturnsWithFreshRegisters) {
    poke(m, 0x1000, {0x60});  // RTS
    m.memory[0x01FE] = 0x77;
    m.cpu = {9, 9, 9, 9, 0xFF, 9};
    EXPECT_TRUE(callSubroutine(m, 0x1000, 5));
    EXPECT_EQ(m.cpu.A, 5);
    EXPECT_EQ(m.cpu.X, 0);
    EXPECT_EQ(m.cpu.Y, 0);
    EXPECT_EQ(m.cpu.P, 0);
    EXPECT_EQ(m.cpu.SP, 0xFF);
    EXPECT_EQ(m.cpu.PC, 0x0001);
    EXPECT_EQ(m.memory[0x01FE], 0);
    EXPECT_EQ(m.memory[0x01FF], 0);
}

TEST_F(CallTest, AddressZeroOrOneRunsNothingButPreparesTheCall) {
    for (uint16_t address : {0x0000, 0x0001}) {
        poke(m, 0x0000, {0xE8, 0xE8});  // INX INX, never run
        m.memory[0x01FF] = 0x12;
        m.memory[0x01FE] = 0x34;
        m.cpu = {9, 9, 9, 9, 9, 9};
        EXPECT_TRUE(callSubroutine(m, address, 7));
        EXPECT_EQ(m.cpu.A, 7);
        EXPECT_EQ(m.cpu.X, 0);
        EXPECT_EQ(m.cpu.SP, 0xFD);
        EXPECT_EQ(m.cpu.PC, address);
        EXPECT_EQ(m.memory[0x01FF], 0);
        EXPECT_EQ(m.memory[0x01FE], 0);
    }
}

TEST_F(CallTest, EndsAtZeroOrOne) {
    struct Case {
        const char* name;
        std::vector<uint8_t> code;
        uint16_t pc;
    };
    const Case cases[] = {
        {"brk", {0xE8, 0x00}, 0x0000},                       // INX; BRK
        {"jmp_to_zero", {0x4C, 0x00, 0x00}, 0x0000},         // JMP $0000
        {"jmp_to_one", {0x4C, 0x01, 0x00}, 0x0001},          // JMP $0001
        {"empty_image_is_brk", {0x4C, 0x00, 0xE0}, 0x0000},  // JMP $E000 (where ROM would be)
        {"rti", {0x40}, 0x0001},                             // RTI
    };
    for (const Case& c : cases) {
        resetMachine(m, kSampleRate);
        uint16_t at = 0x1000;
        for (uint8_t b : c.code) m.memory[at++] = b;
        EXPECT_TRUE(callSubroutine(m, 0x1000, 0)) << c.name;
        EXPECT_EQ(m.cpu.PC, c.pc) << c.name;
    }
}

TEST_F(CallTest, RunawayRoutineIsCutOffAtTheBound) {
    poke(m, 0x1000, {0xE8, 0x4C, 0x00, 0x10});  // loop: INX; JMP loop
    EXPECT_FALSE(callSubroutine(m, 0x1000, 0, 1001));
    EXPECT_EQ(m.cutOffCalls, 1u);
    // 1001 instructions: 501 INX and 500 JMP, stopped with PC on the JMP.
    EXPECT_EQ(m.cpu.X, uint8_t(501));
    EXPECT_EQ(m.cpu.PC, 0x1001);

    // The next call starts afresh and its memory carries over.
    poke(m, 0x2000, {0xEE, 0x00, 0x30, 0x60});  // INC $3000; RTS
    EXPECT_TRUE(callSubroutine(m, 0x2000, 0, 1001));
    EXPECT_TRUE(callSubroutine(m, 0x2000, 0, 1001));
    EXPECT_EQ(m.memory[0x3000], 2);
    EXPECT_EQ(m.cutOffCalls, 1u);
}

TEST_F(CallTest, RoutineEndingOnTheLastAllowedInstructionHasReturned) {
    poke(m, 0x1000, {0xE8, 0xE8, 0x60});  // INX; INX; RTS: three instructions
    EXPECT_TRUE(callSubroutine(m, 0x1000, 0, 3));
    EXPECT_FALSE(callSubroutine(m, 0x1000, 0, 2));
    EXPECT_EQ(m.cpu.X, 2);
}

TEST_F(CallTest, DefaultBoundStopsAnInitThatWaitsForTheRasterLine) {
    // Waits for the video chip's raster register, a constant image byte here.
    poke(m, 0x1000,
         {0xAD, 0x12, 0xD0,  // LDA $D012
          0xC9, 0x80,        // CMP #$80
          0xD0, 0xF9,        // BNE -7
          0x60});            // RTS
    EXPECT_FALSE(callSubroutine(m, 0x1000, 0));
    EXPECT_EQ(m.cutOffCalls, 1u);
}

// The tables themselves: the documented set is the published one.
TEST(OpcodeTables, DocumentedOpcodesAndTheirModes) {
    int documented = 0;
    for (int op = 0; op < 256; ++op) {
        if (opcodeTable[op] != Instruction::Undocumented) ++documented;
    }
    EXPECT_EQ(documented, 151);
    // Every opcode of the form xxxxxx01 is documented except $89 (the 65C02's BIT #).
    for (int op = 1; op < 256; op += 4) {
        EXPECT_EQ(opcodeTable[op] == Instruction::Undocumented, op == 0x89) << std::hex << op;
    }
}

}  // namespace
}  // namespace sidtune::test
