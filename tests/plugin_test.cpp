// The plugin as the host sees it: the real shared library loaded with dlopen, the exports, the
// plugin object, the registrations and every row of the player's state table. The library under
// test is built on the simulated audio platform, whose test controls it exports.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "plugin_contract.h"
#include "quenbrix_host.h"
#include "sim/platform_sim.h"
#include "test_support.h"

namespace sidtune::test {
namespace {

using quenbrix::CallTrace;
using quenbrix::PluginHost;
using quenbrix::Value;

const std::string kDemo = demoTune("demo.sid");
const std::string kEffects = demoTune("effects.sid");

int threadCount() {
    int n = 0;
    if (DIR* d = opendir("/proc/self/task")) {
        while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
        closedir(d);
    }
    return n;
}

class PluginTest : public ::testing::Test {
  protected:
    PluginHost host;
    void (*simReset)() = nullptr;
    void (*simFailAt)(int32_t) = nullptr;
    void (*simLive)(int32_t*) = nullptr;
    int32_t (*simStreamPlaying)() = nullptr;
    int32_t (*simStreamVolume)() = nullptr;
    void (*simAdvance)(uint32_t) = nullptr;
    void (*simLoseOutput)() = nullptr;

    void SetUp() override {
        std::string error;
        ASSERT_TRUE(host.open(SIDTUNE_SIM_PLUGIN, error)) << error;
        simReset = reinterpret_cast<void (*)()>(host.symbol("SidtuneSim_Reset"));
        simFailAt = reinterpret_cast<void (*)(int32_t)>(host.symbol("SidtuneSim_FailAt"));
        simLive = reinterpret_cast<void (*)(int32_t*)>(host.symbol("SidtuneSim_Live"));
        simStreamPlaying = reinterpret_cast<int32_t (*)()>(host.symbol("SidtuneSim_StreamPlaying"));
        simStreamVolume = reinterpret_cast<int32_t (*)()>(host.symbol("SidtuneSim_StreamVolume"));
        simAdvance = reinterpret_cast<void (*)(uint32_t)>(host.symbol("SidtuneSim_Advance"));
        simLoseOutput = reinterpret_cast<void (*)()>(host.symbol("SidtuneSim_LoseOutput"));
        ASSERT_TRUE(simReset && simFailAt && simLive && simStreamPlaying && simStreamVolume && simAdvance &&
                    simLoseOutput);
        simReset();
    }
    void TearDown() override {
        host.unload();
        EXPECT_TRUE(nothingAlive());
    }

    bool nothingAlive() {
        int32_t live[5];
        simLive(live);
        return live[0] == 0 && live[1] == 0 && live[2] == 0 && live[3] == 0 && live[4] == 0;
    }
    void load() {
        std::string error;
        host.init();
        ASSERT_TRUE(host.load(error)) << error;
    }
    CallTrace command(const char* name, std::vector<Value> arguments = {}) {
        const quenbrix::Registration* r = host.find(name);
        EXPECT_NE(r, nullptr) << name;
        return r != nullptr ? host.call(*r, arguments) : CallTrace{};
    }
    int32_t playSidtune(const std::string& file) {
        const CallTrace t = command("PlaySidtune", {Value::ofText(file)});
        EXPECT_TRUE(t.hasResult);
        return t.result;
    }
};

TEST_F(PluginTest, QueryWritesItsDescriptionAndNothingMore) {
    auto query = reinterpret_cast<QuenbrixQueryFunction>(host.symbol("Quenbrix_Query"));
    char text[32];
    std::memset(text, 0xAA, sizeof text);
    int32_t first = 77, second = 77;
    EXPECT_EQ(query(text, &first, &second), 3);
    EXPECT_EQ(std::memcmp(text, "for Quenbrix", 13), 0);  // 12 characters and the zero
    for (size_t i = 13; i < sizeof text; ++i) EXPECT_EQ(uint8_t(text[i]), 0xAA) << i;
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 1);
}

TEST_F(PluginTest, InitGivesTheSameObjectEveryTime) {
    PluginObject* a = host.init();
    PluginObject* b = host.init();
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a, b);
    EXPECT_EQ(a->operations, b->operations);
}

