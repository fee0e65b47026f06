// The PSID loader over hand-made blocks: what it accepts, what it refuses, and what the image and
// the header values look like afterwards.
#include "tune/tune_loader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cpu/cpu.h"
#include "engine/engine_state.h"
#include "test_support.h"

namespace sidtune::test {
namespace {

// A PSID block with the given header fields and data (the data include the embedded load
// address when `headerLoad` is 0).
struct Psid {
    uint8_t dataOffset = 124;
    uint16_t headerLoad = 0;
    uint16_t init = 0x1000;
    uint16_t play = 0x1003;
    uint16_t songs = 1;
    uint16_t startSong = 1;
    uint32_t speed = 0;
    std::string name = "Tune", author = "Someone", released = "2026 Us";
    std::vector<uint8_t> data = {0x00, 0x10, 0x60, 0x00, 0x00, 0x60};  // load $1000: RTS .. RTS

    std::vector<uint8_t> bytes() const {
        std::vector<uint8_t> b(dataOffset, 0);
        auto word = [&](size_t at, uint16_t v) {
            b[at] = uint8_t(v >> 8);
            b[at + 1] = uint8_t(v);
        };
        std::copy_n("PSID", 4, b.begin());
        word(4, dataOffset == 118 ? 1 : 2);
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
        b.insert(b.end(), data.begin(), data.end());
        return b;
    }
};

class LoaderTest : public MachineTest {
  protected:
    int loadBlock(const std::vector<uint8_t>& block) {
        return loadTune(e, block.data(), block.size(), kLoadFromMemory);
    }
};

TEST_F(LoaderTest, RefusesWhatIsNotAPsidTune) {
    const std::vector<uint8_t> valid = Psid{}.bytes();
    struct Case {
        const char* name;
        std::vector<uint8_t> block;
    };
    std::vector<uint8_t> rsid = valid;
    std::copy_n("RSID", 4, rsid.begin());
    std::vector<uint8_t> shortHeader = valid;
    shortHeader.resize(117);
    std::vector<uint8_t> offsetPastEnd = Psid{}.bytes();
    offsetPastEnd.resize(125);  // data offset 124: the embedded load address needs 126 bytes
    Psid farOffset;
    farOffset.dataOffset = 250;
    std::vector<uint8_t> farOffsetBlock = farOffset.bytes();
    farOffsetBlock.resize(200);
    const Case cases[] = {
        {"empty", {}},
        {"three_bytes", {'P', 'S', 'I'}},
        {"magic_only", {'P', 'S', 'I', 'D'}},
        {"rsid", rsid},
        {"117_bytes", shortHeader},
        {"no_room_for_load_address", offsetPastEnd},
        {"data_offset_beyond_end", farOffsetBlock},
    };
    for (const Case& c : cases) {
        resetMachine(e, kSampleRate);
        e.memory[0x1234] = 0x56;
        e.tune.initAddress = 0xBEEF;
        EXPECT_EQ(loadTune(e, c.block.data(), c.block.size(), kLoadFromMemory), kTuneNotPsid) << c.name;
        // A refused block changes neither the header values nor the image.
        EXPECT_EQ(e.tune.initAddress, 0xBEEF) << c.name;
        EXPECT_EQ(e.memory[0x1234], 0x56) << c.name;
    }
}

TEST_F(LoaderTest, UnavailableSources) {
    const std::vector<uint8_t> block = Psid{}.bytes();
    e.memory[0x1234] = 0x56;
    e.tune.initAddress = 0xBEEF;
    EXPECT_EQ(loadTune(e, block.data(), block.size(), 3), kTuneSourceUnavailable);
    EXPECT_EQ(loadTune(e, block.data(), block.size(), 0), kTuneSourceUnavailable);
    EXPECT_EQ(loadTune(e, "/no/such/file.sid", 0, kLoadFromFile), kTuneSourceUnavailable);
    EXPECT_EQ(loadTune(e, nullptr, 0, kLoadFromFile), kTuneSourceUnavailable);
    EXPECT_EQ(e.memory[0x1234], 0x56);
    EXPECT_EQ(e.tune.initAddress, 0xBEEF);
}

TEST_F(LoaderTest, HeaderValues) {
    Psid p;
    p.init = 0x1234;
    p.play = 0x5678;
    p.songs = 0x0103;  // only the low byte counts for lastSong
    p.startSong = 2;
    p.speed = 0xFFFF00A5;
    ASSERT_EQ(loadBlock(p.bytes()), kTuneLoaded);
    EXPECT_EQ(e.tune.loadAddress, 0x1000);
    EXPECT_EQ(e.tune.initAddress, 0x1234);
    EXPECT_EQ(e.tune.playAddress, 0x5678);
    EXPECT_EQ(e.tune.lastSong, 2);
    EXPECT_EQ(e.tune.songCount, 0x0103);
    EXPECT_EQ(e.tune.startSong, 2);
    EXPECT_EQ(e.tune.speedFlags, 0xA5);
    const TuneTexts texts = tuneTexts(e.tune);
    EXPECT_STREQ(texts.name, "Tune");
    EXPECT_STREQ(texts.author, "Someone");
    EXPECT_STREQ(texts.released, "2026 Us");
}

TEST_F(LoaderTest, SongCountAndSpeedFields) {
    struct Case {
        uint16_t songs;
        uint32_t speed;
        uint8_t lastSong, speedFlags;
    };
    const Case cases[] = {
        {1, 0x00000000, 0, 0x00},
        {0, 0x00000001, 255, 0x01},
        {256, 0x00000100, 255, 0x00},  // song 9's bit is not in the low byte
        {57, 0xFFFFF000, 56, 0x00},
    };
    for (const Case& c : cases) {
        Psid p;
        p.songs = c.songs;
        p.speed = c.speed;
        ASSERT_EQ(loadBlock(p.bytes()), kTuneLoaded);
        EXPECT_EQ(e.tune.lastSong, c.lastSong) << c.songs;
        EXPECT_EQ(e.tune.speedFlags, c.speedFlags) << c.songs;
    }
}

TEST_F(LoaderTest, TextsKeepAtMost31Bytes) {
    Psid p;
    p.name = std::string(32, 'N');
    p.author = "Lasse \xD6\xF6rni";  // raw bytes, no code page conversion
    p.released = std::string(31, 'R');
    ASSERT_EQ(loadBlock(p.bytes()), kTuneLoaded);
    EXPECT_EQ(std::string(tuneTexts(e.tune).name), std::string(31, 'N'));
    EXPECT_EQ(std::string(tuneTexts(e.tune).author), "Lasse \xD6\xF6rni");
    EXPECT_EQ(std::string(tuneTexts(e.tune).released), std::string(31, 'R'));
}

TEST_F(LoaderTest, DataOffsetsOfBothHeaderVersions) {
    for (uint8_t offset : {118, 124}) {
        Psid p;
        p.dataOffset = offset;
        std::vector<uint8_t> block = p.bytes();
        block[6] = 0x7F;  // the data offset's high byte is ignored
        ASSERT_EQ(loadBlock(block), kTuneLoaded) << int(offset);
        EXPECT_EQ(e.tune.loadAddress, 0x1000);
        EXPECT_EQ(e.memory[0x1000], 0x60);
        EXPECT_EQ(e.memory[0x1003], 0x60);
    }
}

TEST_F(LoaderTest, ImageHoldsTheTuneAndNothingElse) {
    e.memory.fill(0xEE);
    Psid p;
    p.data = {0x00, 0x20, 1, 2, 3, 4, 5};
    ASSERT_EQ(loadBlock(p.bytes()), kTuneLoaded);
    for (size_t a = 0; a < 0x10000; ++a) {
        const uint8_t expected = (a >= 0x2000 && a < 0x2005) ? uint8_t(a - 0x2000 + 1) : 0;
        ASSERT_EQ(e.memory[a], expected) << a;
    }
}

TEST_F(LoaderTest, SecondTuneLeavesNothingOfTheFirst) {
    Psid first;
    first.data = {0x00, 0x30, 0xAA, 0xBB};
    Psid second;
    second.data = {0x00, 0x40, 0xCC};
    ASSERT_EQ(loadBlock(first.bytes()), kTuneLoaded);
    ASSERT_EQ(loadBlock(second.bytes()), kTuneLoaded);
    EXPECT_EQ(e.memory[0x3000], 0);
    EXPECT_EQ(e.memory[0x3001], 0);
    EXPECT_EQ(e.memory[0x4000], 0xCC);
    EXPECT_EQ(e.tune.loadAddress, 0x4000);
}

TEST_F(LoaderTest, DataRunningPastFfffAreCutNotWrapped) {
    Psid p;
    p.data = {0xF0, 0xFF};  // load address $FFF0
    for (int i = 0; i < 100; ++i) p.data.push_back(uint8_t(i + 1));
    ASSERT_EQ(loadBlock(p.bytes()), kTuneLoaded);
    EXPECT_EQ(e.memory[0xFFF0], 1);
    EXPECT_EQ(e.memory[0xFFFF], 16);
    for (size_t a = 0; a < 0x100; ++a) EXPECT_EQ(e.memory[a], 0) << a;
}

TEST_F(LoaderTest, BlocksOf64KiBAndMoreUseTheirRealSize) {
    // 65540 bytes would be 4 bytes in a 16-bit count.
    Psid p;
    p.play = 0x0800;
    p.data.assign(65540 - 124, 0x42);
    p.data[0] = 0x00;  // load address $0800
    p.data[1] = 0x08;
    const std::vector<uint8_t> block = p.bytes();
    ASSERT_EQ(block.size(), 65540u);
    ASSERT_EQ(loadBlock(block), kTuneLoaded);
    EXPECT_EQ(e.memory[0x0800], 0x42);
    EXPECT_EQ(e.memory[0xFFFF], 0x42);
    EXPECT_EQ(e.memory[0x07FF], 0x00);  // nothing wrapped round
}

TEST_F(LoaderTest, HeaderLoadAddressPlacesTheDataAsTheyStand) {
    Psid p;
    p.headerLoad = 0x0C00;
    p.data = {0xA9, 0x07, 0x60};  // no embedded load address
    ASSERT_EQ(loadBlock(p.bytes()), kTuneLoaded);
    EXPECT_EQ(e.tune.loadAddress, 0x0C00);
    EXPECT_EQ(e.memory[0x0C00], 0xA9);
    EXPECT_EQ(e.memory[0x0C02], 0x60);
    EXPECT_EQ(e.memory[0xA907], 0x00);
}

TEST_F(LoaderTest, PlayAddressZeroAsksTheInitRoutine) {
    Psid p;
    p.play = 0;
    p.data = {0x00, 0x10,
              0xAA,              // TAX
              0xE8,              // INX
              0x8E, 0x00, 0xC0,  // STX $C000   (1: ran once, with 0 in A)
              0xA9, 0x03,        // LDA #$03
              0x8D, 0x14, 0x03,  // STA $0314
              0xA9, 0x10,        // LDA #$10
              0x8D, 0x15, 0x03,  // STA $0315
              0x60};             // RTS
    ASSERT_EQ(loadBlock(p.bytes()), kTuneLoaded);
    EXPECT_EQ(e.tune.playAddress, 0x1003);
    EXPECT_EQ(e.memory[0xC000], 1);
}

TEST_F(LoaderTest, PlayAddressStaysZeroWhenInitSetsNoVector) {
    Psid p;
    p.play = 0;
    p.data = {0x00, 0x10, 0xEE, 0x00, 0xC0, 0x60};  // INC $C000; RTS
    ASSERT_EQ(loadBlock(p.bytes()), kTuneLoaded);
    EXPECT_EQ(e.tune.playAddress, 0);
    EXPECT_EQ(e.memory[0xC000], 1);
}

TEST_F(LoaderTest, NonzeroPlayAddressDoesNotRunInit) {
    Psid p;
    p.data = {0x00, 0x10, 0xEE, 0x00, 0xC0, 0x60};  // INC $C000; RTS
    ASSERT_EQ(loadBlock(p.bytes()), kTuneLoaded);
    EXPECT_EQ(e.memory[0xC000], 0);
}

TEST_F(LoaderTest, RunawayInitIsCutOffAndTheLoadSucceeds) {
    Psid p;
    p.play = 0;
    p.data = {0x00, 0x10, 0x4C, 0x00, 0x10};  // JMP $1000
    ASSERT_EQ(loadBlock(p.bytes()), kTuneLoaded);
    EXPECT_EQ(e.tune.playAddress, 0);
    EXPECT_EQ(e.cutOffCalls, 1u);
}

class LoaderFileTest : public LoaderTest {
  protected:
    std::filesystem::path dir;
    void SetUp() override {
        LoaderTest::SetUp();
        dir = std::filesystem::temp_directory_path() /
              ("sidtune-loader-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    // Written through the same narrow-character file API the loader reads with, so that a name's
    // bytes mean the same to both (on Windows: the ANSI code page).
    std::string write(const std::string& name, const std::vector<uint8_t>& bytes) {
        const std::string path = dir.string() + "/" + name;
        std::FILE* f = std::fopen(path.c_str(), "wb");
        EXPECT_NE(f, nullptr) << path;
        if (f != nullptr) {
            if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
            std::fclose(f);
        }
        return path;
    }
};

TEST_F(LoaderFileTest, FileLoadsLikeTheSameBlockInMemory) {
    Psid p;
    p.data = {0x00, 0x20, 9, 8, 7};
    const std::string path = write("tune.sid", p.bytes());
    ASSERT_EQ(loadTune(e, path.c_str(), 0, kLoadFromFile), kTuneLoaded);
    const C64Memory fromFile = e.memory;
    const TuneInfo infoFromFile = e.tune;
    resetMachine(e, kSampleRate);
    ASSERT_EQ(loadBlock(p.bytes()), kTuneLoaded);
    EXPECT_EQ(e.memory, fromFile);
    EXPECT_EQ(e.tune.loadAddress, infoFromFile.loadAddress);
    EXPECT_EQ(e.tune.name, infoFromFile.name);
}

TEST_F(LoaderFileTest, MalformedFiles) {
    Psid bigTune;
    bigTune.data.assign(70000, 0x11);
    std::vector<uint8_t> headerOnly = Psid{}.bytes();
    headerOnly.resize(117);
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        int expected;
    };
    const Case cases[] = {
        {"empty.sid", {}, kTuneNotPsid},
        {"three.sid", {'P', 'S', 'I'}, kTuneNotPsid},
        {"header_only.sid", headerOnly, kTuneNotPsid},
        {"caf\xC3\xA9-\xFF.sid", Psid{}.bytes(), kTuneLoaded},  // non-ASCII bytes in the name
        {"big.sid", bigTune.bytes(), kTuneLoaded},
    };
    for (const Case& c : cases) {
        const std::string path = write(c.name, c.bytes);
        EXPECT_EQ(loadTune(e, path.c_str(), 0, kLoadFromFile), c.expected) << c.name;
    }
    EXPECT_EQ(e.memory[0xFFFF], 0x11);  // the big tune filled the image to its end
}

TEST_F(LoaderFileTest, DirectoryIsNotATune) {
    EXPECT_NE(loadTune(e, dir.string().c_str(), 0, kLoadFromFile), kTuneLoaded);
}

}  // namespace
}  // namespace sidtune::test
