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
#include "engine/song.h"
#include "test_support.h"

namespace sidtune::test {
namespace {

class LoaderTest : public MachineTest {
  protected:
    PlayError loadBlock(const std::vector<uint8_t>& block) {
        return loadTuneBytes(m, s.tune, block.data(), block.size());
    }
};

TEST_F(LoaderTest, RefusesWhatIsNotAPsidTune) {
    const std::vector<uint8_t> valid = Psid{}.bytes();
    struct Case {
        const char* name;
        std::vector<uint8_t> block;
        PlayError status;
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
        {"empty", {}, PlayError::NotATune},
        {"three_bytes", {'P', 'S', 'I'}, PlayError::NotATune},
        {"magic_only", {'P', 'S', 'I', 'D'}, PlayError::NotATune},
        {"rsid", rsid, PlayError::Rsid},
        {"117_bytes", shortHeader, PlayError::NotATune},
        {"no_room_for_load_address", offsetPastEnd, PlayError::NotATune},
        {"data_offset_beyond_end", farOffsetBlock, PlayError::NotATune},
    };
    for (const Case& c : cases) {
        resetMachine(m, kSampleRate);
        m.memory[0x1234] = 0x56;
        s.tune.initAddress = 0xBEEF;
        EXPECT_EQ(loadBlock(c.block), c.status) << c.name;
        // A refused block changes neither the header values nor the image.
        EXPECT_EQ(s.tune.initAddress, 0xBEEF) << c.name;
        EXPECT_EQ(m.memory[0x1234], 0x56) << c.name;
    }
}

TEST_F(LoaderTest, UnavailableSources) {
    m.memory[0x1234] = 0x56;
    s.tune.initAddress = 0xBEEF;
    EXPECT_EQ(loadTuneFile(m, s.tune, "/no/such/file.sid"), PlayError::Unreadable);
    EXPECT_EQ(loadTuneFile(m, s.tune, nullptr), PlayError::Unreadable);
    EXPECT_EQ(loadTuneBytes(m, s.tune, nullptr, 10), PlayError::Unreadable);
    EXPECT_EQ(m.memory[0x1234], 0x56);
    EXPECT_EQ(s.tune.initAddress, 0xBEEF);
}

TEST_F(LoaderTest, HeaderValues) {
    Psid p;
    p.init = 0x1234;
    p.play = 0x5678;
    p.songs = 0x0103;  // only the low byte counts for lastSong
    p.startSong = 2;
    p.speed = 0xFFFF00A5;
    ASSERT_EQ(loadBlock(p.bytes()), PlayError::None);
    EXPECT_EQ(s.tune.loadAddress, 0x1000);
    EXPECT_EQ(s.tune.initAddress, 0x1234);
    EXPECT_EQ(s.tune.playAddress, 0x5678);
    EXPECT_EQ(s.tune.lastSong, 2);
    EXPECT_EQ(s.tune.songCount, 0x0103);
    EXPECT_EQ(s.tune.startSong, 2);
    EXPECT_EQ(s.tune.speedFlags, 0xA5);
    const TuneTexts texts = tuneTexts(s.tune);
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
        ASSERT_EQ(loadBlock(p.bytes()), PlayError::None);
        EXPECT_EQ(s.tune.lastSong, c.lastSong) << c.songs;
        EXPECT_EQ(s.tune.speedFlags, c.speedFlags) << c.songs;
    }
}

TEST_F(LoaderTest, TextsKeepAtMost31Bytes) {
    Psid p;
    p.name = std::string(32, 'N');
    p.author = "Lasse \xD6\xF6rni";  // raw bytes, no code page conversion
    p.released = std::string(31, 'R');
    ASSERT_EQ(loadBlock(p.bytes()), PlayError::None);
    EXPECT_EQ(std::string(tuneTexts(s.tune).name), std::string(31, 'N'));
    EXPECT_EQ(std::string(tuneTexts(s.tune).author), "Lasse \xD6\xF6rni");
    EXPECT_EQ(std::string(tuneTexts(s.tune).released), std::string(31, 'R'));
}

TEST_F(LoaderTest, DataOffsetsOfBothHeaderVersions) {
    for (uint8_t offset : {118, 124}) {
        Psid p;
        p.dataOffset = offset;
        std::vector<uint8_t> block = p.bytes();
        block[6] = 0x7F;  // the data offset's high byte is ignored
        ASSERT_EQ(loadBlock(block), PlayError::None) << int(offset);
        EXPECT_EQ(s.tune.loadAddress, 0x1000);
        EXPECT_EQ(m.memory[0x1000], 0x60);
        EXPECT_EQ(m.memory[0x1003], 0x60);
    }
}

TEST_F(LoaderTest, ImageHoldsTheTuneAndNothingElse) {
    m.memory.fill(0xEE);
    Psid p;
    p.data = {0x00, 0x20, 1, 2, 3, 4, 5};
    ASSERT_EQ(loadBlock(p.bytes()), PlayError::None);
    for (size_t a = 0; a < 0x10000; ++a) {
        const uint8_t expected = (a >= 0x2000 && a < 0x2005) ? uint8_t(a - 0x2000 + 1) : 0;
        ASSERT_EQ(m.memory[a], expected) << a;
    }
}

TEST_F(LoaderTest, SecondTuneLeavesNothingOfTheFirst) {
    Psid first;
    first.data = {0x00, 0x30, 0xAA, 0xBB};
    Psid second;
    second.data = {0x00, 0x40, 0xCC};
    ASSERT_EQ(loadBlock(first.bytes()), PlayError::None);
    ASSERT_EQ(loadBlock(second.bytes()), PlayError::None);
    EXPECT_EQ(m.memory[0x3000], 0);
    EXPECT_EQ(m.memory[0x3001], 0);
    EXPECT_EQ(m.memory[0x4000], 0xCC);
    EXPECT_EQ(s.tune.loadAddress, 0x4000);
}

TEST_F(LoaderTest, DataRunningPastFfffAreCutNotWrapped) {
    Psid p;
    p.data = {0xF0, 0xFF};  // load address $FFF0
    for (int i = 0; i < 100; ++i) p.data.push_back(uint8_t(i + 1));
    ASSERT_EQ(loadBlock(p.bytes()), PlayError::None);
    EXPECT_EQ(m.memory[0xFFF0], 1);
    EXPECT_EQ(m.memory[0xFFFF], 16);
    for (size_t a = 0; a < 0x100; ++a) EXPECT_EQ(m.memory[a], 0) << a;
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
    ASSERT_EQ(loadBlock(block), PlayError::None);
    EXPECT_EQ(m.memory[0x0800], 0x42);
    EXPECT_EQ(m.memory[0xFFFF], 0x42);
    EXPECT_EQ(m.memory[0x07FF], 0x00);  // nothing wrapped round
}

TEST_F(LoaderTest, HeaderLoadAddressPlacesTheDataAsTheyStand) {
    Psid p;
    p.headerLoad = 0x0C00;
    p.data = {0xA9, 0x07, 0x60};  // no embedded load address
    ASSERT_EQ(loadBlock(p.bytes()), PlayError::None);
    EXPECT_EQ(s.tune.loadAddress, 0x0C00);
    EXPECT_EQ(m.memory[0x0C00], 0xA9);
    EXPECT_EQ(m.memory[0x0C02], 0x60);
    EXPECT_EQ(m.memory[0xA907], 0x00);
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
    ASSERT_EQ(loadBlock(p.bytes()), PlayError::None);
    EXPECT_EQ(s.tune.playAddress, 0x1003);
    EXPECT_EQ(m.memory[0xC000], 1);
}

TEST_F(LoaderTest, PlayAddressStaysZeroWhenInitSetsNoVector) {
    Psid p;
    p.play = 0;
    p.data = {0x00, 0x10, 0xEE, 0x00, 0xC0, 0x60};  // INC $C000; RTS
    ASSERT_EQ(loadBlock(p.bytes()), PlayError::None);
    EXPECT_EQ(s.tune.playAddress, 0);
    EXPECT_EQ(m.memory[0xC000], 1);
}

TEST_F(LoaderTest, NonzeroPlayAddressDoesNotRunInit) {
    Psid p;
    p.data = {0x00, 0x10, 0xEE, 0x00, 0xC0, 0x60};  // INC $C000; RTS
    ASSERT_EQ(loadBlock(p.bytes()), PlayError::None);
    EXPECT_EQ(m.memory[0xC000], 0);
}

TEST_F(LoaderTest, RunawayInitIsCutOffAndTheLoadSucceeds) {
    Psid p;
    p.play = 0;
    p.data = {0x00, 0x10, 0x4C, 0x00, 0x10};  // JMP $1000
    ASSERT_EQ(loadBlock(p.bytes()), PlayError::None);
    EXPECT_EQ(s.tune.playAddress, 0);
    EXPECT_EQ(m.cutOffCalls, 1u);
}

// The one header parser: its status for every kind of block, and the fields at their full width.
TEST(PsidHeaderTest, StatusAndFields) {
    Psid v4;
    v4.version = 4;
    v4.songs = 0x0103;
    v4.startSong = 0x0102;
    v4.speed = 0x12345678;
    v4.flags = 0x0028;  // NTSC, 8580
    v4.secondChip = 0x42, v4.thirdChip = 0x44;
    Psid badChip = v4;
    badChip.secondChip = 0x43;  // odd: no chip
    Psid v1;
    v1.dataOffset = 118;
    Psid v2;            // version 2 has the flags, not the chips
    v2.flags = 0x0014;  // PAL, 6581
    v2.secondChip = 0x42;
    Psid rsid;
    rsid.magic = "RSID";
    std::vector<uint8_t> truncated = Psid{}.bytes();
    truncated.resize(125);
    struct Case {
        const char* name;
        std::vector<uint8_t> block;
        HeaderStatus status;
        int chips;
        TuneClock clock;
        ChipModel model;
    };
    const Case cases[] = {
        {"version 4, three chips", v4.bytes(), HeaderStatus::Psid, 3, TuneClock::Ntsc, ChipModel::Mos8580},
        {"an odd chip address names none", badChip.bytes(), HeaderStatus::Psid, 1, TuneClock::Ntsc,
         ChipModel::Mos8580},
        {"version 1: no flags", v1.bytes(), HeaderStatus::Psid, 1, TuneClock::Unknown, ChipModel::Unknown},
        {"version 2: flags, one chip", v2.bytes(), HeaderStatus::Psid, 1, TuneClock::Pal, ChipModel::Mos6581},
        {"rsid", rsid.bytes(), HeaderStatus::Rsid, 1, TuneClock::Unknown, ChipModel::Unknown},
        {"no room for the load address", truncated, HeaderStatus::Truncated, 1, TuneClock::Unknown,
         ChipModel::Unknown},
        {"text",
         {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'},
         HeaderStatus::NotATune,
         0,
         TuneClock::Unknown,
         ChipModel::Unknown},
        {"rsid, short", {'R', 'S', 'I', 'D'}, HeaderStatus::Rsid, 0, TuneClock::Unknown, ChipModel::Unknown},
    };
    for (const Case& c : cases) {
        PsidHeader h{};
        EXPECT_EQ(parsePsidHeader(c.block.data(), c.block.size(), h), c.status) << c.name;
        if (c.chips == 0) continue;  // too short to have been read
        EXPECT_EQ(h.chipCount(), c.chips) << c.name;
        EXPECT_EQ(h.clock(), c.clock) << c.name;
        EXPECT_EQ(h.chipModel(), c.model) << c.name;
    }
    PsidHeader h{};
    const std::vector<uint8_t> block = v4.bytes();
    ASSERT_EQ(parsePsidHeader(block.data(), block.size(), h), HeaderStatus::Psid);
    EXPECT_EQ(h.version, 4);
    EXPECT_EQ(h.songs, 0x0103);
    EXPECT_EQ(h.startSong, 0x0102);
    EXPECT_EQ(h.speed, 0x12345678u);
    EXPECT_EQ(PsidHeader::chipAddress(h.thirdChip), 0xD440);
    EXPECT_EQ(std::string(h.name.data(), 4), "Tune");
}

class LoaderFileTest : public LoaderTest {
  protected:
    TempFolder folder;
    std::string write(const std::string& name, const std::vector<uint8_t>& bytes) {
        return folder.write(name, bytes);
    }
};

TEST_F(LoaderFileTest, FileLoadsLikeTheSameBlockInMemory) {
    Psid p;
    p.data = {0x00, 0x20, 9, 8, 7};
    const std::string path = write("tune.sid", p.bytes());
    ASSERT_EQ(loadTuneFile(m, s.tune, path.c_str()), PlayError::None);
    const C64Memory fromFile = m.memory;
    const TuneInfo infoFromFile = s.tune;
    resetMachine(m, kSampleRate);
    ASSERT_EQ(loadBlock(p.bytes()), PlayError::None);
    EXPECT_EQ(m.memory, fromFile);
    EXPECT_EQ(s.tune.loadAddress, infoFromFile.loadAddress);
    EXPECT_EQ(s.tune.name, infoFromFile.name);
}

TEST_F(LoaderFileTest, MalformedFiles) {
    Psid bigTune;
    bigTune.data.assign(70000, 0x11);
    std::vector<uint8_t> headerOnly = Psid{}.bytes();
    headerOnly.resize(117);
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        PlayError expected;
    };
    const Case cases[] = {
        {"empty.sid", {}, PlayError::NotATune},
        {"three.sid", {'P', 'S', 'I'}, PlayError::NotATune},
        {"header_only.sid", headerOnly, PlayError::NotATune},
        {"caf\xC3\xA9-\xFF.sid", Psid{}.bytes(), PlayError::None},  // non-ASCII bytes in the name
        {"big.sid", bigTune.bytes(), PlayError::None},
    };
    for (const Case& c : cases) {
        const std::string path = write(c.name, c.bytes);
        EXPECT_EQ(loadTuneFile(m, s.tune, path.c_str()), c.expected) << c.name;
    }
    EXPECT_EQ(m.memory[0xFFFF], 0x11);  // the big tune filled the image to its end
}

TEST_F(LoaderFileTest, DirectoryIsNotATune) {
    EXPECT_EQ(loadTuneFile(m, s.tune, folder.path().string().c_str()), PlayError::Unreadable);
}

}  // namespace
}  // namespace sidtune::test
