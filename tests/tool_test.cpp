// The sidtune command-line tool, run as a user runs it: the WAV it writes holds exactly what the
// player makes, and bad input gives a one-line error, exit code 1 and no output file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "program_support.h"
#include "test_support.h"
#include "wav_file.h"

namespace sidtune::test {
namespace {

namespace fs = std::filesystem;

class ToolTest : public ProgramTest {
  protected:
    ProgramRun run(const std::string& arguments) {
        return runCommand(std::string(SIDTUNE_TOOL) + " " + arguments);
    }
    std::string demo(const char* file) { return demoTune(file); }
};

// The samples of a WAV file written by the tool: 16-bit mono at the player's rate, its sizes in
// agreement with the file.
std::vector<int16_t> readWav(const fs::path& path) {
    wav::Audio audio;
    std::string error;
    EXPECT_TRUE(wav::read(path.string(), audio, error)) << error;
    EXPECT_EQ(audio.channels, 1);
    EXPECT_EQ(audio.sampleRate, kSampleRate);
    EXPECT_TRUE(audio.sizesAgree);
    EXPECT_EQ(fs::file_size(path), wav::kHeaderBytes + 2 * audio.samples.size());
    return audio.samples;
}

TEST_F(ToolTest, RenderWritesWholeBlocksExactlyAsThePlayerMakesThem) {
    const fs::path wav = dir / "effects.wav";
    const ProgramRun r = run("render " + demo("effects.sid") + " -o " + wav.string() + " -t 1.2 --song 2");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");  // no progress bar without a terminal
    const std::vector<int16_t> samples = readWav(wav);
    ASSERT_EQ(samples.size(), 3 * kBlockSamples);  // ceil(2 x 1.2) blocks

    const auto e = newEngine();
    ASSERT_TRUE(beginTuneFile(*e, demo("effects.sid"), 1));  // --song 2 is the player's song 1
    EXPECT_EQ(samples, renderBlocks(*e, 3));
}

TEST_F(ToolTest, BadInputIsOneLineOnStderrAndNoFile) {
    const fs::path wav = dir / "out.wav";
    const std::string notPsid = (dir / "not.sid").string();
    std::ofstream(notPsid) << "RSID and then some more bytes, but not a tune";
    const std::string unreadable = (dir / "secret.sid").string();
    fs::copy_file(demo("demo.sid"), unreadable);
    fs::permissions(unreadable, fs::perms::none);
    const bool rootReadsAnyway = std::ifstream(unreadable).good();

    struct Case {
        std::string name;
        std::string arguments;
    };
    std::vector<Case> cases = {
        {"missing", "render " + (dir / "none.sid").string() + " -o " + wav.string() + " -t 1"},
        {"not_psid", "render " + notPsid + " -o " + wav.string() + " -t 1"},
        {"song_out_of_range", "render " + demo("effects.sid") + " -o " + wav.string() + " -t 1 --song 4"},
        {"song_zero", "render " + demo("effects.sid") + " -o " + wav.string() + " -t 1 --song 0"},
        {"no_length", "render " + demo("demo.sid") + " -o " + wav.string() + " -t 0"},
        {"info_missing", "info " + (dir / "none.sid").string()},
    };
    if (!rootReadsAnyway)
        cases.push_back({"unreadable", "render " + unreadable + " -o " + wav.string() + " -t 1"});
    // Malformed tunes: empty, 3 bytes, a header cut at 117 bytes, the wrong magic, a data offset
    // past the end, and a folder.
    const std::string tune = slurp(demo("demo.sid"));
    std::string offsetPastEnd = tune.substr(0, 130);
    offsetPastEnd[7] = char(200);
    std::string wrongMagic = tune;
    wrongMagic[0] = 'X';
    for (const auto& [name, bytes] :
         std::vector<std::pair<std::string, std::string>>{{"empty.sid", ""},
                                                          {"three.sid", "PSI"},
                                                          {"117.sid", tune.substr(0, 117)},
                                                          {"magic.sid", wrongMagic},
                                                          {"offset.sid", offsetPastEnd}}) {
        std::ofstream(dir / name, std::ios::binary) << bytes;
        cases.push_back(
            {"malformed " + name, "render " + (dir / name).string() + " -o " + wav.string() + " -t 1"});
    }
    cases.push_back({"folder", "render " + dir.string() + " -o " + wav.string() + " -t 1"});
    for (const Case& c : cases) {
        const ProgramRun r = run(c.arguments);
        EXPECT_EQ(r.exitCode, 1) << c.name;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << c.name << ": " << r.err;
        EXPECT_EQ(r.out, "") << c.name;
        EXPECT_FALSE(fs::exists(wav)) << c.name;
    }
}

TEST_F(ToolTest, InfoAsJson) {
    const ProgramRun r = run("info --json " + demo("digi.sid"));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const nlohmann::json info = nlohmann::json::parse(r.out);
    const auto e = newEngine();
    resetMachine(*e, kSampleRate);
    ASSERT_EQ(loadTune(*e, demo("digi.sid").c_str(), 0, kLoadFromFile), kTuneLoaded);
    // The play address is the one the init routine installed; the header has none.
    EXPECT_NE(info["playAddress"], 0);
    const nlohmann::json expected = {
        {"loadAddress", e->tune.loadAddress}, {"initAddress", e->tune.initAddress},
        {"playAddress", e->tune.playAddress}, {"lastSong", e->tune.lastSong},
        {"speedFlags", e->tune.speedFlags},   {"name", "sidtune digi"},
        {"author", e->tune.author.data()},    {"released", e->tune.released.data()},
        {"songs", e->tune.lastSong + 1},      {"startSong", e->tune.startSong},
    };
    EXPECT_EQ(info, expected);
}

TEST_F(ToolTest, InfoEscapesBytesAbove127) {
    std::string tune = slurp(demo("demo.sid"));
    const char name[] = "Caf\xE9\"\\";  // a Latin-1 byte, a quote and a backslash
    for (size_t i = 0; i < sizeof name; ++i) tune[22 + i] = name[i];
    std::ofstream(dir / "latin1.sid", std::ios::binary) << tune;
    const ProgramRun r = run("info --json " + (dir / "latin1.sid").string());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("\"Caf\\u00e9\\\"\\\\\""), std::string::npos) << r.out;  // ASCII only
    EXPECT_EQ(nlohmann::json::parse(r.out)["name"], "Caf\u00e9\"\\");
}

}  // namespace
}  // namespace sidtune::test
