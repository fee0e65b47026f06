// The digi player: commands, nibble order and values, the stepping rate, repeats, period 0.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "cpu/cpu.h"
#include "engine/song.h"
#include "sid/sid.h"
#include "test_support.h"

namespace sidtune::test {
namespace {

class DigiTest : public MachineTest {
  protected:
    DigiPlayer& digi = m.digi;

    void setSample(uint16_t start, uint16_t end, uint16_t period, uint8_t order) {
        writeMemory(m, digiAddress(DigiRegister::StartLow), uint8_t(start));
        writeMemory(m, digiAddress(DigiRegister::StartHigh), uint8_t(start >> 8));
        writeMemory(m, digiAddress(DigiRegister::EndLow), uint8_t(end));
        writeMemory(m, digiAddress(DigiRegister::EndHigh), uint8_t(end >> 8));
        writeMemory(m, digiAddress(DigiRegister::PeriodLow), uint8_t(period));
        writeMemory(m, digiAddress(DigiRegister::PeriodHigh), uint8_t(period >> 8));
        writeMemory(m, digiAddress(DigiRegister::NibbleOrder), order);
    }
    // What the player adds to a silent mix, output sample by output sample.
    std::vector<int32_t> heard(int count) {
        std::vector<int32_t> out;
        for (int i = 0; i < count; ++i)
            out.push_back(mixDigiSample(m.digi, m.memory, m.sid.sampleRate, m.sid.clock, 0));
        return out;
    }
};

TEST_F(DigiTest, NibbleOrderAndValues) {
    // Period 1 asks for more values than output samples: one nibble per output sample.
    struct Case {
        uint8_t order;
        std::vector<int32_t> heard;
    };
    const Case cases[] = {
        // Low nibble first; from nibble index 0 the start byte's high nibble comes first. Nibble
        // 15 is +8192, 14 is +7168, 7 is 0, 0 is -7168. The value found on the step that reaches
        // the end is never heard.
        {0, {0, 8192, 7168, 0, -7168, -7168, 0, 0}},
        // High nibble first; from index 0 the first step moves to the next byte's high nibble.
        {1, {0, 0, 7168, -7168, -7168, 0, 0, 0}},
        {0x80, {0, 0, 7168, -7168, -7168, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        resetMachine(m, kSampleRate);
        poke(m, 0x3000, {0xF0, 0x7E, 0x00, 0x00, 0xFF});
        setSample(0x3000, 0x3003, 1, c.order);
        writeMemory(m, digiAddress(DigiRegister::Command), 0xFE);
        EXPECT_EQ(heard(8), c.heard) << int(c.order);
        EXPECT_TRUE(digi.playing);  // silent past the end, but still playing
    }
}

TEST_F(DigiTest, AddsToTheMixOnlyWhileSounding) {
    poke(m, 0x3000, {0xFF, 0xFF});
    setSample(0x3000, 0x3002, 1, 0);
    EXPECT_EQ(mixDigiSample(m.digi, m.memory, m.sid.sampleRate, m.sid.clock, 100), 100);  // no command yet
    writeMemory(m, digiAddress(DigiRegister::Command), 0xFE);
    EXPECT_EQ(mixDigiSample(m.digi, m.memory, m.sid.sampleRate, m.sid.clock, 100),
              100);  // the first value is found now, heard next
    EXPECT_EQ(mixDigiSample(m.digi, m.memory, m.sid.sampleRate, m.sid.clock, 100), 100 + 8192);
    writeMemory(m, digiAddress(DigiRegister::Command), 0xFD);
    EXPECT_FALSE(digi.playing);
    EXPECT_EQ(mixDigiSample(m.digi, m.memory, m.sid.sampleRate, m.sid.clock, 100), 100);
}

TEST_F(DigiTest, Period256StepsAboutOnceIn11Samples) {
    setSample(0x1000, 0xF000, 0x0100, 0);
    writeMemory(m, digiAddress(DigiRegister::Command), 0xFF);
    int steps = 0;
    for (uint32_t i = 0; i < kSampleRate; ++i) {
        const int32_t before = digi.position * 2 + digi.nibbleIndex;
        mixDigiSample(m.digi, m.memory, m.sid.sampleRate, m.sid.clock, 0);
        steps += (digi.position * 2 + digi.nibbleIndex) != before;
    }
    // 985248 / 256 = 3848 added per sample; an accumulator equal to the rate takes no step.
    EXPECT_EQ(steps, 3847);
}

TEST_F(DigiTest, Commands) {
    poke(m, 0x3000, {0x12, 0x34, 0x56, 0x78});
    setSample(0x3000, 0x3004, 1, 0);
    writeMemory(m, digiAddress(DigiRegister::Command), 0x00);  // latches, but does not start
    EXPECT_FALSE(digi.playing);
    EXPECT_EQ(digi.playStart, 0x3000);
    writeMemory(m, digiAddress(DigiRegister::Command), 0xFE);
    heard(3);
    EXPECT_EQ(digi.position, 0x3001);
    const int32_t nibbleIndex = digi.nibbleIndex;

    // Register writes alone change nothing that plays.
    setSample(0x3002, 0x3003, 7, 1);
    writeMemory(m, 0xD45F, 0x99);
    EXPECT_EQ(digi.playStart, 0x3000);
    EXPECT_EQ(digi.playEnd, 0x3004);
    EXPECT_EQ(digi.playPeriod, 1);

    // Another command restarts from the newly latched start; the nibble index stays.
    writeMemory(m, digiAddress(DigiRegister::Command), 0xFE);
    EXPECT_EQ(digi.position, 0x3002);
    EXPECT_EQ(digi.playEnd, 0x3003);
    EXPECT_EQ(digi.playPeriod, 7);
    EXPECT_EQ(digi.playNibbleOrder, 1);
    EXPECT_EQ(digi.nibbleIndex, nibbleIndex);
    EXPECT_TRUE(digi.playing);
    writeMemory(m, digiAddress(DigiRegister::Command), 0x42);  // neither start nor stop
    EXPECT_TRUE(digi.playing);
}

TEST_F(DigiTest, StartAtOrPastTheEndIsSilent) {
    for (uint16_t end : {0x3000, 0x2FFF}) {
        resetMachine(m, kSampleRate);
        setSample(0x3000, end, 1, 0);
        writeMemory(m, digiAddress(DigiRegister::Command), 0xFE);
        EXPECT_TRUE(digi.playing);
        EXPECT_EQ(heard(5), std::vector<int32_t>(5, 0));
    }
}

TEST_F(DigiTest, RepeatCountPlaysTheRepeatRangeThatManyMoreTimes) {
    for (uint8_t count : {0, 1, 2, 5}) {
        resetMachine(m, kSampleRate);
        poke(m, 0x3000, {0xFF, 0xFF, 0xFF, 0xFF});
        setSample(0x3000, 0x3004, 1, 0);
        writeMemory(m, digiAddress(DigiRegister::RepeatCount), count);
        writeMemory(m, digiAddress(DigiRegister::RepeatLow),
                    0x02);  // repeat from $3002: two bytes, four nibbles
        writeMemory(m, digiAddress(DigiRegister::RepeatHigh), 0x30);
        writeMemory(m, digiAddress(DigiRegister::Command), 0xFE);
        const std::vector<int32_t> values = heard(200);
        const auto sounding = std::count_if(values.begin(), values.end(), [](int32_t v) { return v != 0; });
        // 8 nibbles once, 4 more per repeat; the first nibble is heard one sample after its step.
        EXPECT_EQ(sounding, 8 + 4 * count - 1) << int(count);
        EXPECT_EQ(digi.playRepeatCount, 0);
    }
}

TEST_F(DigiTest, PeriodZeroKeepsTheValueAndTakesNoStep) {
    poke(m, 0x3000, {0xFF, 0xFF});
    setSample(0x3000, 0x3002, 1, 0);
    writeMemory(m, digiAddress(DigiRegister::Command), 0xFE);
    heard(2);
    writeMemory(m, digiAddress(DigiRegister::PeriodLow), 0);
    writeMemory(m, digiAddress(DigiRegister::Command), 0x00);  // re-latch with period 0
    const int32_t accumulator = digi.rateAccumulator;
    EXPECT_EQ(heard(100), std::vector<int32_t>(100, 8192));
    EXPECT_EQ(digi.rateAccumulator, accumulator);
}

TEST_F(DigiTest, MachineResetClearsThePlayer) {
    setSample(0x3000, 0x3004, 1, 0);
    writeMemory(m, digiAddress(DigiRegister::Command), 0xFE);
    heard(3);
    resetMachine(m, kSampleRate);
    EXPECT_FALSE(digi.playing);
    EXPECT_EQ(digi.startAddress, 0);
    EXPECT_EQ(digi.currentValue, 0);
    EXPECT_EQ(digi.rateAccumulator, 0);
}

TEST_F(DigiTest, ValueIsAddedAfterTheMasterVolume) {
    poke(m, 0x3000, {0xFF, 0xFF, 0xFF, 0xFF});
    setSample(0x3000, 0x3004, 1, 0);
    writeMemory(m, digiAddress(DigiRegister::Command), 0xFE);
    // Volume 0, every voice held at the centre: only the digi is heard, at full size, >> 2.
    for (int v = 0; v < 3; ++v) writeSidRegister(m.sid, uint8_t(v * 7 + 4), 0x21);
    for (SidVoice& voice : m.sid.voices) voice.phase = 0x8000000;
    int16_t out[3];
    renderSamples(m.sid, m.digi, m.memory, out, 3);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 8192 >> 2);
    EXPECT_EQ(out[2], 8192 >> 2);
}

}  // namespace
}  // namespace sidtune::test
