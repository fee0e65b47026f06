// sidtune: the command-line companion of the plugin. This file reads the command line; each
// command is a file of its own (sidtune_commands.h).
//
//   sidtune render TUNE -o OUT.wav -t SECONDS [--song N] [--speed R] [--mute V,...] [--fade-out S]
//                                renders a tune offline, block by block, exactly as the player
//                                does, into a 16-bit mono WAV file at the player's rate
//   sidtune info TUNE [--json]   loads a tune as the player does and prints what it found
//   sidtune play TUNE [--song N] [--seconds S] [--speed R] [--mute V,...] [--plugin PATH]
//                                plays a tune through the plugin, as a Quenbrix program does
//   sidtune check PATH... [--seconds S] [--json] [--jobs N]
//                                will these tunes play here? a verdict for every song
#include <algorithm>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "command_line.h"
#include "quenbrix_host.h"
#include "sidtune_commands.h"
#include "tool_tune.h"
#include "wav_file.h"

namespace {

using namespace sidtune;

// The longest render a WAV file can hold: its sizes are 32-bit, so at most 4 GiB of samples, less
// the header's 36 bytes counted in the RIFF size, in whole half-second blocks: 48695.5 seconds.
constexpr uint32_t kMaxBlocks = uint32_t((0xFFFFFFFFull - (wav::kHeaderBytes - 8)) / kBlockBytes);
constexpr double kMaxSeconds = kMaxBlocks / 2.0;

const char* const kExitCodes =
    "Exit codes: 0 done; 1 the tune or a file could not be read or written; 2 a usage error, or the\n"
    "plugin did not load (play); 128 + the signal's number when stopped by SIGINT (130) or SIGTERM (143).";

// The options of the player's settings, for render and play alike.
void addSongSettings(CLI::App* command, SongSettings& settings) {
    command->add_option("--speed", settings.speed, "The tempo, 0.25 to 4.0, as SetSidtuneSpeed (default 1)")
        ->check(CLI::Range(0.25, 4.0));
    command
        ->add_option("--mute", settings.mute,
                     "Voices left out of the mix, as MuteSidVoice: 1, 2 or 3, comma-separated")
        ->delimiter(',')
        ->check(CLI::Range(1, 3));
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"sidtune: plays Commodore 64 PSID tunes"};
    prepareCommandLine(app, "sidtune");
    app.require_subcommand(1);
    app.footer(kExitCodes);

    std::string tunePath;
    bool json = false;
    RenderOptions render;
    PlayOptions play;
    CheckOptions check;
    play.plugin = quenbrix::PluginHost::defaultPluginPath();
    check.jobs = std::max(1u, std::thread::hardware_concurrency());
    CLI::App* infoCommand = app.add_subcommand("info", "Print what the player reads from a tune");
    infoCommand->add_option("TUNE", tunePath, "PSID tune file")->required();
    infoCommand->add_flag("--json", json, "Print one JSON object");

    char lengthHelp[160];
    std::snprintf(lengthHelp, sizeof lengthHelp,
                  "Length in seconds, in whole half-second blocks: more than 0, at most %.1f (a WAV file "
                  "holds 4 GiB)",
                  kMaxSeconds);
    CLI::App* renderCommand =
        app.add_subcommand("render", "Render a tune to a WAV file, as the player makes it");
    renderCommand->add_option("TUNE", render.tune, "PSID tune file")->required();
    renderCommand->add_option("-o,--output", render.output, "WAV file to write")->required();
    renderCommand->add_option("-t,--seconds", render.seconds, lengthHelp)->required();
    renderCommand->add_option("--song", render.song, "Song number, counted from 1 (default 1)");
    addSongSettings(renderCommand, render.settings);
    renderCommand
        ->add_option("--fade-out", render.fadeOut, "The last SECONDS fade to silence, as FadeOutSidtune")
        ->check(CLI::NonNegativeNumber);

    CLI::App* playCommand =
        app.add_subcommand("play", "Play a tune through the plugin, as a Quenbrix program does");
    playCommand->add_option("TUNE", play.tune, "PSID tune file")->required();
    playCommand->add_option("--song", play.song, "Song number, counted from 1 (default 1)");
    playCommand
        ->add_option("--seconds", play.seconds,
                     "Stop after this many seconds, more than 0 (default: until Ctrl-C)")
        ->check(positiveSeconds());
    addSongSettings(playCommand, play.settings);
    playCommand->add_option("--plugin", play.plugin,
                            "The plugin library (default: the one installed with this program)");

    CLI::App* checkCommand = app.add_subcommand(
        "check", "Will these tunes play here? A verdict for every song of every tune file");
    checkCommand->add_option("PATH", check.paths, "Tune files and folders (walked recursively)")->required();
    checkCommand->add_option("--seconds", check.seconds, "Seconds of each song to render (default 30)")
        ->check(positiveSeconds());
    checkCommand->add_flag("--json", check.json, "One JSON object per line");
    checkCommand->add_option("--jobs", check.jobs, "Songs checked at once (default: the hardware threads)")
        ->check(CLI::Range(1u, 256u));
    checkCommand->footer(
        "Verdicts: plays; silent (a peak-to-peak swing of at most 655, 1% of full scale); stalls (an init or "
        "play call was cut off: the tune waits for hardware that is not here); refused (not a PSID tune, or "
        "a "
        "file that cannot be read). Exit codes: 0 the walk completed, whatever the verdicts; 1 a PATH does "
        "not "
        "exist; 2 a usage error.");

    if (const int code = parseCommandLine(app, argc, argv); code >= 0) return code;
    if (checkCommand->parsed()) return sidtune::checkCommand(check);
    if (infoCommand->parsed()) return sidtune::infoCommand(tunePath, json);
    if (playCommand->parsed()) return sidtune::playCommand(play);
    if (renderCommand->parsed()) {
        if (!(render.seconds > 0) || render.seconds > kMaxSeconds) {
            char limit[128];
            std::snprintf(limit, sizeof limit,
                          "the length must be more than 0 and at most %.1f seconds (a WAV file holds 4 GiB)",
                          kMaxSeconds);
            fail(limit);
            return 1;
        }
        return sidtune::renderCommand(render);
    }
    return 0;
}
