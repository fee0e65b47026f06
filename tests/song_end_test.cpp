// When a song ends: the song-length database (its parser over real-shaped lines, and the MD5 that
// keys it), the silence rule, and the player's end modes, sample for sample on the simulated
// platform: a stop at the length's sample, the next song from its start at the end's sample, and
// an end found where a tune falls silent.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <set>
#include <string>
#include <vector>

#include "audio/audio_output.h"
#include "engine/player.h"
#include "engine/silence.h"
#include "engine/song_stream.h"
#include "sim/listening.h"
#include "sim/platform_sim.h"
#include "test_support.h"
#include "tune/md5.h"
#include "tune/song_lengths.h"

namespace sidtune::test {
namespace {

// The test vectors of RFC 1321.
TEST(Md5, TheStandardVectors) {
    const std::pair<std::string, std::string> vectors[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& [text, digest] : vectors) {
        EXPECT_EQ(toHex(md5(reinterpret_cast<const uint8_t*>(text.data()), text.size())), digest) << text;
    }
}

Md5 digestOf(const std::string& hex) {
    Md5 d{};
    for (size_t i = 0; i < 16; ++i) d[i] = uint8_t(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
    return d;
}

// Lines as real copies of the database hold them, good and bad: each tune's lengths, in order, 0
// for a time that cannot be read; the lines and times skipped, for the tools' warnings.
TEST(SongLengths, TheParserTakesWhatRealCopiesHold) {
    const std::string a = "d52384836e2c764f54b64503ce15546d", b = "0fac725dc5d6953a6c4b0f149a196e96";
    struct Case {
        const char* name;
        std::string text;
        std::vector<uint32_t> lengthsOfA;  // empty: not in the database
        size_t lines = 0, firstLine = 0;   // lines skipped, and the first's number
        size_t times = 0;                  // times not read
    };
    const Case cases[] = {
        {"the section and a comment",
         "[Database]\n; /MUSICIANS/H/Hubbard_Rob/Commando.sid\n" + a + "=3:47\n",
         {227000}},
        {"CR LF", "[Database]\r\n" + a + "=0:48 1:02\r\nmd5=4\r\n", {48000, 62000}, 1, 3},
        {"milliseconds", a + "=0:48.5 0:01.123 2:03.05\n", {48500, 1123, 123050}},
        {"attributes after a time", a + "=3:47(G) 0:12(M)\n", {227000, 12000}},
        {"capitals and blanks",
         "  " + std::string("D52384836E2C764F54B64503CE15546D") + "=1:00  \t0:30\n",
         {60000, 30000}},
        {"a time that cannot be read keeps its song",
         a + "=1:00 x:yz 0:61 2:00\n",
         {60000, 0, 0, 120000},
         0,
         0,
         2},
        {"times of other forms", a + "=0:4 4s 1:02:03 00:04\n", {0, 0, 0, 4000}, 0, 0, 3},
        {"no line end at the end", a + "=0:05", {5000}},
        {"a key too short", a.substr(1) + "=1:00\n", {}, 1, 1},
        {"no key", "# a comment\n=1:00\n", {}, 1, 2},
        {"not hexadecimal", std::string("g52384836e2c764f54b64503ce15546d") + "=1:00\n", {}, 1, 1},
        {"the last line of a key wins", a + "=1:00\n" + a + "=2:00\n", {120000}},
        {"blank lines and another tune", "\n\n" + b + "=9:59\n\n" + a + "=0:01\n", {1000}},
        {"binary", std::string("\0\xFF\x01=\n", 5), {}, 1, 1},
        {"a byte order mark before the first line", "\xEF\xBB\xBF" + a + "=0:05\n", {5000}},
        {"CR alone ends a line", "[Database]\r" + b + "=0:01\r" + a + "=0:48\r", {48000}},
        {"times too long for a script are unknown",
         a + "=99999:59.999 35791:23.648 35791:23.647\n",
         {0, 0, 2147483647},
         0,
         0,
         2},
        {"no more times than a tune has songs",
         a + "=" +
             [] {
                 std::string times;
                 for (int i = 0; i < 300; ++i) times += "0:01 ";
                 return times;
             }(),
         std::vector<uint32_t>(kMostSongs, 1000)},
    };
    for (const Case& c : cases) {
        SongLengthDatabase db;
        parseSongLengths(c.text.data(), c.text.size(), db);
        const auto found = db.tunes.find(digestOf(a));
        if (c.lengthsOfA.empty()) {
            EXPECT_EQ(found, db.tunes.end()) << c.name;
        } else {
            ASSERT_NE(found, db.tunes.end()) << c.name;
            EXPECT_EQ(found->second, c.lengthsOfA) << c.name;
        }
        EXPECT_EQ(db.skipped.lines, c.lines) << c.name;
        EXPECT_EQ(db.skipped.firstLine, c.firstLine) << c.name;
        EXPECT_EQ(db.skipped.times, c.times) << c.name;
    }
    SongLengthDatabase db;
    const std::string text = a + "=1:00 2:00\n";
    parseSongLengths(text.data(), text.size(), db);
    EXPECT_EQ(songLength(db, digestOf(a), 1), 120000u);
    EXPECT_EQ(songLength(db, digestOf(a), 2), 0u);  // no such song
    EXPECT_EQ(songLength(db, digestOf(b), 0), 0u);  // no such tune
    // Digests alike but for their last bytes still spread over the table.
    std::set<size_t> hashes;
    for (uint32_t i = 0; i < 1000; ++i) {
        Md5 d = digestOf(a);
        d[14] = uint8_t(i >> 8);
        d[15] = uint8_t(i);
        hashes.insert(Md5Hash{}(d));
    }
    EXPECT_EQ(hashes.size(), 1000u);
}

// What is not a database gives none, at once: a folder, a FIFO, a file that is too large.
TEST(SongLengths, WhatIsNoDatabase) {
    TempFolder folder;
    const std::string huge = (folder.path() / "huge").string();
    std::filesystem::resize_file(folder.write("huge", {}), kLargestSongLengthFile + 1);
    std::vector<std::string> paths = {folder.path().string(), huge, (folder.path() / "none").string()};
#ifndef _WIN32
    paths.push_back((folder.path() / "fifo").string());
    ASSERT_EQ(mkfifo(paths.back().c_str(), 0600), 0);
#endif
    for (const std::string& path : paths) {
        SongLengthDatabase db;
        EXPECT_NE(readSongLengths(utf8Name(path), db).status, TuneFileStatus::Read) << path;
    }
}

// The silence rule: the end is where the sound last left the swing, once the silence has lasted
// three seconds; a sound that never swung ends three seconds after the start.
TEST(SilenceWatch, FindsWhereTheSoundFellSilent) {
    struct Case {
        const char* name;
        std::vector<std::pair<uint64_t, int16_t>> steps;  // from sample n on, the value v
        uint64_t end;                                     // kNoEnd: not ended
    };
    const Case cases[] = {
        {"silent from the start", {{0, 0}}, kSilenceToEnd},
        {"a constant level is silence", {{0, 5000}}, kSilenceToEnd},
        {"sound, then silence", {{0, 10000}, {1000, -10000}, {2000, 0}}, 2000},
        {"within the swing, exactly", {{0, 0}, {500, kSilentSwing}, {600, 0}}, kSilenceToEnd},
        {"one past it", {{0, 0}, {500, kSilentSwing + 1}, {600, 0}}, 600},
        {"silence that does not last",
         {{0, 0}, {kSilenceToEnd - 10, 20000}, {kSilenceToEnd, 0}},
         kSilenceToEnd},
    };
    for (const Case& c : cases) {
        SilenceWatch watch;
        std::vector<int16_t> samples(3 * kSilenceToEnd);
        for (size_t i = 0, s = 0; i < samples.size(); ++i) {
            if (s + 1 < c.steps.size() && i >= c.steps[s + 1].first) ++s;
            samples[i] = c.steps[s].second;
        }
        uint64_t end = kNoEnd;
        for (size_t at = 0; at < samples.size() && end == kNoEnd; at += 1000) {
            if (watch.feed(samples.data() + at, 1000)) end = watch.end();
        }
        EXPECT_EQ(end, c.end) << c.name;
    }
}

class SongEndTest : public ::testing::Test {
  protected:
    std::unique_ptr<Player> ownPlayer = std::make_unique<Player>();
    Player& player = *ownPlayer;
    TempFolder folder;
    std::string tune = folder.write("ends.sid", songsThatEnd());

    void SetUp() override {
        sim::reset();
        // Song 1 lasts 0.7 s; song 2 has no length.
        const std::vector<uint8_t> bytes = songsThatEnd();
        const std::string db = "[Database]\n" + toHex(md5(bytes.data(), bytes.size())) + "=0:00.700 x\n";
        ASSERT_EQ(loadSongLengths(player, folder.write("Songlengths.md5", {db.begin(), db.end()})), 1);
        setQuickStart(player, true);
    }
    void TearDown() override {
        closePlayer(player);
        resetSettings(player);
        EXPECT_EQ(sim::live(), sim::LiveObjects{});
    }
    // Song `song` (from 0) of the tune, as the tools make it, `samples` long.
    std::vector<int16_t> render(int32_t song, size_t samples) {
        const auto offline = newSong();
        EXPECT_TRUE(beginTuneFile(*offline, tune, song));
        std::vector<int16_t> out(samples);
        renderSong(*offline, out.data(), uint32_t(samples));
        return out;
    }
};

using sim::listen;

// The end modes, each from the stream's first sample (the quick start): "stop" is the song for its
// length and silence after it; "next" is song 1 for its length and song 2 from its start at once;
// song 2's end, found where it fell silent, is heard as the end.
TEST_F(SongEndTest, TheEndModesToTheSample) {
    const size_t length = size_t(lengthSamples(700));
    setEndMode(player, 1.0f);
    ASSERT_TRUE(openPlayer(player));
    ASSERT_TRUE(startTune(player, tune.c_str(), 0));
    EXPECT_EQ(songLengthNow(player), 700);
    std::vector<int16_t> expected = render(0, length);
    expected.resize(2 * kBlockSamples, 0);
    EXPECT_EQ(listen(uint32_t(length + 10) * kBytesPerSample),
              std::vector(expected.begin(), expected.begin() + long(length) + 10));
    EXPECT_TRUE(songEnded(player));
    EXPECT_EQ(playerState(player), PlayerState::Idle);  // stopped at the end
    EXPECT_TRUE(songEnded(player));                     // and it stays ended until the next command
    EXPECT_EQ(endsHeard(player), 1);
    // The device is released once what it held has played out, a quarter of a second on.
    EXPECT_EQ(sim::live().devices, 1);
    EXPECT_EQ(listen(uint32_t(kSampleRate / 4) * kBytesPerSample), std::vector<int16_t>(kSampleRate / 4));
    EXPECT_EQ(playerState(player), PlayerState::Idle);
    EXPECT_EQ(sim::live(), sim::LiveObjects{});

    // Song 2 falls silent at its 60th frame, 59 x 882 samples in: its end, found by the silence,
    // and after the last song comes the first again.
    setEndMode(player, 2.0f);
    ASSERT_TRUE(openPlayer(player));
    ASSERT_TRUE(startTune(player, tune.c_str(), 0));
    EXPECT_FALSE(songEnded(player));
    expected = render(0, length);
    for (const std::vector<int16_t>& next : {render(1, 59 * 882), render(0, 5 * kBlockSamples)})
        expected.insert(expected.end(), next.begin(), next.end());
    expected.resize(5 * kBlockSamples);
    std::vector<int16_t> heard = listen(3 * kBlockBytes);
    EXPECT_EQ(songNow(player), 2);
    EXPECT_EQ(songLengthNow(player), 0);  // the database gives song 2 none
    EXPECT_FALSE(songEnded(player));      // the new song has not ended
    EXPECT_EQ(endsHeard(player), 1);      // but the end it followed is counted
    const std::vector<int16_t> more = listen(2 * kBlockBytes);
    heard.insert(heard.end(), more.begin(), more.end());
    EXPECT_EQ(heard, expected);
    EXPECT_EQ(songNow(player), 1);
    EXPECT_EQ(endsHeard(player), 2);
    closePlayer(player);
    EXPECT_FALSE(songEnded(player));  // a stop command: no longer
    EXPECT_EQ(endsHeard(player), 0);

    // "loop": song 1 again from its start at each end, its time from 0 with each pass, never ended.
    setEndMode(player, 3.0f);
    ASSERT_TRUE(openPlayer(player));
    ASSERT_TRUE(startTune(player, tune.c_str(), 0));
    expected.clear();
    for (int pass = 0; pass < 4; ++pass) {
        const std::vector<int16_t> song = render(0, length);
        expected.insert(expected.end(), song.begin(), song.end());
    }
    heard = listen(uint32_t(3 * length + 441) * kBytesPerSample);
    EXPECT_EQ(heard, std::vector(expected.begin(), expected.begin() + long(heard.size())));
    EXPECT_EQ(songMilliseconds(player), 10);
    EXPECT_FALSE(songEnded(player));
    EXPECT_EQ(endsHeard(player), 3);
}

// Nothing changes for a play that uses none of this: the end mode "on" plays on past the end, and
// the end is heard when the listener gets to it, from the database or from the silence.
TEST_F(SongEndTest, PlayingOnPastTheEnd) {
    for (int32_t song : {0, 1}) {
        ASSERT_TRUE(openPlayer(player));
        ASSERT_TRUE(startTune(player, tune.c_str(), song));
        const size_t end = song == 0 ? size_t(lengthSamples(700)) : 59 * 882;
        std::vector<int16_t> heard = listen(uint32_t(end - 10) * kBytesPerSample);
        EXPECT_FALSE(songEnded(player)) << song;
        const std::vector<int16_t> more =
            listen(uint32_t(3 * kBlockSamples - heard.size()) * kBytesPerSample);
        heard.insert(heard.end(), more.begin(), more.end());
        EXPECT_TRUE(songEnded(player)) << song;
        EXPECT_EQ(heard, render(song, 3 * kBlockSamples)) << song;
        EXPECT_EQ(playerState(player), PlayerState::Playing);
    }
    // The end is the song's, whatever is muted: song 2 with every voice muted still ends where
    // its sound fell silent, not three seconds after the mutes.
    for (int32_t voice = 1; voice <= 3; ++voice) setVoiceMuted(player, voice, 1.0f);
    ASSERT_TRUE(openPlayer(player));
    ASSERT_TRUE(startTune(player, tune.c_str(), 1));
    listen(uint32_t(59 * 882 - 10) * kBytesPerSample);
    EXPECT_FALSE(songEnded(player));
    listen(20 * kBytesPerSample);
    EXPECT_TRUE(songEnded(player));
}

}  // namespace
}  // namespace sidtune::test
