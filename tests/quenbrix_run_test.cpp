// quenbrix-run, the reference host, running scripts against the plugin built on the simulated
// audio platform: what it prints, and its error messages.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "plugin_contract.h"
#include "program_support.h"
#include "test_support.h"
#include "unicode.h"

namespace sidtune::test {
namespace {

namespace fs = std::filesystem;

class QuenbrixRunTest : public ProgramTest {
  protected:
    ProgramRun runScript(const std::string& script, const std::string& environment = "",
                         const std::string& plugin = SIDTUNE_SIM_PLUGIN, const std::string& options = "") {
        std::ofstream(dir / "script.qb", std::ios::binary) << script;
        return runCommand(environment + " " + SIDTUNE_QUENBRIX_RUN + " " + options + " --plugin " + plugin +
                          " " + (dir / "script.qb").string());
    }
    std::string where(int line) { return (dir / "script.qb").string() + ":" + std::to_string(line) + ": "; }
};

TEST_F(QuenbrixRunTest, RunsAScriptAgainstThePlugin) {
    const std::string demo = demoTune("demo.sid");
    const std::string script =
        "\xEF\xBB\xBF' plays a tune, in a file that begins with a byte order mark\n"
        "ok = PlaySidtune(\"" +
        demo +
        "\")   ' a function\n"
        "Print ok\n"
        "setsidvolume 0.5\n"
        "SetSidVolume 1\n"
        "Wait 10\n"
        "StopSidtune\n"
        "\n"
        "bad = PlaySidtune(\"/no/such.sid\")\n"
        "Print bad\n"
        "name = \"done, it's \"\"over\"\"\"\n"
        "Print name\n"
        "Print 2.5\n"
        "Print 1e3\r\n"
        "Print -2.5E-1\n"
        "Print 2147483648\n"  // beyond the integers: a real
        "SetSidVolume 2147483648\n"
        "ok = PlaySidtuneSong(\"" +
        demoTune("effects.sid") +
        "\", 3)\n"
        "songs = SidtuneSongs\n"
        "PauseSidtune\n"
        "Print songs\n";
    const std::string printed = "-1\n0\ndone, it's \"over\"\n2.5\n1000\n-0.25\n2.14748e+09\n3\n";
    ProgramRun r = runScript(script);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, printed);  // what the script prints, and nothing else

    // With -v the host describes the plugin on stderr, then each call and its result, with why a play
    // gave 0; stdout is the same.
    r = runScript(script, "", SIDTUNE_SIM_PLUGIN, "-v");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, printed);
    std::string described = "plugin: \"for Quenbrix\" (0, 1) -> 3\n";
    for (const ExpectedCommand& c : expectedCommands()) {
        std::string parameters;
        for (int32_t type : c.parameters)
            parameters +=
                std::string(parameters.empty() ? "" : ", ") + (type == kQuenbrixReal ? "real" : "string");
        described += std::string("registered ") + (c.function ? "function " : "procedure ") + c.name + "(" +
                     parameters + ")" + (c.function ? " as integer" : "") + "\n";
    }
    EXPECT_EQ(r.err.substr(0, described.size()), described);
    for (const char* call :
         {"SetSidVolume(0.5)\n", "StopSidtune()\n",
          "PlaySidtune(\"/no/such.sid\") = 0  (/no/such.sid: no such file)\n", "SidtuneSongs() = 3\n"})
        EXPECT_NE(r.err.find(call, described.size()), std::string::npos) << call << r.err;
}

