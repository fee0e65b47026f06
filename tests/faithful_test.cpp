// Faithful playback held to the machine's own figures, with the tests' tunes (tunes/faithful.a):
// a tone's pitch on both clocks, the play calls of an hour, a tempo exact in both modes, and two
// chips that are their parts summed.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "engine/song.h"
#include "test_support.h"

namespace sidtune::test {
namespace {

// faithful_NTSC_TIMER_PARTS.sid, as tests/CMakeLists.txt assembles them.
std::string testTune(int ntsc, int timer, int parts) {
    return std::string(SIDTUNE_TEST_TUNES) + "/faithful_" + std::to_string(ntsc) + "_" +
           std::to_string(timer) + "_" + std::to_string(parts) + ".sid";
}

std::unique_ptr<Song> begin(const std::string& tune, bool faithful, float tempo = 1.0f) {
    auto s = newSong();
    s->settings.faithful = faithful;
    s->settings.speed = speedOfRatio(tempo, kNormalSpeed);
    EXPECT_TRUE(beginTuneFile(*s, tune));
    return s;
}

// The play routine counts its calls in $C000-$C002.
uint32_t playCalls(const Song& s) {
    const C64Memory& m = s.machine.memory;
    return m[0xC000] | m[0xC001] << 8 | m[0xC002] << 16;
}

TEST(FaithfulPlayback, AToneSoundsAtTheClocksPitchAndTimes) {
    // Voice 1's sawtooth at $1C00: its wraps counted over ten seconds; and its attack (rate 0:
    // 2304 cycles) reaches the top in 2304 of the clock's cycles.
    for (const int ntsc : {0, 1}) {
        const auto attack = begin(testTune(ntsc, 0, 1), true);
        int samples = 0;
        for (int16_t sample;
             attack->machine.sid.voices[0].envelopeState == EnvelopeState::Attack && samples < 1000;
             ++samples)
            renderSong(*attack, &sample, 1);
        const auto s = begin(testTune(ntsc, 0, 1), true);
        const std::vector<int16_t> out = renderBlocks(*s, 20);
        const auto [low, high] = std::minmax_element(out.begin(), out.end());
        std::vector<size_t> wraps;
        for (size_t j = 1; j < out.size(); ++j)
            if (out[j] - out[j - 1] < -(*high - *low) / 4) wraps.push_back(j);
        ASSERT_GT(wraps.size(), 1000u);
        const double heard = double(wraps.size() - 1) * kSampleRate / double(wraps.back() - wraps.front());
        const double clock = ntsc != 0 ? kNtscClock : kPalClock;
        EXPECT_NEAR(heard / (0x1C00 * clock / 16777216.0), 1.0, 1e-4) << (ntsc != 0 ? "NTSC" : "PAL");
        EXPECT_NEAR(samples, 2304 * kSampleRate / clock, 1.0) << (ntsc != 0 ? "NTSC" : "PAL");
    }
}

TEST(FaithfulPlayback, AnHourHasItsPlayCallsToWithinOne) {
    struct Case {
        int ntsc, timer;
        double cyclesPerCall;
    };
    const Case cases[] = {
        {0, 0, kPalFrameCycles}, {1, 0, kNtscFrameCycles}, {0, 16421, 16422}, {1, 16421, 16422}};
    for (const Case& c : cases) {
        const auto s = begin(testTune(c.ntsc, c.timer, 1), true);
        skipSong(*s, 3600ull * kSampleRate);
        const double clock = c.ntsc != 0 ? kNtscClock : kPalClock;
        EXPECT_NEAR(playCalls(*s), 3600 * clock / c.cyclesPerCall, 1.0) << c.ntsc << " " << c.timer;
    }
}

TEST(FaithfulPlayback, ATempoIsExactInEitherMode) {
    // A minute's play calls at tempo R are R times the mode's at 1.0. (The design's pacing at 1.0
    // begins a frame with every block, so its timer-paced tunes are not held to this.)
    struct Case {
        bool faithful;
        int timer;
        float tempo;
    };
    const Case cases[] = {{false, 0, 0.25f},   {false, 0, 0.5f},   {false, 0, 0.6f}, {false, 0, 0.75f},
                          {false, 0, 1.5f},    {false, 0, 1.3f},   {true, 0, 0.5f},  {true, 0, 1.3f},
                          {true, 16421, 0.6f}, {true, 16421, 2.0f}};
    for (const Case& c : cases) {
        const std::string tune = testTune(1, c.timer, 1);
        const auto normal = begin(tune, c.faithful), faster = begin(tune, c.faithful, c.tempo);
        skipSong(*normal, 60ull * kSampleRate);
        skipSong(*faster, 60ull * kSampleRate);
        EXPECT_NEAR(playCalls(*faster),
                    playCalls(*normal) * (speedOfRatio(c.tempo, 0) / double(kNormalSpeed)), 1.0)
            << c.faithful << " " << c.timer << " " << c.tempo;
    }
}

TEST(FaithfulPlayback, TwoChipsAreTheirPartsSummedAtHalfEach) {
    // The first chip's part, the second's (a pulse and a sample of its own sample player) played on
    // a chip alone, and both at once on two chips.
    const std::vector<int16_t> first = renderBlocks(*begin(testTune(0, 0, 1), true), 4);
    const std::vector<int16_t> second = renderBlocks(*begin(testTune(0, 0, 2), true), 4);
    const std::vector<int16_t> both = renderBlocks(*begin(testTune(0, 0, 3), true), 4);
    size_t differing = 0;
    for (size_t j = 0; j < both.size(); ++j) differing += both[j] != (first[j] + second[j]) / 2;
    EXPECT_EQ(differing, 0u);
    EXPECT_NE(first, second);
    // Off, the second chip's writes reach the first, as they always have.
    EXPECT_NE(renderBlocks(*begin(testTune(0, 0, 3), false), 4), both);
}

}  // namespace
}  // namespace sidtune::test
