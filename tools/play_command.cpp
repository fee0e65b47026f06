// sidtune play: a song through the plugin, as a Quenbrix program plays it. On a terminal it is a
// small player for choosing songs: the tune's name and author, "song 2 of 13" and the time heard,
// updated in place, and keys (space pauses and resumes, n and p the next and previous song, + and -
// the volume, q quits). Elsewhere it prints plain lines and reads no keys. A sound output lost
// while playing is said, and the program ends with 1.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "header_text.h"
#include "quenbrix_host.h"
#include "sidtune_commands.h"
#include "stop_signal.h"
#include "terminal.h"
#include "tool_tune.h"
#include "tune/tune_loader.h"
#include "unicode.h"

namespace sidtune {
namespace {

using quenbrix::Value;

// The plugin, as a Quenbrix program drives it: every call may wait for a sound server, and a stop
// signal ends the program during one.
class Plugin {
  public:
    explicit Plugin(quenbrix::PluginHost& h) : host(h) {}
    int32_t call(const char* command, const std::vector<Value>& arguments = {}) {
        const WaitingCall waiting;
        return host.call(command, arguments).result;
    }
    bool has(const char* command) const { return host.find(command) != nullptr; }

  private:
    quenbrix::PluginHost& host;
};

// Plays song `song` of the tune at `volume` (each play starts at full volume).
bool playSong(Plugin& plugin, const std::string& tune, int song, double volume) {
    // Song 1 is what "PlaySidtune" plays; another needs "PlaySidtuneSong". The plugin takes the
    // name as a host gives it.
    const Value name = Value::ofText(hostFileName(tune));
    const bool playing = song == 1 ? plugin.call("PlaySidtune", {name}) == -1
                                   : plugin.call("PlaySidtuneSong", {name, Value::ofReal(song)}) == -1;
    if (playing && volume < 1.0) plugin.call("SetSidVolume", {Value::ofReal(volume)});
    return playing;
}

std::string clock(int32_t milliseconds) {
    const int seconds = milliseconds / 1000;
    char text[32];
    std::snprintf(text, sizeof text, "%d:%02d", seconds / 60, seconds % 60);
    return text;
}

}  // namespace

int playCommand(const PlayOptions& o) {
    // The tune's texts and songs, read here; the plugin reads the file again, as it does for any
    // program.
    ToolTune tune;
    if (!loadToolTune(o.tune, tune) || !songExists(o.tune, tune.song->tune, o.song)) return 1;
    const TuneTexts texts = tuneTexts(tune.song->tune);
    const std::string name = printableHeaderText(texts.name), author = printableHeaderText(texts.author);
    const int songs = tune.song->tune.lastSong + 1;

    catchStopSignals([](int) { restoreTerminal(); });
    quenbrix::PluginHost host;
    std::string error;
    quenbrix::Started started;
    {
        const WaitingCall waiting;
        started = host.start(o.plugin, error);
    }
    if (started != quenbrix::Started::Yes) {
        fail(error);
        return 2;
    }
    Plugin plugin(host);
    for (const char* command :
         {"PlaySidtune", "PlaySidtuneSong", "StopSidtune", "SidtuneState", "SidtuneTime", "SetSidtuneSpeed",
          "MuteSidVoice", "PauseSidtune", "ResumeSidtune", "SetSidVolume", "SidtuneSong", "SidtuneLengths",
          "SidtuneLength", "SidtuneEnded", "SetSidtuneEnd"}) {
        if (!plugin.has(command)) {
            fail(std::string("the plugin has no ") + command);
            return 2;
        }
    }
    plugin.call("SetSidtuneSpeed", {Value::ofReal(o.settings.speed)});
    for (int voice : o.settings.mute) plugin.call("MuteSidVoice", {Value::ofReal(voice), Value::ofReal(1)});
    if (!o.lengths.empty() && plugin.call("SidtuneLengths", {Value::ofText(hostFileName(o.lengths))}) == 0) {
        fail("no song lengths in " + o.lengths);
        host.unload();
        return 1;
    }
    plugin.call("SetSidtuneEnd", {Value::ofReal(o.end == "stop" ? 1 : o.end == "next" ? 2 : 0)});

    int song = o.song;
    double volume = 1.0;
    if (!playSong(plugin, o.tune, song, volume)) {
        fail("the plugin cannot play " + o.tune);
        plugin.call("StopSidtune");
        host.unload();
        return 1;
    }
    KeyReader keys;
    if (keys.active()) {
        std::printf("\"%s\" by %s\n", name.c_str(), author.c_str());
        std::printf(
            "space pauses and resumes, n and p the next and previous song, + and - the volume, q quits\n");
    } else {
        std::printf("Playing \"%s\" by %s, song %d of %d. Ctrl-C stops.\n", name.c_str(), author.c_str(),
                    song, songs);
    }
    std::fflush(stdout);

    const auto start = std::chrono::steady_clock::now();
    bool lost = false, ended = false;
    for (bool quit = false; !quit;) {
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (stopSignal() != 0 || (o.seconds > 0 && elapsed >= o.seconds)) break;
        if (plugin.call("SidtuneState") == 0) {
            // Nothing here stopped it: the song ended (--end stop), or its output went away.
            ended = plugin.call("SidtuneEnded") == -1;
            lost = !ended;
            break;
        }
        for (int key = keys.next(); key >= 0; key = keys.next()) {
            if (key == 'q' || key == 'Q') {
                quit = true;
            } else if (key == ' ') {
                plugin.call(plugin.call("SidtuneState") == 2 ? "ResumeSidtune" : "PauseSidtune");
            } else if (key == 'n' || key == 'p') {
                song = key == 'n' ? song % songs + 1 : (song + songs - 2) % songs + 1;
                if (!playSong(plugin, o.tune, song, volume)) lost = quit = true;
            } else if (key == '+' || key == '=' || key == '-') {
                volume = std::max(0.0, std::min(1.0, volume + (key == '-' ? -0.1 : 0.1)));
                plugin.call("SetSidVolume", {Value::ofReal(volume)});
            }
        }
        if (keys.active()) {
            const bool paused = plugin.call("SidtuneState") == 2;
            song = plugin.call("SidtuneSong");  // the next song follows by itself with --end next
            const int32_t length = plugin.call("SidtuneLength");
            const std::string time =
                clock(plugin.call("SidtuneTime")) + (length != 0 ? " / " + clock(length) : std::string());
            // Fields of fixed width: the line is written over in place.
            std::printf("\r  song %3d of %3d   %13s   volume %3d%%   %-6s", song, songs, time.c_str(),
                        int(volume * 100 + 0.5), paused ? "paused" : "");
            std::fflush(stdout);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    plugin.call("StopSidtune");
    {
        const WaitingCall waiting;
        host.unload();
    }
    if (keys.active()) std::printf("\n");
    restoreTerminal();
    if (lost) {
        fail("the sound output was lost");
        return 1;
    }
    std::printf(ended ? "Ended.\n" : "Stopped.\n");
    return stopSignal() != 0 ? exitCodeFor(stopSignal()) : 0;
}

}  // namespace sidtune
