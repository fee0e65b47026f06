// The mix, offline, as the render tool and the player make it: the music alone is its own samples,
// the effects' rules, the sum of the songs at their gains, and a crossfade's two ramps.
#include "engine/mix.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "audio/volume.h"
#include "engine/player.h"
#include "engine/song_stream.h"
#include "sim/listening.h"
#include "sim/platform_sim.h"
#include "test_support.h"

namespace sidtune::test {
namespace {

// A song of `tune` begun with its stream at stream sample `at`, as the player begins the music.
std::unique_ptr<Song> musicOf(const std::vector<uint8_t>& tune, int32_t song, uint64_t at = 0) {
    auto s = newSong();
    EXPECT_TRUE(beginTuneBytes(*s, tune, song));
    startSongStream(*s, song, at, {}, tune);
    return s;
}

// `count` samples of a song alone, from its beginning.
std::vector<int16_t> alone(const std::vector<uint8_t>& tune, int32_t song, size_t count) {
    auto s = newSong();
    EXPECT_TRUE(beginTuneBytes(*s, tune, song));
    std::vector<int16_t> out(count);
    renderSong(*s, out.data(), uint32_t(count));
    return out;
}

// The mix's next `count` samples, made in pieces of odd sizes.
std::vector<int16_t> mixed(Mix& m, Song& music, size_t count) {
    std::vector<int16_t> out(count);
    for (size_t at = 0, piece = 1; at < count; at += piece, piece = piece * 3 + 7) {
        piece = std::min(piece, count - at);
        mixSamples(m, music, out.data() + at, uint32_t(piece));
    }
    return out;
}

// The music alone is its own samples; its levels are those of the stretch each sample lies in: the
// loudest sample, and each voice's envelope as the stretch's last sample was made (the stretches
// kept cover more than the kept second).
TEST(Mix, TheMusicAloneIsItsOwnSamplesAndLevels) {
    for (const std::string file : {"demo.sid", "digi.sid"}) {
        std::vector<uint8_t> bytes;
        ASSERT_EQ(readTune(FileName{demoTune(file.c_str()).c_str()}, bytes).error, PlayError::None);
        const auto m = std::make_unique<Mix>();
        const auto music = musicOf(bytes, 0);
        const std::vector<int16_t> song = alone(bytes, 0, 3 * kBlockSamples);
        EXPECT_EQ(mixed(*m, *music, 3 * kBlockSamples), song) << file;

        const auto levels = std::make_unique<Mix>();
        const auto again = musicOf(bytes, 0), offline = musicOf(bytes, 0);
        std::vector<int16_t> stretch(kLevelSamples);
        for (uint64_t at = 0; at < 3 * kBlockSamples - kLevelSamples; at += kLevelSamples) {
            mixSamples(*levels, *again, stretch.data(), kLevelSamples);
            renderSong(*offline, stretch.data(), kLevelSamples);
            for (int32_t v = 0; v < 3; ++v) {
                EXPECT_EQ(voiceLevelAt(*levels, v, at + 100),
                          offline->machine.sid.voices[size_t(v)].envelope >> 16)
                    << file << " at " << at;
            }
        }
        for (const uint64_t at : {uint64_t(300), uint64_t(kSampleRate / 4), uint64_t(kSampleRate / 2) + 7}) {
            int peak = 0;
            for (uint64_t i = at - at % kLevelSamples; i < at + kLevelSamples - at % kLevelSamples; ++i)
                peak = std::max(peak, std::abs(int(song[i])));
            EXPECT_EQ(musicPeak(*levels, at, at + 1), float(peak)) << file << " at " << at;
        }
    }
}

// Effects of songsThatEnd(): song 0 sounds for ever, song 1 falls silent after 60 frames.
TEST(Mix, TheEffectsRules) {
    const std::vector<uint8_t> tune = songsThatEnd();
    // Where song 1 alone has been silent for half a second.
    const std::vector<int16_t> song1 = alone(tune, 1, 3 * kSampleRate);
    SilenceWatch watch(0, 0, kEffectSilence);
    uint64_t silent = 0;
    while (!watch.feed(&song1[silent], 1)) ++silent;
    struct Start {
        uint64_t at;
        int32_t song;
        double seconds;
        uint32_t lengthMs;
    };
    struct Case {
        const char* name;
        std::vector<Start> starts;
        uint64_t stopAt;                                  // kNoEnd: no stop
        std::vector<std::pair<uint64_t, int32_t>> heard;  // at stream sample: how many effects sound
    };
    const Case cases[] = {
        {"by its seconds",
         {{1000, 0, 0.5, 0}},
         kNoEnd,
         {{999, 0}, {1000, 1}, {1000 + 22049, 1}, {1000 + 22050, 0}}},
        {"the seconds before the length", {{0, 0, 0.1, 900}}, kNoEnd, {{4409, 1}, {4410, 0}}},
        {"by its length", {{0, 0, 0, 300}}, kNoEnd, {{13229, 1}, {13230, 0}}},
        {"by half a second of silence", {{0, 1, 0, 0}}, kNoEnd, {{silent - 1, 1}, {silent + 256, 0}}},
        {"four at once",
         {{0, 0, 0, 0}, {10, 0, 0, 0}, {20, 0, 0, 0}, {30, 0, 0, 0}},
         kNoEnd,
         {{29, 3}, {30, 4}}},
        {"a fifth takes the oldest's place",
         {{0, 0, 0.5, 0}, {10, 0, 0, 0}, {20, 0, 0, 0}, {30, 0, 0, 0}, {40, 0, 0.1, 0}},
         kNoEnd,
         {{40, 4}, {40 + 4410, 3}, {22050, 3}}},
        {"a fifth takes the place of one that ended",
         {{0, 0, 0, 0}, {10, 0, 0.001, 0}, {20, 0, 0, 0}, {30, 0, 0, 0}, {100, 0, 0, 0}},
         kNoEnd,
         {{99, 3}, {100, 4}}},
        {"stopped", {{0, 0, 0, 0}, {10, 1, 0, 0}}, 500, {{499, 2}, {500, 0}, {5000, 0}}},
    };
    for (const Case& c : cases) {
        const auto m = std::make_unique<Mix>();
        const auto music = musicOf(tune, 0);
        const uint64_t last = c.heard.back().first + 1;
        const std::vector<Start>& starts = c.starts;
        std::vector<int32_t> heard(last);
        for (uint64_t at = 0; at < last; ++at) {
            for (const Start& s : starts) {
                if (s.at != at) continue;
                ASSERT_EQ(startEffect(*m, at, tune.data(), tune.size(), s.song, s.seconds, s.lengthMs),
                          PlayError::None);
            }
            if (at == c.stopAt) stopEffects(*m, at);
            heard[at] = effectsPlaying(*m, at);
            int16_t sample;
            mixSamples(*m, *music, &sample, 1);
        }
        for (const auto& [at, count] : c.heard) EXPECT_EQ(heard[at], count) << c.name << " at " << at;
    }
}

TEST(Mix, AnEffectThatCannotBeginTakesNoPlace) {
    const std::vector<uint8_t> tune = songsThatEnd();
    const std::vector<uint8_t> notATune = {'P', 'S', 'I'};
    const auto m = std::make_unique<Mix>();
    for (uint64_t at = 0; at < 4; ++at)
        ASSERT_EQ(startEffect(*m, at, tune.data(), tune.size(), 0, 0, 0), PlayError::None);
    EXPECT_EQ(startEffect(*m, 4, notATune.data(), notATune.size(), 0, 0, 0), PlayError::NotATune);
    EXPECT_EQ(startEffect(*m, 4, tune.data(), tune.size(), 2, 0, 0), PlayError::NoSuchSong);
    EXPECT_EQ(effectsPlaying(*m, 4), 4);
}

// The sum: the music at the duck's share (once its 50 ms are over), each effect at the effects'
// volume, rounded and saturated; two effects of a loud song clip.
TEST(Mix, TheSumOfTheSongsAtTheirGains) {
    std::vector<uint8_t> demo;
    ASSERT_EQ(readTune(FileName{demoTune("demo.sid").c_str()}, demo).error, PlayError::None);
    const std::vector<uint8_t> loud = songsThatEnd();
    const size_t n = kBlockSamples;
    const std::vector<int16_t> music = alone(demo, 0, n), effect = alone(loud, 0, n);
    struct Case {
        float volume, duck;
        int effects;
    };
    for (const Case c :
         {Case{1.0f, 1.0f, 1}, Case{0.5f, 0.3f, 1}, Case{1.0f, 0.0f, 2}, Case{0.0f, 0.5f, 1}}) {
        const auto m = std::make_unique<Mix>();
        const auto song = musicOf(demo, 0);
        setEffectVolume(*m, c.volume);
        setMusicDuck(*m, c.duck);
        for (int e = 0; e < c.effects; ++e)
            ASSERT_EQ(startEffect(*m, 0, loud.data(), loud.size(), 0, 0, 0), PlayError::None);
        const std::vector<int16_t> out = mixed(*m, *song, n);
        const float gain = float(volumeStep(c.volume)) / 127.0f;
        int differ = 0;
        for (size_t i = kDuckSamples; i < n; ++i) {
            const float v = std::round(float(music[i]) * c.duck + float(c.effects) * float(effect[i]) * gain);
            differ += out[i] != int16_t(std::clamp(v, -32768.0f, 32767.0f));
        }
        EXPECT_EQ(differ, 0) << c.volume << " " << c.duck << " " << c.effects;
    }
}

// A crossfade: the old music before it, the new song's own samples after it, and in between the
// two at ramps whose sum is full.
TEST(Mix, ACrossfadesTwoRamps) {
    std::vector<uint8_t> demo;
    ASSERT_EQ(readTune(FileName{demoTune("demo.sid").c_str()}, demo).error, PlayError::None);
    const std::vector<uint8_t> next = songsThatEnd();
    const uint64_t start = 10000, length = 8820;
    const std::vector<int16_t> before = alone(demo, 0, start + length), after = alone(next, 0, length + 1000);
    const auto m = std::make_unique<Mix>();
    const auto music = musicOf(demo, 0);
    std::vector<int16_t> out = mixed(*m, *music, start);
    auto incoming = musicOf(next, 0, start);
    startCrossfade(*m, *music, *incoming, length);
    const std::vector<int16_t> rest = mixed(*m, *music, length + 1000);
    out.insert(out.end(), rest.begin(), rest.end());
    EXPECT_TRUE(std::equal(before.begin(), before.begin() + long(start), out.begin()));
    EXPECT_TRUE(std::equal(after.begin() + long(length), after.end(), out.begin() + long(start + length)));
    for (uint64_t i : {uint64_t(0), length / 4, length / 2, length - 1}) {
        const float in = float(i) / float(length);
        const float v = std::round(float(after[i]) * in + float(before[start + i]) * (1.0f - in));
        EXPECT_EQ(out[start + i], int16_t(v)) << i;
    }
}

// What is made ahead and then remixed from a point, once an effect or a crossfade begins there, is
// what the mix would have made with it from there: the player's way of being heard at once.
TEST(Mix, ARemixIsWhatTheMixWouldHaveMade) {
    std::vector<uint8_t> demo;
    ASSERT_EQ(readTune(FileName{demoTune("demo.sid").c_str()}, demo).error, PlayError::None);
    const std::vector<uint8_t> other = songsThatEnd();
    const uint64_t from = 30000, ahead = 20000, after = 30000;
    enum class Begins { Effect, Crossfade, EffectOverEffect };
    for (const Begins begins : {Begins::Effect, Begins::Crossfade, Begins::EffectOverEffect}) {
        const auto begin = [&](Mix& m, std::unique_ptr<Song>& music, uint64_t at) {
            if (begins == Begins::Crossfade) {
                auto next = musicOf(other, 0, at);
                startCrossfade(m, *music, *next, 5000);
            } else {
                ASSERT_EQ(startEffect(m, at, other.data(), other.size(), 0, 0.2, 0), PlayError::None);
            }
        };
        std::vector<int16_t> expected, remixed;
        for (const bool late : {false, true}) {
            const auto m = std::make_unique<Mix>();
            setMusicDuck(*m, 0.5f);
            auto music = musicOf(demo, 0);
            if (begins == Begins::EffectOverEffect) {
                ASSERT_EQ(startEffect(*m, 0, other.data(), other.size(), 1, 0, 0), PlayError::None);
            }
            std::vector<int16_t> out = mixed(*m, *music, late ? from + ahead : from);
            begin(*m, music, from);
            if (late) {
                EXPECT_EQ(remixSamples(*m, *music, from, out.data() + from), ahead);
            }
            const std::vector<int16_t> rest = mixed(*m, *music, late ? after - ahead : after);
            out.insert(out.end(), rest.begin(), rest.end());
            (late ? remixed : expected) = out;
        }
        EXPECT_EQ(remixed, expected) << int(begins);
    }
}

// The player's effects and crossfades on the simulated platform, whose position moves only when the
// test moves it.
class PlayerMix : public ::testing::Test {
  protected:
    std::unique_ptr<Player> ownPlayer = std::make_unique<Player>();
    Player& p = *ownPlayer;
    TempFolder folder;
    std::string demo = demoTune("demo.sid");
    std::string other = folder.write("other.sid", songsThatEnd());
    std::vector<uint8_t> demoBytes, otherBytes = songsThatEnd();

