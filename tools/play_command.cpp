// sidtune play: a song through the plugin, as a Quenbrix program plays it. On a terminal it is a
// small player for choosing songs: the tune's name and author, "song 2 of 13" and the time heard,
// the three voices as they are heard (voice_view.h), redrawn in place about 25 times a second, and
// keys (space pauses and resumes, n and p the next and previous song, left and right seek 5 s, + and
// - the volume, q quits). The voices' notes and waveforms come from a song of the tool's own, made
// up to the time the plugin says is heard with the same settings; their levels from the plugin. Elsewhere it
// prints plain lines and reads no keys. A sound output lost while playing is said, and the program ends
// with 1.
#include <algorithm>
#include <array>
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
#include "voice_view.h"

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

// The tool's own copy of the song heard, for the registers the plugin does not tell: made up to
// the time heard, begun again when the song changes or its time goes back (a seek, a loop).
struct Mirror {
    const ToolTune& tune;
    const SongOptions& settings;
    int song = 0;  // from 1; 0 none yet
    uint64_t made = 0;

    const SidChip& at(int heardSong, int32_t milliseconds) {
        Song& s = *tune.song;
        const uint64_t target = uint64_t(std::max(0, milliseconds)) * kSampleRate / 1000;
        if (heardSong != song || target < made) {
            applySongOptions(s, settings);
            beginTune(s, tune.bytes.data(), tune.bytes.size(), std::max(0, heardSong - 1));
            song = heardSong;
            made = 0;
        }
        skipSong(s, target - made);
        made = target;
        return s.machine.sid;
    }
};

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
    plugin.call("SetSidtuneFaithful", {Value::ofReal(o.settings.faithful ? 1 : 0)});
    for (int voice : o.settings.mute) plugin.call("MuteSidVoice", {Value::ofReal(voice), Value::ofReal(1)});
    if (!o.lengths.empty() && plugin.call("SidtuneLengths", {Value::ofText(hostFileName(o.lengths))}) == 0) {
        fail("no song lengths in " + o.lengths);
        host.unload();
        return 1;
    }
    plugin.call("SetSidtuneEnd", {Value::ofReal(o.end == "stop"   ? 1
                                                : o.end == "next" ? 2
                                                : o.end == "loop" ? 3
                                                                  : 0)});

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
            "space pauses and resumes, n and p the next and previous song, left and right seek 5 s, + and -\n"
            "the volume, q quits\n");
    } else {
        std::printf("Playing \"%s\" by %s, song %d of %d. Ctrl-C stops.\n", name.c_str(), author.c_str(),
                    song, songs);
    }
    std::fflush(stdout);

    const auto start = std::chrono::steady_clock::now();
    bool lost = false, ended = false, drawn = false;
    Mirror mirror{tune, o.settings};
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
            } else if (key == 27 && keys.next() == '[') {
                // An arrow key: left and right seek 5 s back and on.
                const int arrow = keys.next();
                const int32_t now = plugin.call("SidtuneTime");
                if ((arrow == 'C' || arrow == 'D') && plugin.has("SeekSidtune"))
                    plugin.call("SeekSidtune",
                                {Value::ofReal(std::max(0.0, now / 1000.0 + (arrow == 'C' ? 5 : -5)))});
            } else if (key == '+' || key == '=' || key == '-') {
                volume = std::max(0.0, std::min(1.0, volume + (key == '-' ? -0.1 : 0.1)));
                plugin.call("SetSidVolume", {Value::ofReal(volume)});
            }
        }
        if (!keys.active()) {
            // Without a terminal, a line when the next song follows (--end next).
            if (const int32_t now = plugin.call("SidtuneSong"); now != song && now != 0) {
                song = now;
                std::printf("song %d of %d\n", song, songs);
                std::fflush(stdout);
            }
        } else {
            const bool paused = plugin.call("SidtuneState") == 2;
            song = plugin.call("SidtuneSong");  // the next song follows by itself with --end next
            const int32_t length = plugin.call("SidtuneLength");
            const std::string time =
                clock(plugin.call("SidtuneTime")) + (length != 0 ? " / " + clock(length) : std::string());
            std::array<int32_t, 3> levels{};
            for (int v = 0; v < 3; ++v)
                levels[size_t(v)] =
                    plugin.has("SidVoiceLevel") ? plugin.call("SidVoiceLevel", {Value::ofReal(v + 1)}) : 0;
            const std::array<std::string, 4> voices =
                voiceLines(mirror.at(song, plugin.call("SidtuneTime")), levels);
            // Fields of fixed width, the lines written over in place: the cursor goes back up to the
            // first, and each line is cleared past its end.
            std::printf("%s\r  song %3d of %3d   %13s   volume %3d%%   %-6s\x1b[K", drawn ? "\x1b[4A" : "",
                        song, songs, time.c_str(), int(volume * 100 + 0.5), paused ? "paused" : "");
            for (const std::string& line : voices) std::printf("\n%s\x1b[K", line.c_str());
            drawn = true;
            std::fflush(stdout);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
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
