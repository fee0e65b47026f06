// The Windows plugin as the Quenbrix host loads it: sidtune.dll through LoadLibrary and its two
// exports, in the 32-bit build (what the host loads) and the 64-bit one alike, under Wine in the
// tests. The operations are called as the host calls them, with the C convention, also with an
// argument more than they take (the caller removes it). With a sound server the load's engine
// trial succeeds and the commands are registered; without one the load fails with the error text.
// SIDTUNE_SOUND says which to expect: "server" or "none" (unset: either).
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "plugin_contract.h"
#include "quenbrix_host.h"

namespace sidtune::test {
namespace {

// An operation as a host may call it, with one argument more than it takes.
template <typename Result>
auto withAnExtraArgument(Result(QUENBRIX_CALL* operation)(PluginObject*)) {
    return reinterpret_cast<Result(QUENBRIX_CALL*)(PluginObject*, int32_t)>(
        reinterpret_cast<void (*)()>(operation));
}

class WindowsPlugin : public ::testing::Test {
  protected:
    quenbrix::PluginHost host;
    PluginObject* plugin = nullptr;

    void SetUp() override {
        std::string error;
        ASSERT_TRUE(host.open(SIDTUNE_PLUGIN, error)) << error;
        plugin = host.init();
        ASSERT_NE(plugin, nullptr);
    }
    void TearDown() override { host.unload(); }
};

TEST_F(WindowsPlugin, ExportsAndTheOperationsThatDoNothing) {
    std::string description;
    int32_t first = 7, second = 7;
    EXPECT_EQ(host.query(description, first, second), 3);
    EXPECT_EQ(description, "for Quenbrix");
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 1);
    EXPECT_EQ(host.init(), plugin);

    const PluginOperations* ops = plugin->operations;
    EXPECT_EQ(ops->operation3(plugin), 1);
    EXPECT_EQ(withAnExtraArgument(ops->operation3)(plugin, 0x5A5A), 1);
    for (auto operation :
         {ops->operation4, ops->operation5, ops->operation6, ops->operation7, ops->operation9}) {
        operation(plugin);
        withAnExtraArgument(operation)(plugin, 0x5A5A);
    }
    char text[64];
    std::memset(text, 0x55, sizeof text);
    ops->getErrorText(plugin, text);
    for (char c : text) EXPECT_EQ(uint8_t(c), 0x55);  // no error yet: nothing written
}

TEST_F(WindowsPlugin, LoadWithOrWithoutASoundServer) {
    const char* sound = std::getenv("SIDTUNE_SOUND");
    std::string error;
    const bool loaded = host.load(error);
    if (sound != nullptr) {
        EXPECT_EQ(loaded, std::string(sound) == "server") << sound;
    }
    if (loaded) {
        expectTheCommands(host.registrations());
    } else {
        EXPECT_EQ(error, kLoadFailure);
        EXPECT_TRUE(host.registrations().empty());
    }
}

// A host that ends without the plugin's unload (exiting_host.cpp), with the player idle, playing,
// paused or fading: the process ends with the DLL loaded and the worker running (exit(), a return
// from main), or it frees the library first (FreeLibrary, which unloads it under the loader's lock).
// Each ends cleanly (exit code 0) and at once, within 0.5 s of saying it ends.
TEST(WindowsHost, EndingWithoutTheUnloadEndsCleanlyAndAtOnce) {
    const char* sound = std::getenv("SIDTUNE_SOUND");
    if (sound == nullptr || std::string(sound) != "server") GTEST_SKIP() << "it plays: needs a sound server";
    for (const char* state : {"idle", "playing", "paused", "fading"}) {
        for (const char* end : {"exit", "return", "unload-library"}) {
            SCOPED_TRACE(std::string(state) + " " + end);
            SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
            HANDLE readEnd = nullptr, writeEnd = nullptr;
            ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, &inherit, 0));
            SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
            STARTUPINFOA startup{};
            startup.cb = sizeof startup;
            startup.dwFlags = STARTF_USESTDHANDLES;
            startup.hStdOutput = writeEnd;
            startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
            std::string line = std::string("\"") + SIDTUNE_EXITING_HOST + "\" \"" + SIDTUNE_PLUGIN + "\" \"" +
                               SIDTUNE_DEMO_DIR + "/demo.sid\" " + state + " " + end;
            PROCESS_INFORMATION process{};
            ASSERT_TRUE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                       &startup, &process));
            CloseHandle(writeEnd);
            CloseHandle(process.hThread);
            // What it says, unless it hangs before it says anything (freeing the library).
            std::string said;
            for (int waited = 0; waited < 20000 && said.find('\n') == std::string::npos; ++waited) {
                DWORD ready = 0;
                char text[32];
                DWORD n = 0;
                if (PeekNamedPipe(readEnd, nullptr, 0, nullptr, &ready, nullptr) && ready > 0 &&
                    ReadFile(readEnd, text, std::min<DWORD>(ready, sizeof text), &n, nullptr)) {
                    said.append(text, n);
                } else {
                    Sleep(1);
                }
            }
            const ULONGLONG ending = GetTickCount64();
            const bool ended = WaitForSingleObject(process.hProcess, 5000) == WAIT_OBJECT_0;
            const double took = double(GetTickCount64() - ending) / 1000;
            DWORD code = 0;
            if (!ended) TerminateProcess(process.hProcess, 99);
            GetExitCodeProcess(process.hProcess, &code);
            CloseHandle(process.hProcess);
            CloseHandle(readEnd);
            EXPECT_EQ(said.substr(0, said.find_first_of("\r\n")), "ending");
            EXPECT_TRUE(ended) << "it hung";
            EXPECT_EQ(code, 0u);
            EXPECT_LT(took, 0.5);
        }
    }
}

}  // namespace
}  // namespace sidtune::test