TEST_F(PluginTest, LoadRegistersTheCommandsInOrderAndLeavesNothingRunning) {
    load();
    expectTheCommands(host.registrations());
    EXPECT_TRUE(nothingAlive());  // the engine trial was shut down again
}

TEST_F(PluginTest, ErrorTextOnlyAfterAFailedLoadAndForEverAfter) {
    PluginObject* plugin = host.init();
    char text[64];
    std::memset(text, 0x55, sizeof text);
    plugin->operations->getErrorText(plugin, text);
    for (char c : text) EXPECT_EQ(uint8_t(c), 0x55);  // untouched while the text is empty

    simFailAt(int32_t(sim::Step::CreateDevice));
    std::string error;
    EXPECT_FALSE(host.load(error));
    EXPECT_EQ(error, kLoadFailure);
    EXPECT_TRUE(host.registrations().empty());
    EXPECT_TRUE(nothingAlive());

    simReset();
    load();  // a later load succeeds, and the text stays
    std::memset(text, 0x55, sizeof text);
    plugin->operations->getErrorText(plugin, text);
    EXPECT_EQ(std::memcmp(text, kLoadFailure, 36), 0);
    EXPECT_EQ(uint8_t(text[36]), 0x55);  // 36 characters, no terminator
}

TEST_F(PluginTest, TheOtherOperationsDoNothing) {
    load();
    ASSERT_EQ(playSidtune(kDemo), -1);
    PluginObject* plugin = host.init();
    EXPECT_EQ(plugin->operations->operation3(plugin), 1);
    plugin->operations->operation4(plugin);
    plugin->operations->operation5(plugin);
    plugin->operations->operation6(plugin);
    plugin->operations->operation7(plugin);
    plugin->operations->operation9(plugin);
    EXPECT_TRUE(simStreamPlaying());
}

