// The sidtune command-line tool, run as a user runs it: the WAV it writes holds exactly what the
// player makes, and bad input gives a one-line error, exit code 1 and no output file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "engine/song_stream.h"
#include "program_support.h"
#include "test_support.h"
#include "tune/md5.h"
#include "tune_check.h"
#include "voice_view.h"
#include "wav_file.h"
#include "wav_reading.h"

namespace sidtune::test {
namespace {

namespace fs = std::filesystem;

class ToolTest : public ProgramTest {
  protected:
    // sidtune with these arguments, or (tool false) the command line as it is.
    ProgramRun run(const std::string& arguments, bool tool = true) {
        return runCommand(tool ? std::string(SIDTUNE_TOOL) + " " + arguments : arguments);
    }
    std::string demo(const char* file) { return demoTune(file); }
    // Files a render left half-made in the test's folder.
    int temporaryFiles() {
        int n = 0;
        for (const auto& entry : fs::directory_iterator(dir)) n += entry.path().extension() == ".tmp";
        return n;
    }
};

// The render is the player's blocks, made with the player's settings as the plugin makes them
// (the tempo, muted voices), and a fade-out is those blocks with the fade's gain: the volume's value
// falls evenly to nothing over the last seconds, and it is the samples' gain.
TEST_F(ToolTest, RenderWritesWholeBlocksExactlyAsThePlayerMakesThem) {
    struct Case {
        std::string options;
        double speed;
        uint8_t muted;
        double fadeOut;
        uint64_t start = 0;  // samples of the song left out, as SeekSidtune leaves them out
        bool faithful = false;
    };
    const Case cases[] = {
        {"", 1.0, 0, 0},
        {"--speed 1", 1.0, 0, 0},
        {"--speed 2 --mute 1,3", 2.0, 0x05, 0},
        {"--speed 0.25 --mute 2", 0.25, 0x02, 0},
        {"--fade-out 0.7", 1.0, 0, 0.7},
        {"--start 0.30001", 1.0, 0, 0, 13230},
        {"--start 2.5 --speed 2", 2.0, 0, 0, 110250},
        {"--faithful --speed 1.5", 1.5, 0, 0, 0, true},
    };
    const std::vector<int16_t> plain = [&] {
        const auto song = newSong();
        EXPECT_TRUE(beginTuneFile(*song, demo("effects.sid"), 1));  // --song 2 is the player's song 1
        return renderBlocks(*song, 3);
    }();
    for (const Case& c : cases) {
        const fs::path wav = dir / "effects.wav";
        const ProgramRun r =
            run("render " + demo("effects.sid") + " -o " + wav.string() + " -t 1.2 --song 2 " + c.options);
        ASSERT_EQ(r.exitCode, 0) << c.options << ": " << r.err;
        // No progress bar without a terminal; 1.2 s is made in whole blocks, and said so.
        EXPECT_EQ(r.err,
                  "sidtune: 1.2 s made as 1.5 s, in whole half-second blocks as the player makes them\n");
        const std::vector<int16_t> samples = readWav(wav);
        ASSERT_EQ(samples.size(), 3 * kBlockSamples) << c.options;  // ceil(2 x 1.2) blocks

        const auto song = newSong();
        song->settings.speed = uint32_t(c.speed * kNormalSpeed);
        song->settings.mutedVoices = c.muted;
        song->settings.faithful = c.faithful;
        ASSERT_TRUE(beginTuneFile(*song, demo("effects.sid"), 1));
        std::vector<int16_t> unheard(c.start);
        renderSong(*song, unheard.data(), uint32_t(c.start));
        std::vector<int16_t> expected = renderBlocks(*song, 3);
        const size_t fade = size_t(std::lround(c.fadeOut * kSampleRate));
        for (size_t i = expected.size() - fade; i < expected.size(); ++i)
            expected[i] = int16_t(std::lround(expected[i] * double(expected.size() - i) / double(fade + 1)));
        EXPECT_EQ(samples, expected) << c.options;
        // Settings that change something do: the plain render is another.
        EXPECT_EQ(samples == plain, c.options.empty() || c.options == "--speed 1") << c.options;
    }
}

// The terminal player's view of the voices, from a fixed frame: the notes of equal temperament
// from the chip's own pace, the waveforms, the levels' bars, the filter; within 79 columns.
TEST(VoiceView, TheTextOfAFixedFrame) {
    EXPECT_EQ(noteName(440.0), "A-4");
    EXPECT_EQ(noteName(261.63), "C-4");
    EXPECT_EQ(noteName(277.18 * 1.01), "C#4");  // within a quarter tone
    EXPECT_EQ(noteName(15.0), "---");           // below C0
    EXPECT_EQ(noteName(0.0), "---");

    SidChip chip{};
    chip.sampleRate = kSampleRate;
    chip.phaseScale = 15872000 / kSampleRate;
    auto set = [&](int v, SidRegister r, uint8_t value) {
        chip.registers.bytes[voiceRegister(v, r)] = value;
    };
    // 440 Hz at the chip's pace is F = 440 x 2^28 / (phaseScale x 44100): 7460.
    set(0, SidRegister::FrequencyLow, 7460 & 0xFF);
    set(0, SidRegister::FrequencyHigh, 7460 >> 8);
    set(0, SidRegister::Control, 0x41);
    set(1, SidRegister::Control, 0x14);
    chip.registers.bytes[sidRegister(SidRegister::CutoffHigh)] = 0x80;
    chip.registers.bytes[sidRegister(SidRegister::ResonanceRouting)] = 0xF5;
    chip.registers.bytes[sidRegister(SidRegister::ModeVolume)] = 0x3F;
    const std::array<std::string, 4> lines = voiceLines(chip, {255, 128, 0});
    EXPECT_EQ(lines[0], "  voice 1  ################################  255  A-4  pulse gate              ");
    EXPECT_EQ(lines[1], "  voice 2  ################................  128  ---  tri ring                ");
    EXPECT_EQ(lines[2], "  voice 3  ................................    0  ---  -                       ");
    EXPECT_EQ(lines[3], "  filter   cut-off 1024  resonance 15  low+band-pass  voices 1 3    volume 15");
    for (const std::string& line : lines) EXPECT_LE(line.size(), 79u) << line;
}

// Inputs that are no tune: one line naming the cause on stderr, exit code 1, nothing on stdout and
// no output file, from every command that reads a tune; a FIFO is refused at once (nothing writes
// to it: opened the usual way it would block the tool for ever).
TEST_F(ToolTest, InputPaths) {
    const fs::path wav = dir / "out.wav";
    const std::string notPsid = (dir / "not.sid").string();
    std::ofstream(notPsid) << "RSID and then some more bytes, but not a tune";
    const std::string unreadable = (dir / "secret.sid").string();
    fs::copy_file(demo("demo.sid"), unreadable);
    fs::permissions(unreadable, fs::perms::none);
    const bool rootReadsAnyway = std::ifstream(unreadable).good();
    const std::string fifo = (dir / "fifo.sid").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);

