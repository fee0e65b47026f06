#!/usr/bin/env python3
"""Builds examples/demo.sid, the project's own demo tune: a short three-voice loop (pulse lead,
filtered sawtooth bass, noise drums) in 6502 machine code, assembled here by a tiny assembler.

Run it from the repository root: python3 examples/make_demo_tune.py
"""
import struct

LOAD = 0x1000
SPEED = 6  # frames per step: 50 / 6 = 8.3 steps per second

# The few opcodes the player uses: (mnemonic, mode) -> opcode.
OPCODES = {
    ("LDA", "imm"): 0xA9, ("LDA", "abs"): 0xAD, ("LDA", "absx"): 0xBD, ("LDA", "absy"): 0xB9,
    ("LDX", "imm"): 0xA2, ("LDX", "abs"): 0xAE, ("LDY", "absx"): 0xBC,
    ("STA", "abs"): 0x8D, ("STX", "abs"): 0x8E, ("DEC", "abs"): 0xCE,
    ("CMP", "imm"): 0xC9, ("CPX", "imm"): 0xE0, ("INX", ""): 0xE8,
    ("BEQ", "rel"): 0xF0, ("BNE", "rel"): 0xD0, ("JMP", "abs"): 0x4C, ("RTS", ""): 0x60,
}
SIZE = {"": 1, "imm": 2, "rel": 2, "abs": 3, "absx": 3, "absy": 3}


def assemble(program):
    """program: a list of labels (str) and instructions (mnemonic, mode, operand) or data (bytes)."""
    labels, pc = {}, LOAD
    for item in program:
        if isinstance(item, str):
            labels[item] = pc
        elif isinstance(item, bytes):
            pc += len(item)
        else:
            pc += SIZE[item[1]]
    out, pc = bytearray(), LOAD
    for item in program:
        if isinstance(item, str):
            continue
        if isinstance(item, bytes):
            out += item
            pc += len(item)
            continue
        mnemonic, mode, operand = item
        value = labels[operand] if isinstance(operand, str) else operand
        out.append(OPCODES[(mnemonic, mode)])
        if mode in ("imm",):
            out.append(value)
        elif mode == "rel":
            offset = value - (pc + 2)
            assert -128 <= offset <= 127, item
            out.append(offset & 0xFF)
        elif mode:
            out += struct.pack("<H", value)
        pc += SIZE[mode]
    return bytes(out)


NOTE_NAMES = {"C": 0, "C#": 1, "D": 2, "D#": 3, "E": 4, "F": 5, "F#": 6, "G": 7, "G#": 8, "A": 9, "A#": 10, "B": 11}


def midi(name):
    return 12 * (int(name[-1]) + 1) + NOTE_NAMES[name[:-1]]


# Frequency register values for a PAL machine (clock 985248 Hz), index 1.. = MIDI 24..
FIRST_MIDI = 24
freqs = [0] + [round(440 * 2 ** ((m - 69) / 12) * 16777216 / 985248) for m in range(FIRST_MIDI, 97)]


def notes(text):
    return bytes(0 if n == "." else midi(n) - FIRST_MIDI + 1 for n in text.split())


melody = notes("A4 . C5 E5  A5 . G5 E5  F5 . E5 D5  E5 . . .  A4 . C5 E5  G5 . F5 E5  D5 . B4 G4  A4 . . .")
bass = notes("A2 . A2 A3  F2 . F2 F3  D2 . D2 D3  E2 . E2 E3  A2 . A2 A3  C3 . C3 C4  G2 . G2 G3  E2 . E2 B2")
drums = bytes([0x08, 0x00, 0xC0, 0x00, 0x40, 0x00, 0xC0, 0x00] * 4)  # noise pitch, 0 = none
assert len(melody) == len(bass) == len(drums) == 32