    void SetUp() override {
        sim::reset();
        setQuickStart(p, 1.0f);
        ASSERT_EQ(readTune(FileName{demo.c_str()}, demoBytes).error, PlayError::None);
    }
    void TearDown() override {
        closePlayer(p);
        resetSettings(p);
        EXPECT_EQ(sim::live(), sim::LiveObjects{});
    }
    void playMusic() {
        sim::reset();  // (nothing is alive between the test's parts: the refills are counted afresh)
        ASSERT_TRUE(openPlayer(p));
        ASSERT_TRUE(startTune(p, demo.c_str(), 0));
        ASSERT_TRUE(sim::waitForRefills(2));  // the first half primed, the second made
    }
};

// A command's change is heard from kChangeLead past the sample the device took last, mixed as the
// mix makes it offline; what was made before it is kept, and the device hears no gap.
TEST_F(PlayerMix, AChangeIsHeardAtOnceAsTheMixMakesIt) {
    // A seek: the song from that time on (forward, and back to a time before the listener). A
    // tempo or a muted voice: the song made with it from the change point on.
    enum class Change { Effect, Crossfade, EffectThenStop, SeekForward, SeekBack, Tempo, Mute };
    for (const Change change : {Change::Effect, Change::Crossfade, Change::EffectThenStop,
                                Change::SeekForward, Change::SeekBack, Change::Tempo, Change::Mute}) {
        const bool seek = change == Change::SeekForward || change == Change::SeekBack;
        const bool setting = change == Change::Tempo || change == Change::Mute;
        const uint64_t seekTo = change == Change::SeekForward ? 3 * kSampleRate : 441;
        playMusic();
        setMusicDuck(p, 0.25f);
        std::vector<int16_t> heard = sim::listen(4410 * kBytesPerSample);
        const uint64_t at = 4410 + kChangeLead;
        if (change == Change::Crossfade) {
            ASSERT_TRUE(crossfadeTo(p, other.c_str(), 0, 0.1f));
            EXPECT_EQ(songNow(p), 1);
        } else if (seek) {
            ASSERT_TRUE(seekSong(p, float(seekTo) / kSampleRate));
        } else if (change == Change::Tempo) {
            setSpeed(p, 1.5f);
        } else if (change == Change::Mute) {
            setVoiceMuted(p, 2, 1.0f);
        } else {
            ASSERT_TRUE(playEffect(p, other.c_str(), 0, 0.2f));
            EXPECT_EQ(effectsHeard(p), 0);  // not yet
        }
        const uint64_t stopAt = 4410 + 1000 + kChangeLead;
        if (change == Change::EffectThenStop) {
            const std::vector<int16_t> more = sim::listen(1000 * kBytesPerSample);
            heard.insert(heard.end(), more.begin(), more.end());
            EXPECT_EQ(effectsHeard(p), 1);
            stopEffects(p);
        }
        const std::vector<int16_t> rest =
            sim::listen(uint32_t(3 * kBlockBytes - heard.size() * kBytesPerSample));
        heard.insert(heard.end(), rest.begin(), rest.end());
        EXPECT_EQ(effectsHeard(p), 0);

        const auto m = std::make_unique<Mix>();
        setMusicDuck(*m, 0.25f);
        auto music = musicOf(demoBytes, 0);
        std::vector<int16_t> expected = mixed(*m, *music, at);
        if (setting) {
            auto song = newSong();
            ASSERT_TRUE(beginTuneBytes(*song, demoBytes, 0));
            expected.assign(3 * kBlockSamples, 0);
            renderSong(*song, expected.data(), uint32_t(at));
            song->settings.speed = change == Change::Tempo ? speedOfRatio(1.5f, 0) : 0;
            song->machine.sid.mutedVoices = change == Change::Mute ? 0x02 : 0;
            renderSong(*song, expected.data() + at, uint32_t(3 * kBlockSamples - at));
        } else if (seek) {
            const std::vector<int16_t> song = alone(demoBytes, 0, seekTo + 3 * kBlockSamples - at);
            expected.insert(expected.end(), song.begin() + long(seekTo), song.end());
            EXPECT_EQ(songMilliseconds(p), int32_t((seekTo + 3 * kBlockSamples - at) * 1000 / kSampleRate));
        } else if (change == Change::Crossfade) {
            auto next = musicOf(otherBytes, 0, at);
            startCrossfade(*m, *music, *next, 4410);
        } else {
            ASSERT_EQ(startEffect(*m, at, otherBytes.data(), otherBytes.size(), 0, 0.2, 0), PlayError::None);
        }
        uint64_t upTo = 3 * kBlockSamples;
        if (change == Change::EffectThenStop) {
            const std::vector<int16_t> before = mixed(*m, *music, stopAt - at);
            expected.insert(expected.end(), before.begin(), before.end());
            stopEffects(*m, stopAt);
        }
        const std::vector<int16_t> after = mixed(*m, *music, upTo - expected.size());
        expected.insert(expected.end(), after.begin(), after.end());
        ASSERT_EQ(heard.size(), expected.size());
        const auto differ = std::mismatch(heard.begin(), heard.end(), expected.begin());
        EXPECT_EQ(differ.first, heard.end())
            << int(change) << ": from sample " << (differ.first - heard.begin());
        closePlayer(p);
        resetSettings(p);
        setQuickStart(p, 1.0f);
    }
}

// The effects' rules that are the player's: alone from Idle (the output closes once they are
// over), paused with the music, ended with it by a stop or a fade-out, and the reasons a play fails.
TEST_F(PlayerMix, TheEffectsRulesOfThePlayer) {
    // Alone: heard from the stream's first sample, and the output closed once the effect is over.
    ASSERT_TRUE(playEffect(p, other.c_str(), 0, 0.1f));
    EXPECT_EQ(playerState(p), PlayerState::Idle);
    EXPECT_EQ(effectsHeard(p), 1);
    EXPECT_EQ(sim::listen(4410 * kBytesPerSample), alone(otherBytes, 0, 4410));
    sim::listen(100 * kBytesPerSample);
    EXPECT_EQ(effectsHeard(p), 0);
    EXPECT_EQ(sim::live(), sim::LiveObjects{});

    // A crossfade from Idle: a play that rises from silence, no sample above its ramp.
    ASSERT_TRUE(crossfadeTo(p, other.c_str(), 0, 0.1f));
    EXPECT_EQ(playerState(p), PlayerState::Playing);
    const std::vector<int16_t> risen = sim::listen(4410 * kBytesPerSample), full = alone(otherBytes, 0, 4410);
    for (size_t i = 0; i < risen.size(); ++i) {
        ASSERT_EQ(risen[i], int16_t(std::round(float(full[i]) * (float(i) / 4410.0f)))) << i;
    }
    closePlayer(p);

    struct Case {
        const char* name;
        void (*end)(Player&);
        PlayerState after;
    };
    const Case cases[] = {
        {"paused with the music", [](Player& q) { pauseSong(q); }, PlayerState::Paused},
        {"stopped with it", [](Player& q) { closePlayer(q); }, PlayerState::Idle},
        {"faded out with it", [](Player& q) { fadePlayer(q, 0.0f, 0.0f, true); }, PlayerState::Idle},
    };
    for (const Case& c : cases) {
        playMusic();
        ASSERT_TRUE(playEffect(p, other.c_str(), 0, 0.0f));
        sim::listen(2000 * kBytesPerSample);
        ASSERT_EQ(effectsHeard(p), 1) << c.name;
        c.end(p);
        EXPECT_EQ(playerState(p), c.after) << c.name;
        EXPECT_EQ(effectsHeard(p), c.after == PlayerState::Paused ? 1 : 0) << c.name;
        EXPECT_FALSE(sim::streamPlaying()) << c.name;
        closePlayer(p);
    }

    // An effect while the music is paused: the stream plays again for it at once, the music silent,
    // and the music goes on from where it paused once it is resumed, its clock standing still
    // meanwhile.
    playMusic();
    sim::listen(4410 * kBytesPerSample);
    pauseSong(p);
    ASSERT_TRUE(playEffect(p, other.c_str(), 0, 0.3f));
    EXPECT_TRUE(sim::streamPlaying());
    EXPECT_EQ(playerState(p), PlayerState::Paused);
    EXPECT_EQ(sim::listen(8820 * kBytesPerSample), alone(otherBytes, 0, 8820));
    EXPECT_EQ(songMilliseconds(p), 100);
    resumeSong(p);
    EXPECT_EQ(playerState(p), PlayerState::Playing);
    const uint64_t resumedAt = 4410 + 8820 + kChangeLead;  // where the music goes on
    const std::vector<int16_t> after = sim::listen(2 * kBlockBytes);
    const std::vector<int16_t> music = alone(demoBytes, 0, 3 * kBlockSamples);
    const size_t quiet = 4410 + 13230 + kDuckSamples;  // the effect and its duck over
    for (size_t i = quiet; i < 4410 + 8820 + after.size(); ++i) {
        ASSERT_EQ(after[i - 4410 - 8820], music[i - (resumedAt - 4410)]) << i;
    }
    EXPECT_EQ(songMilliseconds(p),
              int32_t((4410 + 8820 + after.size() - (resumedAt - 4410)) * 1000 / kSampleRate));
    // A crossfade after it: the new song from the change point on, its clock from 0.
    ASSERT_TRUE(crossfadeTo(p, other.c_str(), 0, 0.1f));
    EXPECT_EQ(songMilliseconds(p), 0);
    const std::vector<int16_t> faded = sim::listen(kBlockBytes);
    EXPECT_EQ(songMilliseconds(p), int32_t((kBlockSamples - kChangeLead) * 1000 / kSampleRate));
    const std::vector<int16_t> nextAlone = alone(otherBytes, 0, kBlockSamples);
    EXPECT_TRUE(std::equal(faded.end() - 4410, faded.end(), nextAlone.end() - long(4410 + kChangeLead)));
    closePlayer(p);

    // A device that holds what it took, not yet heard (a sound server), takes it again from the
    // change point on: the effect is heard that much sooner.
    playMusic();
    sim::listen(4410 * kBytesPerSample);
    sim::holdNotYetHeard(3000 * kBytesPerSample);
    ASSERT_TRUE(playEffect(p, other.c_str(), 0, 0.0f));
    EXPECT_EQ(sim::countCalls(sim::at("RetakeFrom", uint32_t(4410 - 3000 + kChangeLead) * kBytesPerSample)),
              1);
    sim::holdNotYetHeard(0);
    closePlayer(p);

    playMusic();
    const std::string notATune = folder.write("not.sid", {'P', 'S', 'I'});
    for (const auto& [file, song, error] :
         {std::tuple{other, 5, PlayError::NoSuchSong}, std::tuple{other, -1, PlayError::NoSuchSong},
          std::tuple{notATune, 0, PlayError::NotATune},
          std::tuple{folder.path().string() + "/none.sid", 0, PlayError::Unreadable}}) {
        EXPECT_FALSE(playEffect(p, file.c_str(), song, 0.0f)) << file;
        EXPECT_EQ(lastPlayError(p), error) << file;
        EXPECT_FALSE(crossfadeTo(p, file.c_str(), song, 1.0f)) << file;
        EXPECT_EQ(lastPlayError(p), error) << file;
        EXPECT_EQ(playerState(p), PlayerState::Playing) << file;  // the music plays on untouched
    }
}

}  // namespace
}  // namespace sidtune::test
