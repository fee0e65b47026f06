// The audio output's opening and closing, the worker thread, the volume and the player over them,
// on the simulated platform: the play position moves only when a test moves it, so every rule
// can be checked in order.
#include "audio/audio_output.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "audio/volume.h"
#include "engine/player.h"
#include "sid/sid.h"
#include "sim/listening.h"
#include "sim/platform_sim.h"
#include "test_support.h"

namespace sidtune::test {
namespace {

constexpr uint32_t kHalf = kBlockBytes;  // bytes in half the stream

using sim::at;
using sim::countCalls;
using sim::eventually;
using sim::listen;

// A tune whose play routine counts its calls at $C000 and whose init routine sets the volume and
// marks $C001.
std::vector<uint8_t> countingTune(uint8_t volume = 0) {
    return psidTune({0xA9, volume, 0x8D, 0x18, 0xD4,  // LDA #volume; STA $D418
                     0xA9, 0x01, 0x8D, 0x01, 0xC0,    // LDA #1; STA $C001
                     0x60},                           // RTS
                    {0xEE, 0x00, 0xC0, 0x60});        // INC $C000; RTS
}

// The blocks the player makes of a tune's first song, offline, in a song of their own.
std::vector<int16_t> offlineBlocks(const std::vector<uint8_t>& tune, int blocks) {
    const std::unique_ptr<Song> offline = newSong();
    EXPECT_TRUE(beginTuneBytes(*offline, tune));
    return renderBlocks(*offline, blocks);
}

// A player of the test's own on the simulated platform, and nothing alive afterwards.
class AudioOutputTest : public ::testing::Test {
  protected:
    std::unique_ptr<Player> ownPlayer = std::make_unique<Player>();
    Player& p = *ownPlayer;
    TempFolder folder;