TEST_F(QuenbrixRunTest, ScriptErrorsNameTheFileAndLine) {
    struct Case {
        std::string script;
        int line;
        std::string message;
    };
    const Case cases[] = {
        {"Print 1\nFoo 1\n", 2, "unknown command Foo"},
        {"ok = 0\nIf ok = 0 Then Print ok\n", 2,
         "If is Quenbrix's, not quenbrix-run's: a script here runs from top to bottom, without If, loops or "
         "jumps (see --help)"},
        {"SetSidVolume\n", 1, "SetSidVolume takes 1 argument, not 0"},
        {"SetSidVolume 0.5, 1\n", 1, "SetSidVolume takes 1 argument, not 2"},
        {"SetSidVolume \"loud\"\n", 1, "argument 1 of SetSidVolume must be a number"},
        {"ok = PlaySidtune(5)\n", 1, "argument 1 of PlaySidtune must be a string"},
        {"ok = PlaySidtune(\"a.sid\"\n", 1, "syntax error: ')' expected"},
        {"x = StopSidtune()\n", 1, "StopSidtune is a procedure and gives no value"},
        {"x = FooBar(1)\n", 1, "unknown function FooBar"},
        {"Print \"open\n", 1, "a string is not closed"},
        {"Print \"open\"\"\n", 1, "a string is not closed"},
        {"Print nothing\n", 1, "variable nothing has no value"},
        {"Print 1e\n", 1, "syntax error: unexpected text at the end of the line"},
        {"Wait \"long\"\n", 1, "Wait takes 0 to 2147483647 milliseconds"},
        {"Wait 1e12\n", 1, "Wait takes 0 to 2147483647 milliseconds"},
        {"Wait -1\n", 1, "Wait takes 0 to 2147483647 milliseconds"},
        {"StopSidtune 1 2\n", 1, "syntax error: unexpected text at the end of the line"},
        {"123\n", 1, "syntax error: a statement begins with a name"},
    };
    for (const Case& c : cases) {
        const ProgramRun r = runScript(c.script);
        EXPECT_EQ(r.exitCode, 1) << c.script;
        EXPECT_EQ(r.err, where(c.line) + c.message + "\n") << c.script;
    }
}

// The encodings a script may be saved in, as Notepad saves them: UTF-8 with a byte order mark or
// without, UTF-16 (little- or big-endian, with its mark), or a code page's bytes. A Unicode script
// names a tune beyond ASCII and the plugin finds it; a code page's bytes go to the plugin as they are.
TEST_F(QuenbrixRunTest, ScriptsInEveryEncodingNotepadSaves) {
    const std::string tune = (dir / "H\xC3\xBClsbeck Delta.sid").string();
    fs::copy_file(demoTune("demo.sid"), pathOf(tune));
    const std::string text =
        "ok = PlaySidtune(\"" + tune + "\")\r\nPrint ok\r\nPrint \"H\xC3\xBClsbeck\"\r\n";
    auto utf16 = [&](bool bigEndian) {
        std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
        for (size_t i = 0; i < text.size(); ++i) {
            // Every character here is one or two bytes of UTF-8, below U+0800.
            uint32_t c = uint8_t(text[i]);
            if (c >= 0xC0) c = (c & 0x1F) << 6 | (uint8_t(text[++i]) & 0x3F);
            out += bigEndian ? std::string{char(c >> 8), char(c)} : std::string{char(c), char(c >> 8)};
        }
        return out;
    };
    struct Case {
        const char* name;
        std::string script;
        std::string printed;
    };
    const Case cases[] = {
        {"UTF-8", text, "-1\nH\xC3\xBClsbeck\n"},
        {"UTF-8 with its mark", "\xEF\xBB\xBF" + text, "-1\nH\xC3\xBClsbeck\n"},
        {"UTF-16", utf16(false), "-1\nH\xC3\xBClsbeck\n"},
        {"UTF-16, big-endian", utf16(true), "-1\nH\xC3\xBClsbeck\n"},
        // Latin-1's bytes name no file here (its names are UTF-8): 0, the bytes printed as they are.
        {"a code page", "ok = PlaySidtune(\"H\xFClsbeck.sid\")\nPrint ok\nPrint \"H\xFClsbeck\"\n",
         "0\nH\xFClsbeck\n"},
    };
    for (const Case& c : cases) {
        const ProgramRun r = runScript(c.script);
        EXPECT_EQ(r.exitCode, 0) << c.name << ": " << r.err;
        EXPECT_EQ(r.out, c.printed) << c.name;
    }
}

