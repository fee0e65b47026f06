// A host that ends without the plugin's unload, as a game that its player closes may: it loads the
// plugin, brings the player to a state, and ends as it is told, with whatever plays still playing.
//
//   exiting_host PLUGIN TUNE STATE END
//     STATE  idle (loaded, nothing played), playing, paused, fading (a fade-out of 10 s under way)
//     END    exit            exit() with the plugin loaded
//            return          returns from main with the plugin loaded
//            unload-library  the library unloaded (dlclose, FreeLibrary) without the plugin's
//                            unload; 1.2 s later it returns from main
//
// It prints "ending" just before it ends, and exits with 0; 2 when the plugin did not start or the
// tune did not play. The test that runs it (playback_test.cpp, windows_plugin_test.cpp) judges how
// the process ended and how long it took.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "quenbrix_host.h"

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(
            stderr,
            "usage: exiting_host PLUGIN TUNE idle|playing|paused|fading exit|return|unload-library\n");
        return 2;
    }
    const std::string state = argv[3], end = argv[4];
    // Never deleted (its destructor would unload the library), and held where a leak check sees it.
    static quenbrix::PluginHost* const host = new quenbrix::PluginHost;
    std::string error;
    if (host->start(argv[1], error) != quenbrix::Started::Yes) {
        std::fprintf(stderr, "exiting_host: %s\n", error.c_str());
        return 2;
    }
    if (state != "idle") {
        if (host->call("PlaySidtune", {quenbrix::Value::ofText(argv[2])}).result != -1) return 2;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the worker has refilled by now
        if (state == "paused") host->call("PauseSidtune");
        if (state == "fading") host->call("FadeOutSidtune", {quenbrix::Value::ofReal(10.0)});
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (end == "unload-library") {
        host->close();
        // A host goes on after unloading a plugin: whatever of it were left running would now call
        // code that is gone, or hold the process up.
        std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    }
    std::printf("ending\n");
    std::fflush(stdout);
    if (end == "exit") std::exit(0);
    return 0;
}
