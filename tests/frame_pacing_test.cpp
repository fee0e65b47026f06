// Frame-paced rendering: frame lengths, play calls per block, silence while rendering is off,
// and runaway play routines.
#include "engine/frame_pacing.h"

#include <gtest/gtest.h>

#include <vector>

#include "cpu/cpu.h"
#include "engine/song.h"
#include "sid/sid.h"
#include "test_support.h"

namespace sidtune::test {
namespace {

TEST(FrameSamples, FromTimerSpeedFlagsAndTempo) {
    struct Case {
        uint16_t timer;
        uint8_t speed;
        uint32_t samples;
        uint32_t tempo = kNormalSpeed;
    };
    const Case cases[] = {
        {0x0000, 0, 882},
        {0xFFFF, 0, 882},
        {0x0000, 1, 882},
        {19456, 1, 882},
        {16421, 1, 744},
        {17045, 1, 772},
        {19705, 1, 893},
        {65535, 1, 2970},
        {65535, 0x80, 2970},
        {1, 1, 882},
        {22, 1, 882},
        {23, 1, 1},  // under one sample: the default frame
        // The tempo divides every frame, the timer's and the default one alike.
        {0, 0, 441, 2 * kNormalSpeed},
        {0, 0, 3528, kSlowestSpeed},
        {0, 0, 220, kFastestSpeed},
        {16421, 1, 372, 2 * kNormalSpeed},
        {1, 1, 441, 2 * kNormalSpeed},
        {0, 0, 588, kNormalSpeed * 3 / 2},
    };
    for (const Case& c : cases)
        EXPECT_EQ(frameSamples(c.timer, c.speed, c.tempo), c.samples) << c.timer << " " << c.tempo;
}

class RenderBlockTest : public MachineTest {
  protected:
    std::vector<int16_t> block = std::vector<int16_t>(kBlockSamples, 0x1234);

    // A play routine that counts its calls at $C000.
    void setUpCountingTune(uint8_t speedFlags, uint16_t timer) {
        poke(m, 0x1000,
             {0xEE, 0x00, 0xC0,  // INC $C000
              0x60});            // RTS
        s.tune.playAddress = 0x1000;
        s.tune.speedFlags = speedFlags;
        m.memory[0xDC04] = uint8_t(timer);
        m.memory[0xDC05] = uint8_t(timer >> 8);
    }
    void render() { renderSong(s, block.data(), uint32_t(block.size())); }
};

TEST_F(RenderBlockTest, PlayCallsPerBlock) {
    struct Case {
        uint8_t speed;
        uint16_t timer;
        int calls;
        float tempo = 1.0f;
        int twoBlocks = 0;  // 0: twice `calls`
    };
    // 882 x 25; 744 x 29 + 474; 2970 x 7 + 1260; tiny timer values use the default frame; at 1.0
    // every block starts a new frame, so the second block calls as often as the first. Tempo 2
    // calls the play routine twice as often, and off 1.0 frames run on across blocks: 372.2
    // samples a frame, 119 calls in two blocks (not 2 x 60); 3528 at 0.25, 13 calls (not 2 x 7).
    const Case cases[] = {{0, 16421, 25},      {1, 0, 25},       {1, 19456, 25},
                          {1, 16421, 30},      {1, 17045, 29},   {1, 65535, 8},
                          {1, 10, 25},         {0, 0, 50, 2.0f}, {1, 16421, 60, 2.0f, 119},
                          {0, 0, 7, 0.25f, 13}};
    for (const Case& c : cases) {
        resetMachine(m, kSampleRate);
        s.pacing = FramePacing{};
        s.settings.speed = speedOfRatio(c.tempo, kNormalSpeed);
        setUpCountingTune(c.speed, c.timer);
        render();
        EXPECT_EQ(m.memory[0xC000], c.calls) << c.timer;
        render();
        EXPECT_EQ(m.memory[0xC000], c.twoBlocks != 0 ? c.twoBlocks : 2 * c.calls) << c.timer;
    }
}

TEST_F(RenderBlockTest, NewTimerValueAppliesFromTheNextFrame) {
    setUpCountingTune(1, 0);
    poke(m, 0x1000,
         {0xEE, 0x00, 0xC0,  // INC $C000
          0xA9, 0xFF,        // LDA #$FF
          0x8D, 0x04, 0xDC,  // STA $DC04
          0x8D, 0x05, 0xDC,  // STA $DC05
          0x60});            // RTS
    render();
    // One default frame of 882, then frames of 2970: 21168 = 7 x 2970 + 378.
    EXPECT_EQ(m.memory[0xC000], 9);
}

TEST_F(RenderBlockTest, PlayAddressZeroStillRendersEveryFrame) {
    setUpCountingTune(0, 0);
    s.tune.playAddress = 0;
    render();
    EXPECT_EQ(block, std::vector<int16_t>(kBlockSamples, 0));  // volume 0, every sample written
    EXPECT_EQ(m.memory[0xC000], 0);
    // The synthesizer ran through the block: attack, decay, down to sustain level 0.
    EXPECT_EQ(m.sid.voices[0].envelopeState, EnvelopeState::Sustain);
}

TEST_F(RenderBlockTest, RunawayPlayRoutineIsCutOffEveryFrame) {
    setUpCountingTune(0, 0);
    poke(m, 0x1000,
         {0xEE, 0x00, 0xC0,    // INC $C000
          0x4C, 0x03, 0x10});  // JMP $1003 (waits for ever)
    render();
    EXPECT_EQ(m.memory[0xC000], 25);
    EXPECT_EQ(m.cutOffCalls, 25u);
}

}  // namespace
}  // namespace sidtune::test