V1, V2, V3 = 0xD400, 0xD407, 0xD40E
program = [
    ("JMP", "abs", "init"),
    ("JMP", "abs", "play"),
    "init",
    ("LDA", "imm", 0x1F), ("STA", "abs", 0xD418),      # low-pass on, volume 15
    ("LDA", "imm", 0x30), ("STA", "abs", 0xD416),      # cutoff
    ("LDA", "imm", 0xA2), ("STA", "abs", 0xD417),      # resonance 10, bass through the filter
    ("LDA", "imm", 0x09), ("STA", "abs", V1 + 5),      # lead: attack 0, decay 9
    ("LDA", "imm", 0x84), ("STA", "abs", V1 + 6),      #       sustain 8, release 4
    ("LDA", "imm", 0x06), ("STA", "abs", V1 + 3),      #       pulse width $600
    ("LDA", "imm", 0x08), ("STA", "abs", V2 + 5),      # bass: decay 8
    ("LDA", "imm", 0x62), ("STA", "abs", V2 + 6),      #       sustain 6, release 2
    ("LDA", "imm", 0x05), ("STA", "abs", V3 + 5),      # drums: decay 5
    ("LDA", "imm", 0x00), ("STA", "abs", V3 + 6),
    ("STA", "abs", "step"),
    ("LDA", "imm", 0x01), ("STA", "abs", "tick"),
    ("RTS", "", None),
    "play",
    ("DEC", "abs", "tick"),
    ("BEQ", "rel", "newstep"),
    ("LDA", "abs", "tick"), ("CMP", "imm", SPEED // 2), ("BNE", "rel", "done"),
    ("LDA", "imm", 0x40), ("STA", "abs", V1 + 4),      # half a step in: release the lead
    ("LDA", "imm", 0x80), ("STA", "abs", V3 + 4),      # and the drum
    "done",
    ("RTS", "", None),
    "newstep",
    ("LDA", "imm", SPEED), ("STA", "abs", "tick"),
    ("LDX", "abs", "step"),
    ("LDY", "absx", "melody"), ("BEQ", "rel", "leadrest"),
    ("LDA", "absy", "freqlo"), ("STA", "abs", V1 + 0),
    ("LDA", "absy", "freqhi"), ("STA", "abs", V1 + 1),
    ("LDA", "imm", 0x40), ("STA", "abs", V1 + 4),      # gate off, then on: a new attack
    ("LDA", "imm", 0x41), ("STA", "abs", V1 + 4),
    "leadrest",
    ("LDY", "absx", "bass"), ("BEQ", "rel", "bassrest"),
    ("LDA", "absy", "freqlo"), ("STA", "abs", V2 + 0),
    ("LDA", "absy", "freqhi"), ("STA", "abs", V2 + 1),
    ("LDA", "imm", 0x20), ("STA", "abs", V2 + 4),
    ("LDA", "imm", 0x21), ("STA", "abs", V2 + 4),
    "bassrest",
    ("LDA", "absx", "drums"), ("BEQ", "rel", "drumrest"),
    ("STA", "abs", V3 + 1),
    ("LDA", "imm", 0x80), ("STA", "abs", V3 + 4),
    ("LDA", "imm", 0x81), ("STA", "abs", V3 + 4),
    "drumrest",
    ("INX", "", None), ("CPX", "imm", 32), ("BNE", "rel", "keep"),
    ("LDX", "imm", 0),
    "keep",
    ("STX", "abs", "step"),
    ("RTS", "", None),
    "tick", bytes([0]),
    "step", bytes([0]),
    "melody", melody,
    "bass", bass,
    "drums", drums,
    "freqlo", bytes(f & 0xFF for f in freqs),
    "freqhi", bytes(f >> 8 for f in freqs),
]

code = assemble(program)


def text(s):
    return s.encode("latin-1").ljust(32, b"\0")


header = b"PSID" + struct.pack(">HHHHHHHI", 2, 0x7C, 0, LOAD, LOAD + 3, 1, 1, 0)
header += text("sidtune demo") + text("The sidtune developers") + text("2026 zlib licence")
header += struct.pack(">HBBH", 0x0014, 0, 0, 0)  # PAL, 6581
assert len(header) == 0x7C
with open("examples/demo.sid", "wb") as f:
    f.write(header + struct.pack("<H", LOAD) + code)
print(f"examples/demo.sid: {len(code)} bytes of code and data at ${LOAD:04X}")
