// What every build of the plugin must show a host, whatever its platform: the commands it
// registers, in order, with their kinds and parameter types. Shared by the tests that load the
// Linux library and those that load the Windows DLL.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "quenbrix_host.h"

namespace sidtune::test {

constexpr char kLoadFailure[] = "fatal error: can't init SID engine !";

struct ExpectedCommand {
    const char* name;
    bool function;
    std::vector<int32_t> parameters;
};

// The commands, in the order of their registration.
inline const std::vector<ExpectedCommand>& expectedCommands() {
    static const std::vector<ExpectedCommand> commands = {
        {"PlaySidtune", true, {kQuenbrixString}},
        {"StopSidtune", false, {}},
        {"SetSidVolume", false, {kQuenbrixReal}},
        {"PlaySidtuneSong", true, {kQuenbrixString, kQuenbrixReal}},
        {"SidtuneSongs", true, {}},
        {"PauseSidtune", false, {}},
        {"ResumeSidtune", false, {}},
        {"FadeSidVolume", false, {kQuenbrixReal, kQuenbrixReal}},
        {"FadeOutSidtune", false, {kQuenbrixReal}},
        {"SidtuneState", true, {}},
        {"SidtuneSong", true, {}},
        {"SidtuneTime", true, {}},
        {"SetSidtuneSpeed", false, {kQuenbrixReal}},
        {"MuteSidVoice", false, {kQuenbrixReal, kQuenbrixReal}},
        {"SidtuneError", true, {}},
        {"SetSidtuneQuickStart", false, {kQuenbrixReal}},
        {"SidtuneLengths", true, {kQuenbrixString}},
        {"SidtuneLength", true, {}},
        {"SidtuneEnded", true, {}},
        {"SetSidtuneEnd", false, {kQuenbrixReal}},
        {"PlaySidEffect", true, {kQuenbrixString, kQuenbrixReal, kQuenbrixReal}},
        {"StopSidEffects", false, {}},
        {"SidEffectsPlaying", true, {}},
        {"SetSidEffectVolume", false, {kQuenbrixReal}},
        {"SetSidMusicDuck", false, {kQuenbrixReal}},
        {"CrossfadeSidtune", true, {kQuenbrixString, kQuenbrixReal, kQuenbrixReal}},
        {"SeekSidtune", true, {kQuenbrixReal}},
        {"SidVoiceLevel", true, {kQuenbrixReal}},
        {"SidtuneLevel", true, {}},
        {"SidtuneEndsHeard", true, {}},
        {"SetSidtuneFaithful", false, {kQuenbrixReal}},
    };
    return commands;
}

inline void expectTheCommands(const std::vector<quenbrix::Registration>& registered) {
    const std::vector<ExpectedCommand>& expected = expectedCommands();
    ASSERT_EQ(registered.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(registered[i].name, expected[i].name) << i;
        EXPECT_EQ(registered[i].function, expected[i].function) << expected[i].name;
        if (expected[i].function) {
            EXPECT_EQ(registered[i].resultType, kQuenbrixInteger) << expected[i].name;
        }
        EXPECT_EQ(registered[i].parameters, expected[i].parameters) << expected[i].name;
    }
}

}  // namespace sidtune::test