// Script paths that cannot be run: one message, exit code 1, nothing run.
TEST_F(QuenbrixRunTest, ScriptsThatCannotBeRead) {
    const fs::path unreadable = dir / "secret.qb";
    std::ofstream(unreadable) << "Print 1\n";
    fs::permissions(unreadable, fs::perms::none);
    struct Case {
        fs::path script;
        std::string message;
    };
    std::vector<Case> cases = {{dir, "is a directory"}, {dir / "none.qb", "No such file or directory"}};
    if (!std::ifstream(unreadable).good()) cases.push_back({unreadable, "Permission denied"});
    for (const Case& c : cases) {
        const ProgramRun r = runCommand(std::string(SIDTUNE_QUENBRIX_RUN) + " --plugin " +
                                        SIDTUNE_SIM_PLUGIN + " " + c.script.string());
        EXPECT_EQ(r.exitCode, 1) << c.script;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
}

// The example scripts run as they are, but for their waits, from their folder in the build, beside
// the tunes, as the README and the guide say: each prints first that its tune plays (-1, no error),
// or that it read the examples' song-length database (2 tunes, the jingle 2500 ms long). Run from
// another folder, an example says that its tune could not be read (0, error 1).
TEST_F(QuenbrixRunTest, TheExampleScriptsRun) {
    struct Case {
        const char* example;
        std::string folder;
        const char* printsFirst;
    };
    const std::string examples = SIDTUNE_DEMO_DIR;
    for (const Case& c : {Case{"demo.qb", examples, "-1\n0\n"}, Case{"game.qb", examples, "-1\n0\n"},
                          Case{"ends.qb", examples, "2\n2500\n"}, Case{"demo.qb", dir.string(), "0\n1\n"}}) {
        std::ifstream in(fs::path(examples) / c.example);
        std::string script;
        for (std::string line; std::getline(in, line);) {
            if (line.rfind("Wait ", 0) != 0) script += line + "\n";
        }
        ASSERT_NE(script, "") << c.example;
        std::ofstream(dir / c.example) << script;
        const ProgramRun r = runCommand("cd " + c.folder + " && " + SIDTUNE_QUENBRIX_RUN + " --plugin " +
                                        SIDTUNE_SIM_PLUGIN + " " + (dir / c.example).string());
        EXPECT_EQ(r.exitCode, 0) << c.example << ": " << r.err;
        EXPECT_EQ(r.err, "") << c.example;
        EXPECT_EQ(r.out.rfind(c.printsFirst, 0), 0u) << c.example << " in " << c.folder << ": " << r.out;
    }
}

TEST_F(QuenbrixRunTest, AFailedLoadPrintsThePluginsErrorText) {
    const ProgramRun r = runScript("StopSidtune\n", "SIDTUNE_SIM_FAIL=1");  // the device cannot be created
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, "fatal error: can't init SID engine !\n");
}

TEST_F(QuenbrixRunTest, AMissingPluginIsAnError) {
    const ProgramRun r = runScript("StopSidtune\n", "", (dir / "nothing.so").string());
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("quenbrix-run: "), std::string::npos);
    EXPECT_NE(r.err.find("(name the plugin with --plugin FILE)"), std::string::npos) << r.err;
    // A bare call: a short usage on standard error.
    const ProgramRun bare = runCommand(SIDTUNE_QUENBRIX_RUN);
    EXPECT_EQ(bare.exitCode, 2);
    EXPECT_EQ(bare.out, "");
    EXPECT_EQ(bare.err, "usage: quenbrix-run [OPTIONS] SCRIPT\nrun with --help for more\n");
}

}  // namespace
}  // namespace sidtune::test