    struct Case {
        std::string name;
        std::string tune;
        std::string reason;  // in the message
    };
    std::vector<Case> cases = {
        {"missing", (dir / "none.sid").string(), "No such file or directory"},
        {"not_psid", notPsid, "is not a PSID tune"},
        {"folder", dir.string(), "is a directory"},
        {"fifo", fifo, "is not a regular file"},
        {"device", "/dev/zero", "is not a regular file"},
    };
    if (!rootReadsAnyway) cases.push_back({"unreadable", unreadable, "Permission denied"});
    // Malformed tunes: empty, 3 bytes, the wrong magic; and tunes cut short: "PSID" alone, 60 bytes, a
    // header cut at 117 bytes, a data offset past the end.
    const std::string tune = slurp(demo("demo.sid"));
    std::string offsetPastEnd = tune.substr(0, 130);
    offsetPastEnd[7] = char(200);
    std::string wrongMagic = tune;
    wrongMagic[0] = 'X';
    for (const auto& [name, bytes, reason] : std::vector<std::tuple<std::string, std::string, std::string>>{
             {"empty.sid", "", "is not a PSID tune"},
             {"three.sid", "PSI", "is not a PSID tune"},
             {"magic.sid", wrongMagic, "is not a PSID tune"},
             {"four.sid", "PSID", "is a PSID tune cut short"},
             {"60.sid", tune.substr(0, 60), "is a PSID tune cut short"},
             {"117.sid", tune.substr(0, 117), "is a PSID tune cut short"},
             {"offset.sid", offsetPastEnd, "is a PSID tune cut short"}}) {
        std::ofstream(dir / name, std::ios::binary) << bytes;
        cases.push_back({"malformed " + name, (dir / name).string(), reason});
    }
    for (const Case& c : cases) {
        for (const std::string& command :
             {"render " + c.tune + " -o " + wav.string() + " -t 1", "info " + c.tune,
              "render " + demo("demo.sid") + " -o " + wav.string() + " -t 1 --effect " + c.tune + ":1@0.5",
              "play " + c.tune + " --seconds 1 --plugin " + SIDTUNE_SIM_PLUGIN}) {
            const ProgramRun r = run("timeout 10 " + std::string(SIDTUNE_TOOL) + " " + command, false);
            EXPECT_EQ(r.exitCode, 1) << c.name << ": " << command;
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << c.name << ": " << r.err;
            EXPECT_NE(r.err.find(c.reason), std::string::npos) << c.name << ": " << r.err;
            EXPECT_EQ(r.out, "") << c.name;
            EXPECT_FALSE(fs::exists(wav)) << c.name;
        }
    }
    // An RSID tune is named before info says why it does not play.
    Psid rsid;
    rsid.magic = "RSID", rsid.name = "Blues";
    const std::vector<uint8_t> rsidBytes = rsid.bytes();
    std::ofstream(dir / "rsid.sid", std::ios::binary)
        .write(reinterpret_cast<const char*>(rsidBytes.data()), long(rsidBytes.size()));
    const ProgramRun r = run("info " + (dir / "rsid.sid").string());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "\"Blues\" by Someone, released 2026 Us\n");
    EXPECT_NE(r.err.find("is not a PSID tune: an RSID tune"), std::string::npos) << r.err;
}

