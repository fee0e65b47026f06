// Digi playback: 4-bit samples from the memory image, mixed into the output at the rate the tune
// asks for, after the master volume (so a digi's loudness does not follow the volume register).
#include "sid/sid.h"

namespace sidtune {
namespace {

void setLowByte(int32_t& field, uint8_t value) { field = (field & 0xFF00) | value; }
void setHighByte(int32_t& field, uint8_t value) { field = (field & 0x00FF) | value << 8; }

}  // namespace

void writeDigiRegister(DigiPlayer& d, uint16_t address, uint8_t value) {
    switch (DigiRegister(address)) {
        case DigiRegister::Command:
            // A command latches every register value; only $FD, $FE and $FF start or stop.
            // Other values restart a playing sample from the newly latched start.
            d.position = d.playStart = d.startAddress;
            d.playEnd = d.endAddress;
            d.playRepeatCount = d.repeatCount;
            d.playRepeatAddress = d.repeatAddress;
            d.playPeriod = d.period;
            d.playNibbleOrder = d.nibbleOrder;
            if (value == 0xFD) d.playing = false;
            if (value == 0xFE || value == 0xFF) d.playing = true;
            break;
        case DigiRegister::StartLow: setLowByte(d.startAddress, value); break;
        case DigiRegister::StartHigh: setHighByte(d.startAddress, value); break;
        case DigiRegister::EndLow: setLowByte(d.endAddress, value); break;
        case DigiRegister::EndHigh: setHighByte(d.endAddress, value); break;
        case DigiRegister::RepeatCount: d.repeatCount = value; break;
        case DigiRegister::PeriodLow: setLowByte(d.period, value); break;
        case DigiRegister::PeriodHigh: setHighByte(d.period, value); break;
        case DigiRegister::NibbleOrder: d.nibbleOrder = value; break;
        case DigiRegister::RepeatLow: setLowByte(d.repeatAddress, value); break;
        case DigiRegister::RepeatHigh: setHighByte(d.repeatAddress, value); break;
        default: break;  // $D45F and the rest of the range: accepted, no effect
    }
}

int32_t mixDigiSample(DigiPlayer& d, const C64Memory& memory, uint32_t sampleRate, uint32_t clock,
                      int32_t mix) {
    // Silent outside [start, end): before a start, past the end, or when start >= end.
    if (!d.playing || d.position >= d.playEnd || d.position < d.playStart) return mix;
    const int32_t result = mix + d.currentValue;  // the value found by an earlier step

    // A period of 0 gives no rate: the current value keeps sounding, no nibble is taken.
    if (d.playPeriod == 0) return result;
    d.rateAccumulator += int32_t(clock) / d.playPeriod;
    const int32_t rate = int32_t(sampleRate);
    if (d.rateAccumulator <= rate) return result;
    d.rateAccumulator %= rate;

    // One nibble step. Order 0 plays the low nibble of a byte, then its high nibble; any other
    // order the high nibble, then the low one.
    if (d.playNibbleOrder == 0) {
        if (++d.nibbleIndex == 2) {
            d.nibbleIndex = 0;
            ++d.position;
        }
    } else {
        if (--d.nibbleIndex < 0) {
            d.nibbleIndex = 1;
            ++d.position;
        }
    }
    // Repeats act on the step that reaches the end: a count of N plays the repeat range N more
    // times. Once the count is used up the sample ends there.
    if (d.position == d.playEnd && d.playRepeatCount != 0) {
        d.position = d.playRepeatAddress;
        --d.playRepeatCount;
    }

    const uint8_t byte = memory[d.position & 0xFFFF];
    const int32_t nibble = d.nibbleIndex == 1 ? byte >> 4 : byte & 0x0F;
    d.currentValue = (nibble - 7) * 1024;  // heard from the next output sample on
    return result;
}

}  // namespace sidtune
