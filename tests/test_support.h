// Helpers shared by the tests: songs and machines of the tests' own, the one PSID builder, a
// folder per test, tunes begun as the player begins them, and the test data and sound server the
// tests may need.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "audio/audio_format.h"
#include "cpu/machine.h"
#include "engine/frame_pacing.h"
#include "engine/song.h"
#include "tune/tune_loader.h"

namespace sidtune::test {

// The tunes and CPU vectors of the test data (the CMake variable SIDTUNE_TEST_DATA); absent on a
// user's fresh clone, where the tests that need them skip.
inline std::filesystem::path sharedDir() { return SIDTUNE_TEST_DATA; }

#define SKIP_WITHOUT_SHARED(sub)                                                               \
    do {                                                                                       \
        if (sharedDir().empty() || !std::filesystem::exists(sharedDir() / (sub)))              \
            GTEST_SKIP() << "no " << (sharedDir() / (sub)).string() << " (SIDTUNE_TEST_DATA)"; \
    } while (0)

// The tune files of the test data, as its manifest (tunes/MANIFEST.tsv) lists them.
inline std::vector<std::string> manifestFiles() {
    std::vector<std::string> files;
    std::ifstream in(sharedDir() / "tunes" / "MANIFEST.tsv");
    std::string line;
    std::getline(in, line);  // the column names
    while (std::getline(in, line)) {
        if (!line.empty()) files.push_back(line.substr(0, line.find('\t')));
    }
    return files;
}

// The real-audio tests play into the sound server that scripts/with-pulse.sh starts. A test that
// skips for want of one is noted in a file that CTest reads back after the run (and empties before
// it), so that a run without a server says how many skipped (cmake/report_skipped_tests.cmake).
inline void noteSkippedForWantOfAServer() {
    std::ofstream(SIDTUNE_SKIPPED_LIST, std::ios::app)
        << ::testing::UnitTest::GetInstance()->current_test_info()->name() << "\n";
}
#define SKIP_WITHOUT_SOUND_SERVER()                                              \
    do {                                                                         \
        if (std::getenv("PULSE_SERVER") == nullptr) {                            \
            noteSkippedForWantOfAServer();                                       \
            GTEST_SKIP() << "no sound server (run under scripts/with-pulse.sh)"; \
        }                                                                        \
    } while (0)

// A demo tune assembled into the build tree.
inline std::string demoTune(const char* file) { return std::string(SIDTUNE_DEMO_DIR) + "/" + file; }

// A song of the test's own, all zero as a new one must be.
inline std::unique_ptr<Song> newSong() { return std::make_unique<Song>(); }

// Puts bytes into the image from `address` on, straight, without the write decode.
inline void poke(Machine& m, uint16_t address, std::initializer_list<uint8_t> bytes) {
    for (uint8_t b : bytes) m.memory[address++] = b;
}

// A PSID block with the given header fields and data (the data include the embedded load
// address when `headerLoad` is 0). Version 1 where the data offset is 118, else version 2 (or
// `version`, with the chip fields of versions 3 and 4).
struct Psid {
    uint8_t dataOffset = 124;
    uint16_t version = 0;  // 0: 1 or 2 by the data offset
    uint16_t headerLoad = 0;
    uint16_t init = 0x1000;
    uint16_t play = 0x1003;
    uint16_t songs = 1;
    uint16_t startSong = 1;
    uint32_t speed = 0;
    uint16_t flags = 0;
    uint8_t secondChip = 0, thirdChip = 0;
    std::string magic = "PSID";
    std::string name = "Tune", author = "Someone", released = "2026 Us";
    std::vector<uint8_t> data = {0x00, 0x10, 0x60, 0x00, 0x00, 0x60};  // load $1000: RTS .. RTS

