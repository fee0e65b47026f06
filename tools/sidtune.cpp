// sidtune: the command-line companion of the plugin. This file reads the command line; each
// command is a file of its own (sidtune_commands.h).
//
//   sidtune render TUNE -o OUT.wav (-t SECONDS | --lengths DB) [--song N] [--speed R]
//                  [--mute V,...] [--faithful] [--start S] [--fade-out S]
//                                renders a song offline, block by block, exactly as the player
//                                does, into a 16-bit mono WAV file at the player's rate
//   sidtune info TUNE [--json] [--lengths DB]
//                                what a tune is, in words or JSON
//   sidtune play TUNE [--song N] [--seconds S] [--speed R] [--mute V,...] [--faithful] [--lengths DB]
//                [--end on|stop|next|loop] [--plugin PATH]
//                                plays a tune through the plugin, as a Quenbrix program does
//   sidtune check PATH... [--seconds S] [--lengths DB] [--json] [--jobs N] [--faithful]
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
#include "unicode.h"
#include "wav_file.h"

namespace {

using namespace sidtune;

// The longest render a WAV file can hold: its sizes are 32-bit, so at most 4 GiB of samples, less
// the header's 36 bytes counted in the RIFF size, in whole half-second blocks: 48695.5 seconds.
constexpr uint32_t kMaxBlocks = uint32_t((0xFFFFFFFFull - (wav::kHeaderBytes - 8)) / kBlockBytes);
constexpr double kMaxSeconds = kMaxBlocks / 2.0;

std::string exitCodes() {
    return std::string(
               "Exit codes: 0 done; 1 the tune or a file could not be read or written; 2 a usage error, or "
               "the plugin did not load (play); ") +
           kStoppedExitCodes + ".";
}

void addFaithful(CLI::App* command, bool& faithful) {
    command->add_flag("--faithful", faithful,
                      "As the tune's machine plays it, as SetSidtuneFaithful: its clock (NTSC or PAL), its "
                      "frame rate, its second and third chip");
}

// The options of the player's settings, for render and play alike.
void addSongSettings(CLI::App* command, SongOptions& settings) {
    command->add_option("--speed", settings.speed, "The tempo, 0.25 to 4.0, as SetSidtuneSpeed (default 1)")
        ->type_name("R")
        ->check(within(0.25, 4.0));
    command
        ->add_option("--mute", settings.mute,
                     "Voices left out of the mix, as MuteSidVoice: 1, 2 or 3, comma-separated")
        ->type_name("V,...")
        ->expected(1, 3)  // no " ..." after the name: the commas say it
        ->delimiter(',')
        ->check(within(1, 3));
    addFaithful(command, settings.faithful);
}

// --effect and --crossfade: the text of the form (the file is read when the render begins).
CLI::Validator mixEventCheck(bool crossfade) {
    const std::string form = crossfade ? "FILE:SONG@SECONDS:DURATION" : "FILE:SONG@SECONDS[:LENGTH]";
    return CLI::Validator(
        [crossfade, form](std::string& text) {
            return mixEventForm(text, crossfade) ? std::string() : "\"" + text + "\" is not " + form;
        },
        "");
}

void addLengths(CLI::App* command, std::string& path, const char* what) {
    command->add_option("--lengths", path, what)->type_name("DB");
}

}  // namespace

