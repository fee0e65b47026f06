// The plugin's outward face: the two exports and the plugin object. Everything else in the
// library is hidden.
#include <cstring>

#include "audio/platform.h"
#include "engine/player.h"
#include "plugin/commands.h"
#include "plugin/host_interface.h"

#if defined(_WIN32)
#include <windows.h>
#define SIDTUNE_EXPORT __declspec(dllexport)
#else
#define SIDTUNE_EXPORT __attribute__((visibility("default")))
#endif

namespace {

using namespace sidtune;

constexpr char kDescription[] = "for Quenbrix";
constexpr char kLoadFailure[] = "fatal error: can't init SID engine !";

// Empty until a load fails; nothing clears it.
char errorText[sizeof kLoadFailure];

int32_t QUENBRIX_CALL load(PluginObject*, FunctionRegistry* registry) {
    // A trial of the whole audio engine: without a device the plugin is of no use. (Running out
    // of memory on the way counts as a failed trial: no exception reaches the host.)
    bool trial = false;
    try {
        trial = setUpEngine(player);
    } catch (...) {
        shutDownEngine(player);
    }
    if (!trial) {
        std::memcpy(errorText, kLoadFailure, sizeof kLoadFailure);
        return 0;
    }
    shutDownEngine(player);
    registerCommands(registry);
    return 1;
}

// After this the host may unload the library: nothing of ours may still be running. The player's
// settings (tempo, muted voices, quick start) last until here.
void QUENBRIX_CALL unload(PluginObject*) {
    endPlayer();
    resetSettings(player);
}

int32_t QUENBRIX_CALL answerOne(PluginObject*) { return 1; }

void QUENBRIX_CALL doNothing(PluginObject*) {}

void QUENBRIX_CALL getErrorText(PluginObject*, char* text) {
    // The characters only: the host hands over a zero-filled buffer when it needs a terminator.
    if (errorText[0] != 0) std::memcpy(text, errorText, std::strlen(errorText));
}

const PluginOperations operations = {
    load, unload, answerOne, doNothing, doNothing, doNothing, doNothing, getErrorText, doNothing,
};

PluginObject plugin = {&operations};

}  // namespace

#if defined(_WIN32)
// A host may end without the plugin's unload (commands.cpp). On Windows the library's entry point is
// told which way. FreeLibrary (no `reserved`): the player is ended here, under the loader's lock, so
// its threads are waited for only until they leave the library's code, and DirectSound's objects are
// let go unreleased (platform::unloadingWithoutUnload). The end of the process (`reserved`): every
// other thread has been ended already, and the system frees what is left; nothing is done.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
        platform::unloadingWithoutUnload();
        endPlayer();
    }
    return TRUE;
}
#endif

extern "C" SIDTUNE_EXPORT int32_t QUENBRIX_CALL Quenbrix_Query(char* text, int32_t* first, int32_t* second) {
    std::memcpy(text, kDescription, sizeof kDescription);
    *first = 0;
    *second = 1;
    return 3;
}

extern "C" SIDTUNE_EXPORT PluginObject* QUENBRIX_CALL Quenbrix_Init() { return &plugin; }
