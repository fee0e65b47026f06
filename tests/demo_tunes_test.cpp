// The demo tunes that ship with the project: between them they use every feature of the chip and
// the player, and their sound is pinned by golden checksums.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "cpu/cpu.h"
#include "engine/frame_pacing.h"
#include "sid/sid.h"
#include "test_support.h"

namespace sidtune::test {
namespace {

// What the tunes did, gathered frame by frame.
struct Seen {
    uint8_t controlBits = 0;          // OR of every voice's control register
    std::set<uint8_t> filterOutputs;  // bits 4-6 of mode and volume
    bool voice3Off = false;
    bool resonance = false;
    bool gateOff = false;
    std::set<uint32_t> frameLengths;
    std::set<int32_t> nibbleOrders;  // of samples that played
    bool repeats = false;
    bool digiHeard = false;
};

class DemoTunes : public MachineTest {
  protected:
    void startDemo(const char* file, uint8_t song) {
        ASSERT_TRUE(beginTuneFile(s, demoTune(file), song));
        ASSERT_EQ(m.cutOffCalls, 0u) << "the init routine returns";
    }
    void playFrames(Seen& seen, int frames);
};

void DemoTunes::playFrames(Seen& seen, int frames) {
    std::vector<int16_t> samples(4000);
    for (int f = 0; f < frames; ++f) {
        const uint16_t timer = uint16_t(m.memory[0xDC04] | m.memory[0xDC05] << 8);
        const uint32_t length = frameSamples(timer, s.tune.speedFlags);
        seen.frameLengths.insert(length);
        ASSERT_TRUE(callSubroutine(m, s.tune.playAddress, 0, length * kPlayInstructionsPerSample));
        const SidChip& chip = m.sid;
        for (int v = 0; v < 3; ++v) {
            seen.controlBits |= controlRegister(chip.registers, v);
            seen.gateOff |= !gateOn(controlRegister(chip.registers, v));
        }
        seen.filterOutputs.insert(chip.registers[SidRegister::ModeVolume] & 0x70);
        seen.voice3Off |= voice3Off(chip.registers);
        seen.resonance |= resonance(chip.registers) > 0;
        const DigiPlayer& digi = m.digi;
        if (digi.playing && digi.position < digi.playEnd) {
            seen.nibbleOrders.insert(digi.playNibbleOrder);
            seen.repeats |= digi.playRepeatCount > 0;
        }
        renderSamples(m.sid, m.digi, m.memory, samples.data(), length);
        seen.digiHeard |= digi.currentValue != 0;
    }
}

TEST_F(DemoTunes, TogetherUseEveryFeature) {
    Seen seen;
    startDemo("demo.sid", 0);
    playFrames(seen, 500);
    for (uint8_t song = 0; song < 3; ++song) {
        startDemo("effects.sid", song);
        playFrames(seen, 300);
    }
    startDemo("digi.sid", 0);
    EXPECT_NE(s.tune.playAddress, 0);  // found through $0314/$0315: the header has none
    playFrames(seen, 300);

    EXPECT_EQ(seen.controlBits, 0xFF) << "every waveform, test, ring, sync and gate";
    EXPECT_TRUE(seen.gateOff);
    EXPECT_EQ(seen.filterOutputs, (std::set<uint8_t>{0x10, 0x20, 0x40, 0x00}));
    EXPECT_TRUE(seen.voice3Off);
    EXPECT_TRUE(seen.resonance);
    EXPECT_TRUE(seen.frameLengths.count(882));
    EXPECT_TRUE(seen.frameLengths.count(744));  // the CIA timer at $4025
    EXPECT_EQ(seen.nibbleOrders, (std::set<int32_t>{0, 1}));
    EXPECT_TRUE(seen.repeats);
    EXPECT_TRUE(seen.digiHeard);
}

// FNV-1a over the samples' bytes.
uint64_t checksum(const std::vector<int16_t>& samples) {
    uint64_t h = 14695981039346656037ull;
    for (int16_t s : samples) {
        for (int shift : {0, 8}) {
            h ^= uint8_t(uint16_t(s) >> shift);
            h *= 1099511628211ull;
        }
    }
    return h;
}

// Twenty seconds of each demo song, made as the player makes them, block by block. A checksum
// changes only with a deliberate change to the sound, explained where it is made.
TEST_F(DemoTunes, GoldenChecksums) {
    struct Case {
        const char* file;
        uint8_t song;
        uint64_t checksum;
    };
    const Case cases[] = {
        {"demo.sid", 0, 3719261442598973402ull},     {"effects.sid", 0, 3990533623936954728ull},
        {"effects.sid", 1, 16631379777550033104ull}, {"effects.sid", 2, 2483307955336789828ull},
        {"digi.sid", 0, 4436950033514445645ull},
    };
    for (const Case& c : cases) {
        startDemo(c.file, c.song);
        EXPECT_EQ(checksum(renderBlocks(s, 40)), c.checksum) << c.file << " song " << int(c.song);
        EXPECT_EQ(m.cutOffCalls, 0u) << c.file;
    }
}

// Songs are independent: two tunes rendered block by block in turn, each a song of its
// own, sound exactly as each does alone.
TEST_F(DemoTunes, EnginesRenderedInTurnSoundAsEachAlone) {
    const int blocks = 6;
    std::vector<int16_t> alone[2];
    const std::pair<const char*, int> tunes[2] = {{"effects.sid", 1}, {"digi.sid", 0}};
    for (int t = 0; t < 2; ++t) {
        ASSERT_TRUE(beginTuneFile(s, demoTune(tunes[t].first), tunes[t].second));
        alone[t] = renderBlocks(s, blocks);
    }
    std::unique_ptr<Song> songs[2] = {newSong(), newSong()};
    std::vector<int16_t> inTurn[2];
    for (int t = 0; t < 2; ++t)
        ASSERT_TRUE(beginTuneFile(*songs[t], demoTune(tunes[t].first), tunes[t].second));
    for (int b = 0; b < blocks; ++b) {
        for (int t = 0; t < 2; ++t) {
            const std::vector<int16_t> block = renderBlocks(*songs[t], 1);
            inTurn[t].insert(inTurn[t].end(), block.begin(), block.end());
        }
    }
    EXPECT_NE(alone[0], alone[1]);
    EXPECT_EQ(inTurn[0], alone[0]);
    EXPECT_EQ(inTurn[1], alone[1]);
}

}  // namespace
}  // namespace sidtune::test