// Every row of the player's state table, in one sequence, each with its script result and the
// state it leaves: Idle (nothing alive), Playing (the stream plays) or Paused (it is stopped, the
// engine stays).
TEST_F(PluginTest, StateTable) {
    enum State { Idle, Playing, Paused };
    constexpr int32_t kNone = 1;  // a procedure: no result
    constexpr int32_t kFull = 0, kHalf = -609;
    const std::string notATune = std::string(SIDTUNE_SOURCE_DIR) + "/README.md";
    struct Row {
        const char* what;
        const char* command;
        std::vector<Value> arguments;
        int32_t result;
        State after;
        int32_t volume = kFull;  // of the stream, where there is one
        sim::Step failing = sim::Step::None;
        bool outputLost = false;  // the device goes away before the command
    };
    TempFolder folder;
    Psid rsidTune;
    rsidTune.magic = "RSID";
    Psid manySongs;  // 256 songs, each the same silence
    manySongs.songs = 256;
    manySongs.data = {0x00, 0x10, 0x60};  // at $1000: RTS
    manySongs.init = manySongs.play = 0x1000;
    const Value demo = Value::ofText(kDemo), effects = Value::ofText(kEffects),
                rsid = Value::ofText(folder.write("rsid.sid", rsidTune.bytes())),
                many = Value::ofText(folder.write("many.sid", manySongs.bytes()));
    auto real = [](double v) { return Value::ofReal(v); };
    const Row rows[] = {
        {"Idle: stop does nothing", "StopSidtune", {}, kNone, Idle},
        {"Idle: the volume is not even read", "SetSidVolume", {Value::ofReal(0.5)}, kNone, Idle},
        {"Idle: pause does nothing", "PauseSidtune", {}, kNone, Idle},
        {"Idle: resume does nothing", "ResumeSidtune", {}, kNone, Idle},
        {"Idle: no songs", "SidtuneSongs", {}, 0, Idle},
        {"Idle: the state", "SidtuneState", {}, 0, Idle},
        {"Idle: no song", "SidtuneSong", {}, 0, Idle},
        {"Idle: no time", "SidtuneTime", {}, 0, Idle},
        {"Idle: no fade", "FadeSidVolume", {real(0.5), real(1)}, kNone, Idle},
        {"Idle: no fade-out", "FadeOutSidtune", {real(1)}, kNone, Idle},
        {"Idle: no error yet", "SidtuneError", {}, 0, Idle},
        {"Idle: the speed is kept for later", "SetSidtuneSpeed", {real(2)}, kNone, Idle},
        {"Idle: a muted voice is kept for later", "MuteSidVoice", {real(3), real(1)}, kNone, Idle},
        {"Idle: so is the quick start", "SetSidtuneQuickStart", {real(0)}, kNone, Idle},
        {"Idle, the set-up fails", "PlaySidtune", {demo}, 0, Idle, kFull, sim::Step::CreateStreamBuffer},
        {"no sound output", "SidtuneError", {}, 5, Idle},
        {"Idle, the load fails", "PlaySidtune", {Value::ofText("/no/such/tune.sid")}, 0, Idle},
        {"the file cannot be read", "SidtuneError", {}, 1, Idle},
        {"Idle, an RSID tune", "PlaySidtune", {rsid}, 0, Idle},
        {"an RSID tune", "SidtuneError", {}, 3, Idle},
        {"Idle, all succeed: true is -1", "PlaySidtune", {demo}, -1, Playing},
        {"it did not fail", "SidtuneError", {}, 0, Playing},
        {"Playing: the state", "SidtuneState", {}, 1, Playing},
        {"Playing: song 1", "SidtuneSong", {}, 1, Playing},
        {"Playing: nothing heard yet", "SidtuneTime", {}, 0, Playing},
        {"Playing: the speed", "SetSidtuneSpeed", {real(1)}, kNone, Playing},
        {"Playing: a voice back in", "MuteSidVoice", {real(3), real(0)}, kNone, Playing},
        {"Playing: voice 4 is none", "MuteSidVoice", {real(4), real(1)}, kNone, Playing},
        {"Playing: the tune's songs", "SidtuneSongs", {}, 1, Playing},
        {"Playing: the volume", "SetSidVolume", {Value::ofReal(0.5)}, kNone, Playing, kHalf},
        {"Playing, another tune: a new engine at full volume", "PlaySidtune", {effects}, -1, Playing},
        {"Playing: its songs", "SidtuneSongs", {}, 3, Playing},
        {"Playing: resume does nothing", "ResumeSidtune", {}, kNone, Playing},
        {"Playing: pause", "PauseSidtune", {}, kNone, Paused},
        {"Paused: pause again does nothing", "PauseSidtune", {}, kNone, Paused},
        {"Paused: the state", "SidtuneState", {}, 2, Paused},
        {"Paused: the songs", "SidtuneSongs", {}, 3, Paused},
        {"Paused: the volume the resumed sound has",
         "SetSidVolume",
         {Value::ofReal(0.5)},
         kNone,
         Paused,
         kHalf},
        {"Paused: resume", "ResumeSidtune", {}, kNone, Playing, kHalf},
        {"Playing: song 2 of a tune", "PlaySidtuneSong", {effects, Value::ofReal(2)}, -1, Playing},
        {"Playing: song 2", "SidtuneSong", {}, 2, Playing},
        {"Playing: a fade of no length", "FadeSidVolume", {real(0.5), real(0)}, kNone, Playing, kHalf},
        {"Playing: a fade of negative length", "FadeSidVolume", {real(1.0), real(-3)}, kNone, Playing},
        {"song 2.5 is no song", "PlaySidtuneSong", {effects, Value::ofReal(2.5)}, 0, Idle},
        {"no such song", "SidtuneError", {}, 4, Idle},
        {"song 0 is no song", "PlaySidtuneSong", {effects, Value::ofReal(0)}, 0, Idle},
        {"song 4 of 3 is no song", "PlaySidtuneSong", {effects, Value::ofReal(4)}, 0, Idle},
        {"the last song", "PlaySidtuneSong", {effects, Value::ofReal(3)}, -1, Playing},
        {"the last of 256 songs", "PlaySidtuneSong", {many, Value::ofReal(256)}, -1, Playing},
        {"song 257 of 256 is no song", "PlaySidtuneSong", {many, Value::ofReal(257)}, 0, Idle},
        {"a song of a file that is no tune",
         "PlaySidtuneSong",
         {Value::ofText(notATune), Value::ofReal(1)},
         0,
         Idle},
        {"not a tune", "SidtuneError", {}, 2, Idle},
        {"Idle: song 1 is what PlaySidtune plays", "PlaySidtuneSong", {demo, Value::ofReal(1)}, -1, Playing},
        {"Playing: pause", "PauseSidtune", {}, kNone, Paused},
        {"Paused, a tune: as from Playing", "PlaySidtune", {effects}, -1, Playing},
        {"Playing: pause", "PauseSidtune", {}, kNone, Paused},
        {"Paused: stop", "StopSidtune", {}, kNone, Idle},
        {"Idle: stop again", "StopSidtune", {}, kNone, Idle},
        {"Idle: a tune", "PlaySidtune", {demo}, -1, Playing},
        {"Playing, a file that is no tune: Idle", "PlaySidtune", {Value::ofText(notATune)}, 0, Idle},
        {"Idle: a tune", "PlaySidtune", {demo}, -1, Playing},
        {"Playing: a fade-out of no length: Idle", "FadeOutSidtune", {real(0)}, kNone, Idle},
        {"Idle: a tune", "PlaySidtune", {demo}, -1, Playing},
        {"Playing: a fade-out longer than any program runs goes on",
         "FadeOutSidtune",
         {real(1e15)},
         kNone,
         Playing},
        {"Playing: and is over when the volume is set", "SetSidVolume", {real(0.5)}, kNone, Playing, kHalf},
        {"Idle: a tune", "PlaySidtune", {demo}, -1, Playing},
        {"the output lost while playing: Idle", "SidtuneState", {}, 0, Idle, kFull, sim::Step::None, true},
        {"the output lost", "SidtuneError", {}, 5, Idle},
        {"Idle: a tune", "PlaySidtune", {demo}, -1, Playing},
        {"Playing: pause", "PauseSidtune", {}, kNone, Paused},
        {"the output lost while paused: no songs", "SidtuneSongs", {}, 0, Idle, kFull, sim::Step::None, true},
        {"Idle: a tune", "PlaySidtune", {demo}, -1, Playing},
        {"Playing: stop", "StopSidtune", {}, kNone, Idle},
    };
    load();
    State before = Idle;
    for (const Row& r : rows) {
        simFailAt(int32_t(r.failing));
        if (r.outputLost) simLoseOutput();
        const CallTrace t = command(r.command, r.arguments);
        simReset();
        EXPECT_EQ(t.hasResult ? t.result : kNone, r.result) << r.what;
        const State state = nothingAlive() ? Idle : simStreamPlaying() ? Playing : Paused;
        EXPECT_EQ(state, r.after) << r.what;
        if (state != Idle) {
            EXPECT_EQ(simStreamVolume(), r.volume) << r.what;
        }
        // The volume is read only where there is a tune to set it on.
        const std::string name = r.command;
        if (name == "SetSidVolume" || name == "FadeSidVolume" || name == "FadeOutSidtune") {
            EXPECT_EQ(t.parameterReads == 0, before == Idle || r.outputLost) << r.what;
        }
        before = state;
    }
    // Unload from Playing and from Paused: Idle; unload twice does nothing more.
    for (const char* before : {"PlaySidtune", "PauseSidtune"}) {
        EXPECT_EQ(playSidtune(kDemo), -1);
        if (std::string(before) == "PauseSidtune") command("PauseSidtune");
        host.unload();
        EXPECT_TRUE(nothingAlive()) << before;
        host.unload();
        EXPECT_TRUE(nothingAlive()) << before;
        load();
    }
}