// Where a render goes: a regular file is replaced only once it is complete, a link keeps pointing
// at the file it names, and nothing the tool did not create is ever removed, whatever fails.
TEST_F(ToolTest, OutputPaths) {
    const std::string input = (dir / "tune.sid").string();
    fs::copy_file(demo("demo.sid"), input);
    std::ofstream(dir / "old.wav") << "old";
    fs::permissions(dir / "old.wav", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_symlink("old.wav", dir / "link.wav");
    struct Case {
        std::string name;
        std::string output;
        int exitCode;
        std::string reason;           // in the message, when it fails
        std::function<void()> check;  // what is there afterwards
    };
    auto isTheRender = [&](const fs::path& path) {
        EXPECT_EQ(readWav(path).size(), 2 * kBlockSamples) << path;
    };
    const Case cases[] = {
        {"new_file", (dir / "new.wav").string(), 0, "", [&] { isTheRender(dir / "new.wav"); }},
        {"replaced_file_keeps_its_permissions", (dir / "old.wav").string(), 0, "",
         [&] {
             isTheRender(dir / "old.wav");
             EXPECT_EQ(fs::status(dir / "old.wav").permissions(),
                       fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
         }},
        {"link_stays_a_link", (dir / "link.wav").string(), 0, "",
         [&] {
             EXPECT_TRUE(fs::is_symlink(dir / "link.wav"));
             isTheRender(dir / "old.wav");
         }},
        {"stdout_written_through", "/dev/stdout", 0, "", [&] { isTheRender(dir / "out"); }},
        {"dash_is_standard_output", "-", 0, "", [&] { isTheRender(dir / "out"); }},
        {"the_input_itself", input, 1, "the output is the tune being read",
         [&] { EXPECT_EQ(slurp(input), slurp(demo("demo.sid"))); }},
        {"full_device_stays", "/dev/full", 1, "No space left on device",
         [&] { EXPECT_TRUE(fs::is_character_file("/dev/full")); }},
        {"no_such_folder", (dir / "none" / "x.wav").string(), 1, "No such file or directory", [] {}},
    };
    for (const Case& c : cases) {
        const ProgramRun r = run("render " + input + " -o " + c.output + " -t 1");
        EXPECT_EQ(r.exitCode, c.exitCode) << c.name << ": " << r.err;
        EXPECT_NE(r.err.find(c.reason), std::string::npos) << c.name << ": " << r.err;
        c.check();
        EXPECT_EQ(temporaryFiles(), 0) << c.name;
    }
}

// Usage errors: one message and exit code 2, whatever the mistake, with the nearest option or
// command where the mistake is a slip; a bare call prints the usage, "help" too.
TEST_F(ToolTest, UsageErrors) {
    const std::string tune = demo("demo.sid");
    struct Case {
        std::string arguments;
        std::string message;
    };
    const Case cases[] = {
        {"bogus " + tune, "unknown command 'bogus'\n"},
        {"rendr " + tune, "unknown command 'rendr'; did you mean 'render'?"},
        {"help plya", "unknown command 'plya'; did you mean 'play'?"},
        {"render " + tune + " -t 1", "--output is required"},
        {"render " + tune + " -o x.wav", "render needs --seconds, or --lengths for the song's own"},
        {"render " + tune + " -o x.wav -t many", "many"},
        {"render " + tune + " -o x.wav --secs 2", "unknown option '--secs'; did you mean '--seconds'?"},
        {"check " + tune + " --jbos 2", "unknown option '--jbos'; did you mean '--jobs'?"},
        {"info " + tune + " --loud", "unknown option '--loud'\n"},
        {"play " + tune + " --seconds -1", "--seconds"},
        {"play " + tune + " --seconds nan", "--seconds"},
        {"play " + tune + " --speed 5", "must be a number from 0.25 to 4"},
        {"play " + tune + " --end later", "--end"},
        {"render " + tune + " -o " + (dir / "x.wav").string() + " -t 48696", "at most 48695.5"},
        {"render " + tune + " -o x.wav -t 1 --effect " + tune + "@1", "is not FILE:SONG@SECONDS[:LENGTH]"},
        {"render " + tune + " -o x.wav -t 1 --effect " + tune + ":1@-1", "is not FILE:SONG@SECONDS[:LENGTH]"},
        {"render " + tune + " -o x.wav -t 1 --crossfade " + tune + ":2@1",
         "is not FILE:SONG@SECONDS:DURATION"},
    };
    for (const Case& c : cases) {
        const ProgramRun r = run(c.arguments);
        EXPECT_EQ(r.exitCode, 2) << c.arguments << ": " << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.arguments << ": " << r.err;
        EXPECT_NE(r.err.find("run with --help"), std::string::npos) << c.arguments;
    }
    const ProgramRun bare = run("");
    EXPECT_EQ(bare.exitCode, 2);
    EXPECT_EQ(bare.out, "");
    EXPECT_NE(bare.err.find("usage: sidtune COMMAND [OPTIONS] (info, render, play, check)"),
              std::string::npos)
        << bare.err;
    const ProgramRun helpHelp = run("help help");
    EXPECT_EQ(helpHelp.exitCode, 0);
    EXPECT_NE(helpHelp.out.find("Usage: sidtune help [COMMAND]"), std::string::npos) << helpHelp.out;
    for (const char* help : {"--help", "help"}) {
        const ProgramRun r = run(help);
        EXPECT_EQ(r.exitCode, 0) << help;
        EXPECT_NE(r.out.find("Exit codes:"), std::string::npos) << help;
    }
    // The help of a command: its example, and no type tags.
    const ProgramRun renderHelp = run("help render");
    EXPECT_EQ(renderHelp.exitCode, 0);
    EXPECT_NE(renderHelp.out.find("Example: sidtune render"), std::string::npos) << renderHelp.out;
    EXPECT_NE(renderHelp.out.find("--mute V,... "), std::string::npos) << renderHelp.out;
    EXPECT_EQ(renderHelp.out.find("V,... ..."), std::string::npos) << renderHelp.out;
    for (const char* tag : {"TEXT", "FLOAT", "UINT", "INT"}) {
        EXPECT_EQ(renderHelp.out.find(std::string(tag) + ":"), std::string::npos) << tag;
    }
    EXPECT_EQ(run("--version").out, std::string("sidtune ") + SIDTUNE_VERSION + "\n");
    // Every help, and so every manual page, fits 80 columns.
    for (const std::string& help :
         {std::string(SIDTUNE_TOOL) + " --help", std::string(SIDTUNE_TOOL) + " help info",
          std::string(SIDTUNE_TOOL) + " help render", std::string(SIDTUNE_TOOL) + " help play",
          std::string(SIDTUNE_TOOL) + " help check", std::string(SIDTUNE_QUENBRIX_RUN) + " --help"}) {
        std::istringstream lines(run(help, false).out);
        for (std::string line; std::getline(lines, line);)
            EXPECT_LE(line.size(), 80u) << help << ": " << line;
    }
}

// A song-length database in the tools: info lists the lengths, render makes a song for its length
// to the sample, check renders each for its length (at most its seconds) and reports it.
TEST_F(ToolTest, SongLengthsInTheTools) {
    const std::string tune = demo("effects.sid");
    const std::string bytes = slurp(tune);
    const std::string db = "[Database]\r\n" +
                           toHex(md5(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size())) +
                           "=0:01.250 x 0:40\r\n";
    const std::string lengths = folder.write("Songlengths.md5", {db.begin(), db.end()});
    EXPECT_NE(
        run("info " + tune + " --lengths " + lengths).out.find("lengths:   1 0:01.250 2 unknown 3 0:40.000"),
        std::string::npos);

    const fs::path wav = dir / "song.wav";
    ASSERT_EQ(run("render " + tune + " --lengths " + lengths + " -o " + wav.string()).exitCode, 0);
    const auto song = newSong();
    ASSERT_TRUE(beginTuneFile(*song, tune));
    std::vector<int16_t> expected(size_t(lengthSamples(1250)));
    renderSong(*song, expected.data(), uint32_t(expected.size()));
    EXPECT_EQ(readWav(wav), expected);
    const ProgramRun unknown =
        run("render " + tune + " --song 2 --lengths " + lengths + " -o " + wav.string());
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_NE(unknown.err.find("gives no length for song 2"), std::string::npos) << unknown.err;

    std::istringstream lines(run("check " + tune + " --lengths " + lengths + " --seconds 2 --json").out);
    std::vector<uint32_t> reported;
    for (std::string line; std::getline(lines, line);)
        reported.push_back(nlohmann::json::parse(line)["lengthMs"]);
    EXPECT_EQ(reported, (std::vector<uint32_t>{1250, 0, 40000}));

    // A database that cannot be read is said, with the reason, by every command that takes one.
    const std::string none = (dir / "none.md5").string();
    for (const std::string& command : {"info " + tune + " --lengths " + none,
                                       "render " + tune + " --lengths " + none + " -o " + wav.string(),
                                       "check " + tune + " --lengths " + none}) {
        const ProgramRun r = run(command);
        EXPECT_EQ(r.exitCode, 1) << command;
        EXPECT_NE(r.err.find("cannot read the song lengths " + none + ": No such file or directory"),
                  std::string::npos)
            << command << ": " << r.err;
    }
    // One that holds no entries (a tune given for it, say) is a warning, not a failure.
    for (const std::string& command :
         {"info " + tune + " --lengths " + tune, "check " + tune + " --lengths " + tune}) {
        const ProgramRun r = run(command);
        EXPECT_EQ(r.exitCode, 0) << command;
        EXPECT_NE(r.err.find("sidtune: warning: " + tune + " holds no song lengths"), std::string::npos)
            << command << ": " << r.err;
    }
}

// A render stopped by a signal leaves no file behind, and ends with 128 + the signal's number.
TEST_F(ToolTest, ARenderStoppedBySignalLeavesNothing) {
    for (const auto& [signal, exitCode] : {std::pair{"INT", 130}, std::pair{"TERM", 143}}) {
        const fs::path wav = dir / "long.wav";
        const ProgramRun r = run("render " + demo("demo.sid") + " -o " + wav.string() +
                                 " -t 40000 & sleep 0.5; kill -" + signal + " $!; wait $!");
        EXPECT_EQ(r.exitCode, exitCode) << signal;
        EXPECT_EQ(temporaryFiles(), 0) << signal;
        EXPECT_FALSE(fs::exists(wav)) << signal;
    }
}

// info --json: the header's fields as the file has them, what the player makes of them, and the
// notes and warnings; for a tune written for three chips, NTSC and the 8580, a note of each.
TEST_F(ToolTest, InfoAsJson) {
    const ProgramRun digi = run("info --json " + demo("digi.sid"));
    ASSERT_EQ(digi.exitCode, 0) << digi.err;
    const nlohmann::json info = nlohmann::json::parse(digi.out);
    EXPECT_EQ(info["format"], "PSID");
    EXPECT_EQ(info["playAddress"], 0);  // the header has none: the init routine installs it
    EXPECT_NE(info["player"]["playAddress"], 0);
    EXPECT_EQ(info["songs"], 1);
    EXPECT_EQ(info["player"]["songs"], 1);
    EXPECT_EQ(info["name"], "sidtune digi");
    EXPECT_EQ(info["notes"], nlohmann::json::array());
    EXPECT_EQ(info["warnings"], nlohmann::json::array());
    EXPECT_FALSE(info.contains("lastSong"));

    Psid everything;
    everything.version = 4;
    everything.flags = 0x0028;  // NTSC, 8580
    everything.secondChip = 0x42, everything.thirdChip = 0x50;
    everything.songs = 3, everything.startSong = 2;
    const std::string file = folder.write("three.sid", everything.bytes());
    const nlohmann::json three = nlohmann::json::parse(run("info --json " + file).out);
    EXPECT_EQ(three["notes"], (nlohmann::json{"3 chips", "NTSC", "8580"}));
    EXPECT_EQ(three["chips"], 3);
    EXPECT_EQ(three["clock"], "NTSC");
    EXPECT_EQ(three["startSong"], 2);
    EXPECT_EQ(three["faithful"],
              (nlohmann::json{{"clock", 1022727}, {"playCallsPerSecond", 1022727.0 / 17095}, {"chips", 3}}));
    const ProgramRun words = run("info " + file);
    EXPECT_NE(words.out.find("PSID v4, 3 songs (the author's start song: 2), NTSC, paced by 50 Hz frames"),
              std::string::npos)
        << words.out;
    EXPECT_NE(words.out.find("note:      written for 3 sound chips"), std::string::npos) << words.out;
}

// What info prints of a header: texts as UTF-8 with control bytes escaped (a tune cannot send
// escape sequences to the terminal), the same texts in JSON, and warnings, in both, where the
// header says more than the player reads.
TEST_F(ToolTest, InfoOfUnusualHeaders) {
    struct Case {
        std::string name;
        std::vector<std::pair<size_t, std::string>> bytes;  // header bytes set, at their offsets
        std::string text;                                   // in the text output
        std::string field;                                  // a JSON field, or "warnings"
        std::string value;                                  // its value, or a warning's text
        size_t keep = 0;                                    // the file cut to this many bytes; 0 whole
    };
    const Case cases[] = {
        {"latin1_quote_backslash",
         {{22, std::string("Caf\xE9\"\\\0", 8)}},
         "\"Caf\u00e9\"\\\" by ",
         "name",
         "Caf\u00e9\"\\"},
        {"escape_sequence",
         {{54, std::string("\x1B[2J\x9B\0", 7)}},
         " by \\u001b[2J\\u009b, released",
         "author",
         "\x1B[2J\u009b"},
        {"songs_past_255",
         {{14, std::string("\x01\x2C", 2)}},
         "warning:   the header gives 300 songs; the player reads its low byte: 44 songs",
         "warnings",
         "the header gives 300 songs; the player reads its low byte: 44 songs"},
        {"no_songs",
         {{14, std::string("\0\0", 2)}},
         "the header gives 0 songs; the player reads its low byte: 256 songs",
         "warnings",
         "the header gives 0 songs; the player reads its low byte: 256 songs"},
        {"start_song_beyond",
         {{16, std::string("\0\x07", 2)}},
         "warning:   the start song 7 is beyond the header's 1 songs",
         "warnings",
         "the start song 7 is beyond the header's 1 songs"},
        {"data_offset_inside",
         {{6, std::string("\0\x60", 2)}},
         "the data offset 96 lies inside the 124-byte header",
         "warnings",
         "the data offset 96 lies inside the 124-byte header of version 2"},
        {"speed_field", {{18, std::string("\x80\0\0\x01", 4)}}, "timer-paced at 50 Hz", "speed", ""},
        {"cut_short",
         {},
         "warning:   the play address $104F lies beyond the data the file holds ($1000-$1049, 74 bytes)",
         "warnings",
         "the play address $104F lies beyond the data the file holds ($1000-$1049, 74 bytes): the file may "
         "be cut "
         "short",
         200},
    };
    for (const Case& c : cases) {
        std::string tune = slurp(demo("demo.sid"));
        for (const auto& [at, bytes] : c.bytes) tune.replace(at, bytes.size(), bytes);
        if (c.keep != 0) tune.resize(c.keep);
        const fs::path file = dir / (c.name + ".sid");
        std::ofstream(file, std::ios::binary) << tune;
        const ProgramRun text = run("info " + file.string());
        EXPECT_EQ(text.exitCode, 0) << c.name << ": " << text.err;
        EXPECT_NE(text.out.find(c.text), std::string::npos) << c.name << ": " << text.out;
        EXPECT_EQ(text.out.find('\x1B'), std::string::npos) << c.name;
        const ProgramRun json = run("info --json " + file.string());
        ASSERT_TRUE(nlohmann::json::accept(json.out)) << c.name << ": " << json.out;
        const nlohmann::json info = nlohmann::json::parse(json.out);
        if (c.field == "warnings") {
            EXPECT_NE(std::find(info["warnings"].begin(), info["warnings"].end(), c.value),
                      info["warnings"].end())
                << c.name << ": " << json.out;
        } else if (c.field == "speed") {
            EXPECT_EQ(info["speed"], 0x80000001u) << c.name;
        } else {
            EXPECT_EQ(info[c.field], c.value) << c.name;
        }
    }
}

// The verdict at the silence bound, exactly: a swing of 1% of full scale is still silence.
TEST(CheckVerdict, AtTheSilenceBound) {
    struct Case {
        int peak;
        uint32_t cutOffCalls;
        Verdict verdict;
    };
    const Case cases[] = {{0, 0, Verdict::Silent},
                          {kSilentSwing, 0, Verdict::Silent},
                          {kSilentSwing + 1, 0, Verdict::Plays},
                          {65535, 0, Verdict::Plays},
                          {0, 1, Verdict::Stalls},
                          {65535, 3, Verdict::Stalls}};
    EXPECT_EQ(kSilentSwing, 655);
    for (const Case& c : cases) EXPECT_EQ(verdictOf(c.peak, c.cutOffCalls), c.verdict) << c.peak;
}

// sidtune check: a tune per verdict, found by walking a folder (links to files followed, a link
// that loops back walked once), in the order of the walk whatever the jobs.
TEST_F(ToolTest, CheckGivesEveryTuneItsVerdict) {
    const fs::path tunes = dir / "tunes";
    fs::create_directories(tunes / "more");
    fs::copy_file(demo("demo.sid"), tunes / "a_demo.sid");
    auto write = [](const fs::path& path, const std::vector<uint8_t>& bytes) {
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), long(bytes.size()));
    };
    write(tunes / "b_silent.sid", psidTune({0x60}, {0x60}));  // volume 0, nothing written
    // A play routine that waits for a raster line: the video chip is not here.
    write(tunes / "more" / "c_stalls.sid",
          psidTune({0x60}, {0xAD, 0x12, 0xD0, 0xC9, 0x80, 0xD0, 0xF9, 0x60}));
    std::vector<uint8_t> rsid = psidTune({0x60}, {0x60});
    std::copy_n("RSID", 4, rsid.begin());
    write(tunes / "d_rsid.sid", rsid);
    std::ofstream(tunes / "e_notes.txt") << "not a tune";  // skipped, counted apart
    fs::create_symlink(tunes / "a_demo.sid", tunes / "more" / "f_link.sid");
    fs::create_directory_symlink(tunes, tunes / "more" / "loop");
    // For three chips, NTSC, the 8580, its author's start song 2; under a name beyond ASCII.
    Psid noted;
    noted.version = 4;
    noted.flags = 0x0028;
    noted.secondChip = 0x42, noted.thirdChip = 0x50;
    noted.songs = 2, noted.startSong = 2;
    write(tunes / "g_H\xC3\xBClsbeck \xE9\x01.sid", noted.bytes());

    struct Expected {
        std::string file;
        int song;  // 0: no song field
        std::string verdict;
        std::string reason;
        nlohmann::json notes = nlohmann::json::array();
        bool start = true;
    };
    const nlohmann::json all = {"3 chips", "NTSC", "8580"};
    const Expected expected[] = {
        {"a_demo.sid", 1, "plays", ""},
        {"b_silent.sid", 1, "silent", ""},
        {"d_rsid.sid", 0, "refused", "not a PSID tune: an RSID tune, which needs a whole C64"},
        {"g_H\xC3\xBClsbeck \xE9\x01.sid", 1, "silent", "", all, false},
        {"g_H\xC3\xBClsbeck \xE9\x01.sid", 2, "silent", "", all, true},
        {"more/c_stalls.sid", 1, "stalls", ""},
        {"more/f_link.sid", 1, "plays", ""},
    };
    std::string outputs[2];
    for (int jobs : {1, 4}) {
        const ProgramRun r =
            run("check " + tunes.string() + " --seconds 2 --json --jobs " + std::to_string(jobs));
        ASSERT_EQ(r.exitCode, 0) << r.err;
        outputs[jobs == 4] = r.out;
    }
    EXPECT_EQ(outputs[0], outputs[1]);  // the same, in the same order, whatever the jobs
    std::istringstream lines(outputs[0]);
    std::vector<nlohmann::json> checks;
    for (std::string line; std::getline(lines, line);) checks.push_back(nlohmann::json::parse(line));
    ASSERT_EQ(checks.size(), std::size(expected)) << outputs[0];
    for (size_t i = 0; i < checks.size(); ++i) {
        const nlohmann::json& c = checks[i];
        const Expected& x = expected[i];
        EXPECT_EQ(c.contains("song"), x.song != 0) << x.file;
        EXPECT_EQ(c["verdict"], x.verdict) << x.file;
        EXPECT_EQ(c.value("reason", ""), x.reason) << x.file;
        if (x.song == 0) continue;
        // Names that are no UTF-8 are shown as U+FFFD in JSON; the valid ones as they are.
        EXPECT_EQ(c["file"],
                  nlohmann::json::parse(nlohmann::json((tunes / x.file).string())
                                            .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)))
            << x.file;
        EXPECT_EQ(c["song"], x.song) << x.file;
        EXPECT_EQ(c["cutOffCalls"] != 0, x.verdict == "stalls") << x.file;
        EXPECT_EQ(c["peak"] > kSilentSwing, x.verdict == "plays") << x.file;
        EXPECT_EQ(c["notes"], x.notes) << x.file;
        EXPECT_EQ(c["startSong"], x.start) << x.file;
    }
    // The table and its summary: UTF-8 names as they are, control characters and bytes that are no
    // UTF-8 escaped, the start song marked; a path that does not exist is named, and the rest still
    // checked.
    const ProgramRun table = run("check " + tunes.string() + " " + (dir / "none").string() + " --seconds 1");
    EXPECT_EQ(table.exitCode, 1);
    EXPECT_NE(table.err.find("none: No such file or directory"), std::string::npos) << table.err;
    EXPECT_NE(table.out.find("silent     2*      0        0  3 chips, NTSC, 8580 "), std::string::npos)
        << table.out;
    EXPECT_NE(table.out.find("g_H\xC3\xBClsbeck \\xe9\\u0001.sid"), std::string::npos) << table.out;
    // In faithful playback the chips and the clock are the tune's: only the chip model's note stays.
    const ProgramRun faithful = run("check " + tunes.string() + " --seconds 1 --faithful");
    EXPECT_NE(faithful.out.find("silent     2*      0        0  8580 "), std::string::npos) << faithful.out;
    EXPECT_NE(faithful.out.find("faithful mode: 6 songs in 6 tune files"), std::string::npos) << faithful.out;
    EXPECT_NE(table.out.find("6 songs in 6 tune files: 2 play, 3 silent, 1 stalls; 1 file refused; "
                             "1 other file skipped (no tune)"),
              std::string::npos)
        << table.out;
}

}  // namespace
}  // namespace sidtune::test