    void SetUp() override { sim::reset(); }
    void TearDown() override {
        closePlayer(p);
        EXPECT_EQ(sim::live(), sim::LiveObjects{});
    }
    // Set up, load, start song 0, as "PlaySidtune" does.
    void play(const std::vector<uint8_t>& tune) {
        ASSERT_TRUE(openPlayer(p));
        ASSERT_TRUE(startTune(p, folder.write("tune.sid", tune).c_str(), 0));
        ASSERT_EQ(playerState(p), PlayerState::Playing);
    }
    // Waits until the worker has finished `count` refills: each ends with the unlock of a half.
    void waitForRefills(int count) { ASSERT_TRUE(sim::waitForRefills(count)); }
    // Waits for the worker's first refill, the second half's at the start: with the quick start the
    // first half, filled before the stream starts, is one unlock more.
    void waitForTheStart() { waitForRefills(p.quickStart ? 2 : 1); }
};

TEST_F(AudioOutputTest, ShutdownWithNothingSetUpMakesNoCall) {
    shutDownEngine(p);
    shutDownEngine(p);
    EXPECT_TRUE(sim::calls().empty());
}

TEST_F(AudioOutputTest, SetUpInOrderThenShutDownInReverse) {
    ASSERT_TRUE(setUpEngine(p));
    const sim::LiveObjects up{1, 2, 1, 3, 1};  // device; primary and stream buffers; notify; events; worker
    EXPECT_EQ(sim::live(), up);
    EXPECT_EQ(p.audio.bufferBytes, kStreamBytes);
    EXPECT_EQ(sim::streamContents(), std::vector<int16_t>(kStreamBytes / 2, 0));
    EXPECT_FALSE(sim::streamPlaying());
    const std::vector<std::string> setUpCalls = {
        "DirectSoundCreate8",
        "SetCooperativeLevel",
        "GetCaps",
        "CreateSoundBuffer(primary)",
        "SetFormat",
        "Play(primary)",
        "CreateSoundBuffer(stream)",
        "QueryInterface(IDirectSoundBuffer8)",
        "Release(stream)",
        "QueryInterface(IDirectSoundNotify)",
        "CreateEvent",
        "CreateEvent",
        "CreateEvent",
        "SetNotificationPositions",
        "Lock(entire)",
        "Unlock(entire)",
        "CreateThread",
    };
    EXPECT_EQ(sim::calls(), setUpCalls);

    sim::reset();
    // At once, as the plugin's load does: the waiting worker ends through the stop event.
    shutDownEngine(p);
    const std::vector<std::string> shutDownCalls = {
        "Stop(stream)",       "CloseHandle(thread)", "CloseHandle(event)", "CloseHandle(event)",
        "CloseHandle(event)", "Stop(stream)",        "Release(stream)",    "Release(notify)",
        "Stop(primary)",      "Release(primary)",    "Release(device)",
    };
    EXPECT_EQ(sim::calls(), shutDownCalls);
    EXPECT_EQ(sim::live(), sim::LiveObjects{});
    EXPECT_EQ(p.audio.device, nullptr);
    EXPECT_EQ(p.audio.thread, nullptr);
    shutDownEngine(p);  // and a second time
    EXPECT_EQ(sim::calls(), shutDownCalls);
}

TEST_F(AudioOutputTest, EverySetUpStepFailingLeavesNothingBehind) {
    using enum sim::Step;
    for (sim::Step step : {CreateDevice, SetCooperativeLevel, GetCaps, CreatePrimaryBuffer, SetFormat,
                           PlayPrimaryBuffer, CreateStreamBuffer, QueryBuffer8, QueryNotify, CreateEvent,
                           SetNotificationPositions, ClearingLock, CreateThread}) {
        sim::reset();
        sim::failAt(step);
        EXPECT_FALSE(setUpEngine(p)) << int(step);
        EXPECT_EQ(sim::live(), sim::LiveObjects{}) << int(step);
        EXPECT_EQ(countCalls("CreateThread") > 0, step == CreateThread) << int(step);
        shutDownEngine(p);
    }
}

TEST_F(AudioOutputTest, HalvesAreRefilledAsTheyArePlayed) {
    // Something to hear: voices rise from set-up on.
    const std::vector<uint8_t> tune = countingTune(0x0F);
    const std::vector<int16_t> rendered = offlineBlocks(tune, 3);
    std::vector<std::vector<int16_t>> expected;
    for (int b = 0; b < 3; ++b)
        expected.emplace_back(rendered.begin() + b * kBlockSamples,
                              rendered.begin() + (b + 1) * kBlockSamples);

    play(tune);
    // Starting reaches offset 0 at once: the second half is refilled first.
    waitForRefills(1);
    std::vector<int16_t> contents = sim::streamContents();
    EXPECT_EQ(std::vector<int16_t>(contents.begin(), contents.begin() + kBlockSamples),
              std::vector<int16_t>(kBlockSamples, 0));
    EXPECT_EQ(std::vector<int16_t>(contents.begin() + kBlockSamples, contents.end()), expected[0]);

    // The first half plays (silence); passing the middle refills it with the next block.
    EXPECT_EQ(sim::advance(kHalf), std::vector<int16_t>(kBlockSamples, 0));
    waitForRefills(2);
    EXPECT_EQ(sim::advance(kHalf), expected[0]);
    waitForRefills(3);
    EXPECT_EQ(sim::advance(kHalf), expected[1]);
    waitForRefills(4);
    EXPECT_EQ(p.music.machine.memory[0xC000], 4 * 25);  // before the next advance sets the worker going
    EXPECT_EQ(sim::advance(kHalf), expected[2]);
}

TEST_F(AudioOutputTest, SilenceWhileRenderingIsOff) {
    play(countingTune(0x0F));
    waitForRefills(1);
    sim::advance(kHalf);
    waitForRefills(2);
    const uint8_t calls = p.music.machine.memory[0xC000];
    const SidVoice voice = p.music.machine.sid.voices[0];
    p.renderEnabled = 0;
    sim::advance(kHalf);
    waitForRefills(3);
    EXPECT_EQ(p.music.machine.memory[0xC000], calls);
    EXPECT_EQ(p.music.machine.sid.voices[0].envelope, voice.envelope);
    const std::vector<int16_t> contents = sim::streamContents();
    EXPECT_EQ(std::vector<int16_t>(contents.begin() + kBlockSamples, contents.end()),
              std::vector<int16_t>(kBlockSamples, 0));
}

TEST_F(AudioOutputTest, BothHalfEventsPendingRefillTheSecondHalfFirst) {
    play(countingTune());
    waitForRefills(1);
    {
        std::lock_guard<std::mutex> hold(p.songLock);  // the worker stalls in its next block
        sim::advance(kHalf);                           // middle: the worker takes the first half
        ASSERT_TRUE(eventually([] { return countCalls(at("Lock", 0)) == 1; }));
        sim::advance(kHalf);  // wrap: pending
        sim::advance(kHalf);  // middle again: pending too
    }
    waitForRefills(4);
    std::vector<std::string> locks;
    for (const std::string& c : sim::calls()) {
        if (c == at("Lock", 0) || c == at("Lock", kHalf)) locks.push_back(c);
    }
    EXPECT_EQ(locks,
              (std::vector<std::string>{at("Lock", kHalf), at("Lock", 0), at("Lock", kHalf), at("Lock", 0)}));
}

TEST_F(AudioOutputTest, StopWithAHalfPendingRefillsItFirst) {
    play(countingTune());
    waitForRefills(1);
    {
        std::lock_guard<std::mutex> hold(p.songLock);
        sim::advance(kHalf);
        ASSERT_TRUE(eventually([] { return countCalls(at("Lock", 0)) == 1; }));
        sim::advance(kHalf);  // wrap pending
        stopSong(p);          // the stop notification: stop pending too
    }
    shutDownEngine(p);  // waits for the worker: the pending half first, then the stop
    EXPECT_EQ(countCalls(at("Lock", kHalf)), 2);
}

TEST_F(AudioOutputTest, TheWorkerWaitsForTheInitRoutine) {
    // An init routine that runs a while, and a play routine that notes whether init had finished.
    std::vector<uint8_t> tune = countingTune();
    const uint8_t init[] = {
        0xA0, 0x00,        // LDY #$00
        0xA2, 0x00,        // LDX #$00   <- outer
        0xCA,              // DEX        <- inner
        0xD0, 0xFD,        // BNE inner
        0x88,              // DEY
        0xD0, 0xF8,        // BNE outer
        0xA9, 0x01,        // LDA #$01
        0x8D, 0x01, 0xC0,  // STA $C001   init done
        0x60,              // RTS
    };
    const uint8_t playRoutine[] = {
        0xAD, 0x01, 0xC0,  // LDA $C001
        0xD0, 0x03,        // BNE +3
        0xEE, 0x02, 0xC0,  // INC $C002   played before init had finished
        0xEE, 0x00, 0xC0,  // INC $C000
        0x60,              // RTS
    };
    std::copy(std::begin(init), std::end(init), tune.begin() + 126);
    tune.resize(126 + 0x30, 0xEA);
    std::copy(std::begin(playRoutine), std::end(playRoutine), tune.begin() + 126 + 0x20);
    tune[12] = 0x10, tune[13] = 0x20;  // play $1020
    play(tune);
    waitForRefills(1);
    EXPECT_EQ(p.music.machine.memory[0xC000], 25);
    EXPECT_EQ(p.music.machine.memory[0xC002], 0);
}

// A pause keeps the song's place: what is heard before it and after the resume is the stream
// without a sample skipped or repeated, wherever it pauses, also when playing again raises a
// notification of its own (the software stream notifies the position it starts on; Wine's
// DirectSound notifies offset 0 whenever a buffer starts): the worker must not refill for it.
TEST_F(AudioOutputTest, PauseAndResumeSkipNothing) {
    const std::vector<uint8_t> tune = countingTune(0x0F);
    std::vector<int16_t> expected(kBlockSamples, 0);  // the first half is silence
    const std::vector<int16_t> blocks = offlineBlocks(tune, 4);
    expected.insert(expected.end(), blocks.begin(), blocks.end());

    for (uint32_t pauseAt : {10000u, kHalf, kHalf + 10000, 2 * kHalf, 2 * kHalf + 30000}) {
        for (int raised : {-1, kWrapEvent, kMiddleEvent}) {
            SCOPED_TRACE(testing::Message() << "pause at " << pauseAt << ", raised " << raised);
            sim::reset();
            play(tune);
            waitForRefills(1);
            std::vector<int16_t> heard = listen(pauseAt);
            pauseSong(p);
            EXPECT_FALSE(sim::streamPlaying());
            EXPECT_EQ(sim::advance(4000), std::vector<int16_t>(2000, 0));  // silence, in place
            resumeSong(p);
            if (raised >= 0) platform::setEvent(p.audio.events[raised]);
            std::this_thread::sleep_for(std::chrono::milliseconds(30));  // the worker has acted on it
            const std::vector<int16_t> after = listen(uint32_t(expected.size() * 2) - pauseAt);
            heard.insert(heard.end(), after.begin(), after.end());
            ASSERT_EQ(heard.size(), expected.size());
            EXPECT_EQ(heard, expected);
            closePlayer(p);
            EXPECT_EQ(sim::live(), sim::LiveObjects{});
        }
    }
}

// The player's settings, made before a play, are what the stream plays: the song as the offline
// render makes it with the same settings, after the first half's silence, or from the stream's first
// sample with the quick start.
TEST_F(AudioOutputTest, TheSettingsAreWhatIsHeard) {
    const std::vector<uint8_t> tune = countingTune(0x0F);
    struct Case {
        float speed;
        uint8_t muted;
        bool quickStart;
        bool thenNotANumber = false;  // every switch given NaN afterwards: each stays as it was
    };
    for (const Case& c :
         {Case{1.0f, 0, false}, Case{1.0f, 0, true}, Case{2.0f, 0x05, false}, Case{0.5f, 0x02, true},
          Case{1.0f, 0x06, true, true}, Case{1.0f, 0x01, false, true}}) {
        SCOPED_TRACE(testing::Message()
                     << c.speed << " " << int(c.muted) << " " << c.quickStart << " " << c.thenNotANumber);
        sim::reset();
        resetSettings(p);
        setSpeed(p, c.speed);
        for (int voice = 1; voice <= 3; ++voice) setVoiceMuted(p, voice, c.muted >> (voice - 1) & 1);
        setQuickStart(p, c.quickStart);
        if (c.thenNotANumber) {
            for (int voice = 1; voice <= 3; ++voice) setVoiceMuted(p, voice, NAN);
            setQuickStart(p, NAN);
        }
        const auto offline = newSong();
        offline->settings = p.settings;
        ASSERT_TRUE(beginTuneBytes(*offline, tune));
        std::vector<int16_t> expected =
            c.quickStart ? std::vector<int16_t>{} : std::vector<int16_t>(kBlockSamples, 0);
        const std::vector<int16_t> blocks = renderBlocks(*offline, 3);
        expected.insert(expected.end(), blocks.begin(), blocks.end());
        play(tune);
        waitForTheStart();
        EXPECT_EQ(listen(uint32_t(expected.size()) * kBytesPerSample), expected);
        closePlayer(p);
    }
}

// "SidtuneTime": the milliseconds of the song heard, from the song's first sample (after the first
// half's silence, or at once with the quick start), standing still while paused.
TEST_F(AudioOutputTest, TheTimeOfTheSongHeard) {
    struct Case {
        bool quickStart;
        uint32_t playedBytes;
        int32_t milliseconds;
    };
    const Case cases[] = {
        {false, 0, 0}, {false, kHalf, 0}, {false, 3 * kHalf, 1000}, {true, 0, 0}, {true, 3 * kHalf, 1500},
    };
    for (const Case& c : cases) {
        sim::reset();
        setQuickStart(p, c.quickStart);
        play(countingTune());
        waitForTheStart();
        listen(c.playedBytes);
        EXPECT_EQ(songMilliseconds(p), c.milliseconds) << c.quickStart << " " << c.playedBytes;
        pauseSong(p);
        sim::advance(kHalf);  // nothing moves while paused
        EXPECT_EQ(songMilliseconds(p), c.milliseconds) << c.quickStart << " " << c.playedBytes;
        closePlayer(p);
        EXPECT_EQ(songMilliseconds(p), 0);
    }
    setQuickStart(p, false);
}

// A fade follows what is heard: the attenuation at each point is the value's on the volume's scale,
// it waits while paused, ends on the target's own step, and a fade-out leaves the player Idle.
TEST_F(AudioOutputTest, AFadeFollowsWhatIsHeard) {
    play(countingTune());
    waitForRefills(1);
    fadePlayer(p, 0.0f, 1.0f, true);  // to silence over one second
    listen(kHalf);                    // half of it heard: the value is 0.5
    ASSERT_TRUE(eventually([] { return sim::streamVolume() == -602; })) << sim::streamVolume();
    sim::holdNotYetHeard(4410);  // from now on the device holds 50 ms of the stream, not yet heard
    pauseSong(p);                // a pause ends the fade where it is
    resumeSong(p);
    listen(kHalf);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(sim::streamVolume(), -602);
    EXPECT_EQ(playerState(p), PlayerState::Playing);

    pauseSong(p);
    fadePlayer(p, 1.0f, 0.5f, false);  // made while paused: it waits for the sound
    sim::holdNotYetHeard(0);           // the device's count changes while it is stopped
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(sim::streamVolume(), -602);
    sim::holdNotYetHeard(4410);
    resumeSong(p);
    listen(kHalf / 2);  // half of its half second: 0.75
    ASSERT_TRUE(eventually([] { return sim::streamVolume() == -250; })) << sim::streamVolume();
    listen(kHalf);  // over: the target's step, full volume
    ASSERT_TRUE(eventually([] { return sim::streamVolume() == 0; })) << sim::streamVolume();

    fadePlayer(p, 0.5f, 0.2f, true);  // a fade-out to a level, then Idle
    listen(kHalf);
    ASSERT_TRUE(eventually([] { return sim::streamVolume() == -609; }));  // step 63, as SetSidVolume 0.5
    EXPECT_EQ(playerState(p), PlayerState::Idle);
    EXPECT_EQ(sim::live(), sim::LiveObjects{});  // the device is released
}

TEST_F(AudioOutputTest, AFailedLockRendersNothing) {
    play(countingTune());
    waitForRefills(1);
    sim::failLocks(1);
    sim::advance(kHalf);  // middle: its lock fails, the first half is not touched
    ASSERT_TRUE(eventually([] { return countCalls(at("Lock", 0)) == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(p.music.machine.memory[0xC000], 25);
    sim::advance(kHalf);  // wrap: refilled as usual
    waitForRefills(2);
    EXPECT_EQ(p.music.machine.memory[0xC000], 50);
}

TEST_F(AudioOutputTest, StoppingEndsTheWorkerBeforeTheStopEventIsSet) {
    play(countingTune());
    waitForRefills(1);
    stopSong(p);
    EXPECT_FALSE(sim::streamPlaying());
    // The stop notification alone ends the worker: the thread can be waited for.
    std::atomic<bool> ended{false};
    std::thread waiter([&] {
        platform::waitForThread(p.audio.thread);
        ended = true;
    });
    if (!eventually([&] { return ended.load(); })) {
        // Closing the player would wait for the worker too: the test ends here, failed.
        std::fprintf(stderr, "the worker did not end after the stop notification\n");
        std::_Exit(1);
    }
    waiter.join();
}

class Volume : public AudioOutputTest {};

TEST_F(Volume, Steps) {
    struct Case {
        int32_t step;
        int32_t attenuation;
    };
    const Case cases[] = {{0, -10000}, {1, -4208},  {2, -3606},  {4, -3003}, {8, -2401},
                          {13, -1980}, {16, -1799}, {32, -1197}, {63, -609}, {64, -595},
                          {100, -208}, {126, -7},   {127, 0}};
    ASSERT_TRUE(setUpEngine(p));
    for (const Case& c : cases) {
        applyVolumeStep(p.audio, -5000);  // a different value first
        applyVolumeStep(p.audio, c.step);
        EXPECT_EQ(sim::streamVolume(), c.attenuation) << c.step;
    }
    const int calls = sim::setVolumeCalls();
    applyVolumeStep(p.audio, 128);
    applyVolumeStep(p.audio, -1);
    EXPECT_EQ(sim::setVolumeCalls(), calls);  // out of range: no call at all
    shutDownEngine(p);
}

TEST_F(Volume, ScriptValues) {
    const float nearestToOneOver127 = 1.0f / 127.0f;
    ASSERT_LT(double(nearestToOneOver127) * 127.0, 1.0);  // it lies just below 1/127
    struct Case {
        float value;
        int32_t attenuation;
    };
    const Case cases[] = {
        {-0.5f, -10000},
        {std::numeric_limits<float>::quiet_NaN(), -10000},
        {-std::numeric_limits<float>::infinity(), -10000},
        {0.0f, -10000},
        {0.005f, -10000},
        {nearestToOneOver127, -10000},
        {std::nextafter(nearestToOneOver127, 1.0f), -4208},
        {0.1f, -2049},
        {0.25f, -1225},
        {0.5f, -609},
        {0.75f, -252},
        {1.0f, 0},
        {1.5f, 0},
        {std::numeric_limits<float>::infinity(), 0},
    };
    ASSERT_TRUE(setUpEngine(p));
    for (const Case& c : cases) {
        applyVolumeStep(p.audio, 50);
        applyVolume(p.audio, c.value);
        EXPECT_EQ(sim::streamVolume(), c.attenuation) << c.value;
    }
    shutDownEngine(p);
}

TEST_F(Volume, ANewEngineStartsAtFullVolume) {
    ASSERT_TRUE(setUpEngine(p));
    applyVolume(p.audio, 0.25f);
    shutDownEngine(p);
    ASSERT_TRUE(setUpEngine(p));
    EXPECT_EQ(sim::streamVolume(), 0);
    shutDownEngine(p);
    applyVolume(p.audio, 0.5f);  // no engine: nothing to set, nothing happens
}

}  // namespace
}  // namespace sidtune::test
