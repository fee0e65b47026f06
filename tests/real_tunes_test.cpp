// The loader and the CPU over real tunes from a public collection (shared test material): every
// PSID loads with the header values the collection's table gives, every RSID is refused, and the
// init routine of song 0 returns, cut off by the instruction bound at worst.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cpu/cpu.h"
#include "engine/frame_pacing.h"
#include "engine/song.h"
#include "test_support.h"
#include "tune/tune_loader.h"

namespace sidtune::test {
namespace {

using nlohmann::json;

// The table's texts are UTF-8; the files hold the same characters as Latin-1 bytes.
std::string utf8ToLatin1(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = text[i];
        if (c < 0x80) {
            out += char(c);
        } else if (i + 1 < text.size()) {
            out += char((c & 0x03) << 6 | (text[i + 1] & 0x3F));
            ++i;
        }
    }
    return out.substr(0, 31);
}

std::vector<uint8_t> readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class RealTunes : public MachineTest {};

TEST_F(RealTunes, LoadAndInitEveryTune) {
    SKIP_WITHOUT_SHARED("tunes/headers.json");
    std::ifstream in(sharedDir() / "tunes" / "headers.json");
    const json headers = json::parse(in);
    ASSERT_EQ(headers.size(), manifestFiles().size());  // every file of the data, and only those

    int psid = 0, rsid = 0, cutOff = 0;
    for (const json& h : headers) {
        const std::string file = h["file"];
        const std::filesystem::path path = sharedDir() / "tunes" / file;
        SCOPED_TRACE(file);
        resetMachine(m, kSampleRate);
        const PlayError result = loadTuneFile(m, s.tune, path.string().c_str());
        if (h["magic"] == "RSID") {
            EXPECT_EQ(result, PlayError::Rsid);
            ++rsid;
            continue;
        }
        ASSERT_EQ(result, PlayError::None);
        ++psid;

        const TuneInfo& t = s.tune;
        EXPECT_EQ(t.loadAddress, h["load"].get<int>());
        EXPECT_EQ(t.initAddress, h["init"].get<int>());
        if (h["play"] != 0) {
            EXPECT_EQ(t.playAddress, h["play"].get<int>());
        }
        EXPECT_EQ(t.lastSong, uint8_t(h["songs"].get<int>() - 1));
        EXPECT_EQ(t.speedFlags, h["speed"].get<uint32_t>() & 0xFF);
        EXPECT_EQ(std::string(t.name.data()), utf8ToLatin1(h["name"]));
        EXPECT_EQ(std::string(t.author.data()), utf8ToLatin1(h["author"]));
        EXPECT_EQ(std::string(t.released.data()), utf8ToLatin1(h["released"]));

        // The data in the image, byte for byte (before any init routine changes them).
        if (h["play"] != 0) {
            const std::vector<uint8_t> bytes = readFile(path);
            const size_t start = h["data_offset"].get<size_t>() + 2;
            for (size_t i = start; i < bytes.size(); ++i) {
                ASSERT_EQ(m.memory[t.loadAddress + i - start], bytes[i]) << i;
            }
        }

        const auto begin = std::chrono::steady_clock::now();
        const bool returned = callSubroutine(m, t.initAddress, 0, kInitInstructionLimit);
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin).count();
        if (!returned) ++cutOff;
        std::printf("%-48s load $%04X init $%04X play $%04X  init %s in %.1f ms\n", file.c_str(),
                    t.loadAddress, t.initAddress, t.playAddress, returned ? "returned" : "cut off", ms);
    }
    EXPECT_EQ(size_t(psid + rsid), headers.size());
    std::printf("%d PSID tunes loaded, %d RSID refused, %d init calls cut off\n", psid, rsid, cutOff);
}

// Sixty seconds of song 0 of every real tune, made as the player makes them: nothing hangs, every
// sample of every block is written, and calls that the instruction bound cut off are counted. A table per
// tune.
TEST_F(RealTunes, SixtySecondsOfEveryTune) {
    SKIP_WITHOUT_SHARED("tunes/headers.json");
    std::ifstream in(sharedDir() / "tunes" / "headers.json");
    const json headers = json::parse(in);
    std::printf("%-46s %6s %8s %7s %7s %10s\n", "tune", "load", "cut off", "peak", "RMS", "x realtime");
    int psid = 0, tunes = 0, audible = 0;
    for (const json& h : headers) psid += h["magic"] == "PSID";
    for (const json& h : headers) {
        if (h["magic"] != "PSID") continue;
        const std::string file = h["file"];
        SCOPED_TRACE(file);
        const auto begin = std::chrono::steady_clock::now();
        ASSERT_TRUE(beginTuneFile(s, (sharedDir() / "tunes" / file).string()));
        std::vector<int16_t> block(kBlockSamples), again(kBlockSamples);
        int peak = 0;
        double power = 0;
        for (int b = 0; b < 120; ++b) {
            // Every sample is written: the block made twice from the same state over two fill
            // patterns comes out the same.
            const Machine before = s.machine;
            const FramePacing pacing = s.pacing;
            std::fill(again.begin(), again.end(), int16_t(0x5A5A));
            renderSong(s, again.data(), kBlockSamples);
            s.machine = before;
            s.pacing = pacing;
            std::fill(block.begin(), block.end(), int16_t(-0x5A5B));
            renderSong(s, block.data(), kBlockSamples);
            ASSERT_EQ(block, again) << "block " << b;
            for (int16_t v : block) {
                peak = std::max(peak, std::abs(int(v)));
                power += double(v) * v;
            }
        }
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        const double rms = std::sqrt(power / (120.0 * kBlockSamples));
        std::printf("%-46s  $%04X %8u %7d %7.0f %10.0f\n", file.c_str(), s.tune.loadAddress, m.cutOffCalls,
                    peak, rms, 60.0 / seconds);
        // A play routine that only answers the video chip's interrupt (a constant 0 here) is
        // silent; a player with no video chip cannot help that. Nearly every tune sounds.
        audible += peak > 0;
        ++tunes;
    }
    EXPECT_EQ(tunes, psid);
    EXPECT_GE(audible, tunes - 1);
}

}  // namespace
}  // namespace sidtune::test
