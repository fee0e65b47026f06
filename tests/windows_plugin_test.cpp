// The Windows plugin as the Quenbrix host loads it: sidtune.dll through LoadLibrary and its two
// exports, in the 32-bit build (what the host loads) and the 64-bit one alike, under Wine in the
// tests. The operations are called as the host calls them, with the C convention, also with an
// argument more than they take (the caller removes it). With a sound server the load's engine
// trial succeeds and the commands are registered; without one the load fails with the error text.
// SIDTUNE_SOUND says which to expect: "server" or "none" (unset: either).
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace sidtune::test