int main(int argc, char** argv) {
    Utf8Arguments arguments(argc, argv);
    CLI::App app{"sidtune: plays Commodore 64 PSID tunes, as the Quenbrix plugin does"};
    prepareCommandLine(app, "sidtune");
    app.require_subcommand(1);
    app.footer("Commands: sidtune help COMMAND tells more of each.\n\n" + exitCodes());

    InfoOptions info;
    RenderOptions render;
    PlayOptions play;
    CheckOptions check;
    play.plugin = quenbrix::PluginHost::defaultPluginPath();
    check.jobs = std::max(1u, std::thread::hardware_concurrency());

    CLI::App* infoCommand =
        app.add_subcommand("info", "What a tune is: its songs, its pacing, what sounds otherwise here");
    infoCommand->add_option("TUNE", info.tune, "The tune file")->required()->type_name("");
    infoCommand->add_flag("--json", info.json, "One JSON object: the header's fields, notes and warnings");
    addLengths(infoCommand, info.lengths, "A song-length database (Songlengths.md5): each song's length");
    infoCommand->footer("Example: sidtune info music/title.sid --lengths Songlengths.md5");

    char lengthHelp[200];
    std::snprintf(
        lengthHelp, sizeof lengthHelp,
        "Length in seconds, in whole half-second blocks: more than 0, at most %.1f (a WAV file holds "
        "4 GiB); without it, the song's length from --lengths",
        kMaxSeconds);
    CLI::App* renderCommand =
        app.add_subcommand("render", "Render a song to a WAV file, as the player makes it");
    renderCommand->add_option("TUNE", render.tune, "The tune file")->required()->type_name("");
    renderCommand->add_option("-o,--output", render.output, "The WAV file to write; - for standard output")
        ->required()
        ->type_name("FILE");
    renderCommand->add_option("-t,--seconds", render.seconds, lengthHelp)->type_name("SECONDS");
    renderCommand->add_option("--song", render.song, "Song number, counted from 1 (default 1)")
        ->type_name("N");
    addLengths(renderCommand, render.lengths, "A song-length database (Songlengths.md5): the song's length");
    addSongSettings(renderCommand, render.settings);
    renderCommand
        ->add_option("--start", render.start,
                     "The song from this time on, as SeekSidtune: its first SECONDS made and left out")
        ->type_name("SECONDS")
        ->check(within(0, kMostSeekSeconds));
    renderCommand
        ->add_option("--fade-out", render.fadeOut, "The last SECONDS fade to silence, as FadeOutSidtune")
        ->type_name("SECONDS")
        ->check(within(0, kMaxSeconds));
    renderCommand
        ->add_option("--effect", render.effects,
                     "A song laid over the music from SECONDS on, as PlaySidEffect: for LENGTH seconds, or "
                     "else its length from --lengths, or else until it has been silent for half a second "
                     "(repeatable)")
        ->type_name("FILE:SONG@SECONDS[:LENGTH]")
        ->check(mixEventCheck(false));
    renderCommand
        ->add_option("--crossfade", render.crossfade,
                     "At SECONDS a song fades in over DURATION seconds while the music fades out, as "
                     "CrossfadeSidtune")
        ->type_name("FILE:SONG@SECONDS:DURATION")
        ->check(mixEventCheck(true));
    renderCommand
        ->add_option("--effect-volume", render.effectVolume, "The effects' volume, as SetSidEffectVolume")
        ->type_name("R")
        ->check(within(0, 1));
    renderCommand
        ->add_option("--duck", render.duck, "The music's share while an effect sounds, as SetSidMusicDuck")
        ->type_name("R")
        ->check(within(0, 1));
    renderCommand->footer("Example: sidtune render music/title.sid --song 2 -t 30 -o title.wav");

    CLI::App* playCommand =
        app.add_subcommand("play", "Play a tune through the plugin, as a Quenbrix program does");
    playCommand->add_option("TUNE", play.tune, "The tune file")->required()->type_name("");
    playCommand->add_option("--song", play.song, "Song number, counted from 1 (default 1)")->type_name("N");
    playCommand->add_option("--seconds", play.seconds, "Stop after this many seconds (default: when stopped)")
        ->type_name("SECONDS")
        ->check(positiveSeconds());
    addSongSettings(playCommand, play.settings);
    addLengths(playCommand, play.lengths,
               "A song-length database (Songlengths.md5): the time as time / length");
    playCommand
        ->add_option(
            "--end", play.end,
            "At a song's end: on (it plays on; the default), stop, next (the next song) or loop (the same "
            "song again), as SetSidtuneEnd")
        ->type_name("on|stop|next|loop")
        ->check(CLI::IsMember({"on", "stop", "next", "loop"}).description(""));
    playCommand
        ->add_option("--plugin", play.plugin,
                     "The plugin library (default: the one installed with this program)")
        ->type_name("FILE");
    playCommand->footer(
        "On a terminal: space pauses and resumes, n and p the next and previous song, + and - the volume,\n"
        "q quits.\n\nExample: sidtune play music/game.sid --song 2 --lengths Songlengths.md5 --end next");

    CLI::App* checkCommand = app.add_subcommand(
        "check", "Will these tunes play here? A verdict for every song of every tune file");
    checkCommand->add_option("PATH", check.paths, "Tune files and folders (walked recursively)")
        ->required()
        ->type_name("");
    checkCommand->add_option("--seconds", check.seconds, "Seconds of each song to render (default 30)")
        ->type_name("SECONDS")
        ->check(positiveSeconds());
    addLengths(checkCommand, check.lengths,
               "A song-length database (Songlengths.md5): each song for its length, up to --seconds");
    checkCommand->add_flag("--json", check.json, "One JSON object per line");
    addFaithful(checkCommand, check.faithful);
    checkCommand->add_option("--jobs", check.jobs, "Songs checked at once (default: the hardware threads)")
        ->type_name("N")
        ->check(within(1, 256));
    checkCommand->footer(
        "Verdicts: plays; silent (a peak-to-peak swing of at most 655, 1% of full scale); stalls (an init or "
        "play call was cut off: the tune waits for hardware that is not here); refused (a tune file that is "
        "no "
        "PSID tune, or cannot be read). Files that are no tune at all are skipped and counted apart.\n"
        "Notes: why a song that plays may sound otherwise here (2 chips, NTSC, timer, 8580, cut short); "
        "start: "
        "the author's start song.\n"
        "Exit codes: 0 the walk completed, whatever the verdicts; 1 a PATH does not exist; 2 a usage "
        "error.\n\n"
        "Example: sidtune check music --seconds 60");

    if (const int code = parseCommandLine(app, arguments.count(), arguments.values()); code >= 0) return code;
    if (checkCommand->parsed()) return sidtune::checkCommand(check);
    if (infoCommand->parsed()) return sidtune::infoCommand(info);
    if (playCommand->parsed()) return sidtune::playCommand(play);
    if (renderCommand->parsed()) {
        const bool timed = renderCommand->count("--seconds") != 0;
        if (!timed && render.lengths.empty()) {
            std::fprintf(
                stderr,
                "sidtune: render needs --seconds, or --lengths for the song's own\nrun with --help\n");
            return kUsageError;
        }
        if (timed && (!(render.seconds > 0) || render.seconds > kMaxSeconds)) {
            std::fprintf(stderr,
                         "sidtune: --seconds must be more than 0 and at most %.1f (a WAV file holds 4 GiB)\n"
                         "run with --help\n",
                         kMaxSeconds);
            return kUsageError;
        }
        return sidtune::renderCommand(render);
    }
    return 0;
}