TEST_F(PluginTest, ManyCyclesLeaveNoObjectAndNoThreadBehind) {
    load();
    const int threadsBefore = threadCount();
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(playSidtune(i % 2 ? kDemo : kEffects), -1) << i;
        command("SetSidVolume", {Value::ofReal(0.25 + 0.001 * i)});
        command("StopSidtune");
        ASSERT_TRUE(nothingAlive()) << i;
    }
    EXPECT_EQ(threadCount(), threadsBefore);
}

// Whatever file a program hands over, "PlaySidtune" answers, and nothing is left running when it
// answers false.
TEST_F(PluginTest, PlaySidtuneWithMalformedFiles) {
    load();
    const std::string dir = ::testing::TempDir() + "sidtune-malformed";
    std::filesystem::create_directories(dir);
    auto file = [&](const std::string& name, const std::vector<uint8_t>& bytes) {
        const std::string path = dir + "/" + name;
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
        return path;
    };
    std::vector<uint8_t> header(124, 0);
    std::memcpy(header.data(), "PSID", 4);
    header[7] = 124;
    header[10] = 0x10;  // init $1000 (an RTS or whatever the data hold)
    header[13] = 0x01;  // play $0001: no code runs
    header[15] = 1;
    auto tune = [&](std::vector<uint8_t> data) {
        std::vector<uint8_t> t = header;
        t.insert(t.end(), data.begin(), data.end());
        return t;
    };
    std::vector<uint8_t> wrongMagic = tune({0x00, 0x10, 0x60});
    wrongMagic[0] = 'X';
    std::vector<uint8_t> offsetPastEnd = header;
    offsetPastEnd[7] = 200;
    const std::string fifo = dir + "/fifo.sid";
    std::filesystem::remove(fifo);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::vector<uint8_t> big(70000, 0x60);
    big[0] = 0x00, big[1] = 0x10;
    struct Case {
        std::string path;
        int32_t result;
    };
    const Case cases[] = {
        {file("empty.sid", {}), 0},
        {file("three.sid", {'P', 'S', 'I'}), 0},
        {file("117.sid", std::vector<uint8_t>(header.begin(), header.begin() + 117)), 0},
        {file("magic.sid", wrongMagic), 0},
        {file("offset.sid", offsetPastEnd), 0},
        {file("top.sid", tune({0xFF, 0xFF, 0x60, 0x60, 0x60, 0x60})), -1},  // load $FFFF, data past it: cut
        {file("big.sid", tune(big)), -1},                                   // 70000 bytes
        {file("caf\xC3\xA9 \xFF.sid", tune({0x00, 0x10, 0x60})), -1},       // non-ASCII bytes in the name
        {dir, 0},                                                           // a directory
        {dir + "/missing.sid", 0},
        {fifo, 0},  // nothing writes to it: refused at once, not waited for
        {"/dev/zero", 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(playSidtune(c.path), c.result) << c.path;
        if (c.result == 0) {
            EXPECT_TRUE(nothingAlive()) << c.path;
        }
    }
    command("StopSidtune");
    std::filesystem::remove_all(dir);
}

// RSID tunes need a real C64 and are refused: "PlaySidtune" answers false.
TEST_F(PluginTest, RsidTunesAreRefused) {
    SKIP_WITHOUT_SHARED("tunes");
    const std::filesystem::path tunes = sharedDir() / "tunes";
    load();
    int refused = 0, rsid = 0;
    for (const std::string& file : manifestFiles()) {
        const std::string path = (tunes / file).string();
        std::FILE* f = std::fopen(path.c_str(), "rb");
        ASSERT_NE(f, nullptr) << path;
        char magic[4] = {};
        const size_t n = std::fread(magic, 1, 4, f);
        std::fclose(f);
        if (n != 4 || std::memcmp(magic, "RSID", 4) != 0) continue;
        ++rsid;
        refused += playSidtune(path) == 0;
        EXPECT_TRUE(nothingAlive()) << path;
    }
    EXPECT_GT(rsid, 0);  // the data has some
    EXPECT_EQ(refused, rsid);
}

// The plugin that users load exports its two entry points and nothing else.
TEST(PluginLibrary, ExportsOnlyTheTwoEntryPoints) {
    const std::string command = std::string("nm -D --defined-only ") + SIDTUNE_PLUGIN + " 2>/dev/null";
    FILE* nm = popen(command.c_str(), "r");
    ASSERT_NE(nm, nullptr);
    std::set<std::string> symbols;
    char line[512];
    while (std::fgets(line, sizeof line, nm)) {
        char address[64], kind[8], name[400];
        if (std::sscanf(line, "%63s %7s %399s", address, kind, name) == 3) symbols.insert(name);
    }
    const int status = pclose(nm);
    if (status != 0 && symbols.empty()) GTEST_SKIP() << "no nm here";
    EXPECT_EQ(symbols, (std::set<std::string>{"Quenbrix_Init", "Quenbrix_Query"}));
}

}  // namespace
}  // namespace sidtune::test