    std::vector<uint8_t> bytes() const {
        std::vector<uint8_t> b(std::max<size_t>(dataOffset, 118), 0);
        auto word = [&](size_t at, uint16_t v) {
            b[at] = uint8_t(v >> 8);
            b[at + 1] = uint8_t(v);
        };
        std::copy_n(magic.begin(), 4, b.begin());
        word(4, version != 0 ? version : dataOffset == 118 ? 1 : 2);
        b[7] = dataOffset;
        word(8, headerLoad);
        word(10, init);
        word(12, play);
        word(14, songs);
        word(16, startSong);
        word(18, uint16_t(speed >> 16));
        word(20, uint16_t(speed));
        std::copy_n(name.begin(), std::min<size_t>(name.size(), 32), b.begin() + 22);
        std::copy_n(author.begin(), std::min<size_t>(author.size(), 32), b.begin() + 54);
        std::copy_n(released.begin(), std::min<size_t>(released.size(), 32), b.begin() + 86);
        if (b.size() >= 124) {
            word(118, flags);
            b[122] = secondChip;
            b[123] = thirdChip;
        }
        b.resize(dataOffset);
        b.insert(b.end(), data.begin(), data.end());
        return b;
    }
};

// A PSID tune of one song loaded at $1000: its init routine at $1000, its play routine at $1010.
inline std::vector<uint8_t> psidTune(std::initializer_list<uint8_t> init,
                                     std::initializer_list<uint8_t> play) {
    Psid p;
    p.play = 0x1010;
    p.data.assign(0x22, 0xEA);
    p.data[0] = 0x00, p.data[1] = 0x10;  // loaded at $1000
    std::copy(init.begin(), init.end(), p.data.begin() + 2);
    std::copy(play.begin(), play.end(), p.data.begin() + 2 + 0x10);
    return p.bytes();
}

// A file's bytes, as text.
inline std::string slurp(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// A folder of the test's own, named after it, gone with it.
class TempFolder {
  public:
    TempFolder() {
        const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = "sidtune-" + std::string(test->test_suite_name()) + "-" + test->name();
        std::replace(name.begin(), name.end(), '/', '_');  // parameterised tests have one
        dir = std::filesystem::temp_directory_path() / name;
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return dir; }
    // A file in the folder with these bytes. Written through the narrow-character file API the
    // loader reads with, so that a name's bytes mean the same to both.
    std::string write(const std::string& name, const std::vector<uint8_t>& bytes) const {
        const std::string file = dir.string() + "/" + name;
        std::FILE* f = std::fopen(file.c_str(), "wb");
        EXPECT_NE(f, nullptr) << file;
        if (f != nullptr) {
            if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
            std::fclose(f);
        }
        return file;
    }

  private:
    std::filesystem::path dir;
};

// A fresh machine, a tune loaded and song `song` (counted from 0) begun, as the player does it.
inline ::testing::AssertionResult begun(PlayError start, const std::string& what, int32_t song) {
    if (start == PlayError::None) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << what << ": song " << song << " did not begin (" << int(start) << ")";
}
inline ::testing::AssertionResult beginTuneFile(Song& s, const std::string& path, int32_t song = 0) {
    return begun(sidtune::beginTuneFile(s, path.c_str(), song), path, song);
}
inline ::testing::AssertionResult beginTuneBytes(Song& s, const std::vector<uint8_t>& tune,
                                                 int32_t song = 0) {
    return begun(beginTune(s, tune.data(), tune.size(), song), "the tune", song);
}

// `blocks` half-second blocks rendered one after the other, as the player renders them.
inline std::vector<int16_t> renderBlocks(Song& s, int blocks) {
    std::vector<int16_t> samples(size_t(blocks) * kBlockSamples);
    for (int b = 0; b < blocks; ++b) renderSong(s, samples.data() + size_t(b) * kBlockSamples, kBlockSamples);
    return samples;
}

// A tune for the end modes: song 1 sounds for its whole length, song 2 falls silent after 1.2 s (its
// play routine shuts the volume off after 60 frames), so that its end is found by the silence.
inline std::vector<uint8_t> songsThatEnd() {
    // init $1000: the song number in A to $C0; volume 15, voice 1 a sawtooth, sustained, gate on.
    const uint8_t init[] = {0x85, 0xC0, 0xA9, 0x0F, 0x8D, 0x18, 0xD4, 0xA9, 0x21, 0x8D, 0x04, 0xD4,
                            0xA9, 0x11, 0x8D, 0x01, 0xD4, 0xA9, 0xF0, 0x8D, 0x06, 0xD4, 0x60};
    // play $1020
    const uint8_t play[] = {
        0xEE, 0x00, 0xC1,  // INC $C100: frames
        0xA5, 0xC0,        // LDA $C0: song 0 plays on
        0xF0, 0x0C,        // BEQ out
        0xAD, 0x00, 0xC1,  // LDA $C100
        0xC9, 0x3C,        // CMP #60
        0x90, 0x05,        // BCC out
        0xA9, 0x00,        // LDA #0
        0x8D, 0x18, 0xD4,  // STA $D418: silence
        0x60,              // out: RTS
    };
    std::vector<uint8_t> code(0x40, 0xEA);
    std::copy(std::begin(init), std::end(init), code.begin());
    std::copy(std::begin(play), std::end(play), code.begin() + 0x20);
    Psid p;
    p.songs = 2;
    p.play = 0x1020;
    p.data = {0x00, 0x10};
    p.data.insert(p.data.end(), code.begin(), code.end());
    return p.bytes();
}

// A fresh machine for every test, in a song of the test's own.
class MachineTest : public ::testing::Test {
  protected:
    std::unique_ptr<Song> ownSong = newSong();
    Song& s = *ownSong;
    Machine& m = s.machine;
    void SetUp() override { resetMachine(m, kSampleRate); }
};

}  // namespace sidtune::test
