// sidtune: the command-line companion of the plugin.
//
//   sidtune render TUNE -o OUT.wav -t SECONDS [--song N]
//                                renders a tune offline, block by block, exactly as the player
//                                does, into a 16-bit mono WAV file at the player's rate
//   sidtune info TUNE [--json]   loads a tune as the player does and prints what it found
//   sidtune play TUNE [--song N] [--seconds S] [--plugin PATH]
//                                plays a tune through the plugin, as a Quenbrix program does;
//                                Ctrl-C stops it
//   sidtune check PATH... [--seconds S] [--json] [--jobs N]
//                                will these tunes play here? a verdict for every song
#if defined(_WIN32)
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "command_line.h"
#include "engine/engine_state.h"
#include "engine/frame_pacing.h"
#include "engine/song.h"
#include "header_text.h"
#include "output_file.h"
#include "quenbrix_host.h"
#include "stop_signal.h"
#include "tune/psid_header.h"
#include "tune/tune_file.h"
#include "tune/tune_loader.h"
#include "tune_check.h"
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

void fail(const std::string& message) { std::fprintf(stderr, "sidtune: %s\n", message.c_str()); }

// A loaded tune: a fresh engine of the tool's own, the file's bytes and its header.
struct LoadedTune {
    std::unique_ptr<EngineState> engine;
    std::vector<uint8_t> bytes;
    PsidHeader header;
};

// Reads and loads a tune as the player does; on failure, a one-line message with the reason.
bool load(const std::string& path, LoadedTune& tune) {
    tune.bytes.resize(kLargestUsefulTune);
    const TuneFileRead read = readTuneFile(path.c_str(), tune.bytes.data(), tune.bytes.size());
    if (read.status == TuneFileStatus::Directory || read.status == TuneFileStatus::NotRegular) {
        fail(path + " " + describe(read));
        return false;
    }
    if (read.status != TuneFileStatus::Read) {
        fail("cannot read " + path + ": " + describe(read));
        return false;
    }
    tune.bytes.resize(read.size);
    tune.engine = std::make_unique<EngineState>();
    resetMachine(tune.engine->machine, kSampleRate);
    parsePsidHeader(tune.bytes.data(), tune.bytes.size(), tune.header);
    if (loadTuneBytes(tune.engine->machine, tune.engine->tune, tune.bytes.data(), tune.bytes.size()) !=
        LoadStatus::Loaded) {
        fail(path + " is not a PSID tune");
        return false;
    }
    return true;
}

bool songExists(const std::string& path, const TuneInfo& tune, int song) {
    if (song >= 1 && song <= tune.lastSong + 1) return true;
    fail(path + " has songs 1 to " + std::to_string(tune.lastSong + 1) + ", not " + std::to_string(song));
    return false;
}

void showProgress(uint32_t done, uint32_t total) {
    const int width = 40;
    const int filled = int(uint64_t(done) * width / total);
    std::fprintf(stderr, "\r[%s%s] %3u%%", std::string(filled, '#').c_str(),
                 std::string(width - filled, ' ').c_str(), unsigned(uint64_t(done) * 100 / total));
    if (done == total) std::fputc('\n', stderr);
    std::fflush(stderr);
}

// The file being rendered, for the signal handler: removed if the render is stopped.
OutputFile* renderOutput = nullptr;

void abandonRender(int signal) {
    if (renderOutput != nullptr) renderOutput->abandon();
    std::_Exit(exitCodeFor(signal));
}

int render(const std::string& path, const std::string& outPath, double seconds, int song) {
    if (!(seconds > 0) || seconds > kMaxSeconds) {
        char limit[128];
        std::snprintf(limit, sizeof limit,
                      "the length must be more than 0 and at most %.1f seconds (a WAV file holds 4 GiB)",
                      kMaxSeconds);
        fail(limit);
        return 1;
    }
    LoadedTune tune;
    if (!load(path, tune) || !songExists(path, tune.engine->tune, song)) return 1;
    EngineState& e = *tune.engine;
    // Song N of the command line is the player's song N - 1; it exists (songExists).
    beginTune(e, tune.bytes.data(), tune.bytes.size(), song - 1);

    OutputFile out;
    std::string error;
    if (!out.open(outPath, path, error)) {
        fail("cannot write " + outPath + ": " + error);
        return 1;
    }
    renderOutput = &out;
    catchStopSignals(abandonRender);

    const uint32_t blocks = uint32_t(std::ceil(seconds * 2));
    const auto header = wav::header(blocks * kBlockSamples);
    bool ok = out.write(header.data(), header.size(), error);
    const bool progress = isatty(fileno(stderr)) && isatty(fileno(stdout));
    std::vector<int16_t> block(kBlockSamples);
    std::vector<uint8_t> bytes(kBlockBytes);
    for (uint32_t b = 0; b < blocks && ok; ++b) {
        renderBlock(e, block.data(), kBlockBytes);
        wav::putSamples(block.data(), block.size(), bytes.data());
        ok = out.write(bytes.data(), bytes.size(), error);
        if (progress) showProgress(b + 1, blocks);
    }
    ok = ok && out.commit(error);
    renderOutput = nullptr;
    if (!ok) {
        out.abandon();
        fail("cannot write " + outPath + ": " + error);
        return 1;
    }
    return 0;
}

int play(const std::string& path, int song, double seconds, const std::string& pluginPath) {
    // The tune's texts and songs, read here; the plugin reads the file again, as it does for any
    // program.
    LoadedTune tune;
    if (!load(path, tune) || !songExists(path, tune.engine->tune, song)) return 1;
    const TuneTexts texts = tuneTexts(tune.engine->tune);
    const std::string name = printableHeaderText(texts.name), author = printableHeaderText(texts.author);

    quenbrix::PluginHost host;
    std::string error;
    if (host.start(pluginPath, error) != quenbrix::Started::Yes) {
        fail(error);
        return 2;
    }
    // Song 1 is what "PlaySidtune" plays; another needs "PlaySidtuneSong".
    const char* playCommand = song == 1 ? "PlaySidtune" : "PlaySidtuneSong";
    if (host.find(playCommand) == nullptr || host.find("StopSidtune") == nullptr) {
        fail(std::string("the plugin has no ") + playCommand + " or StopSidtune");
        return 2;
    }
    catchStopSignals();
    std::vector<quenbrix::Value> arguments = {quenbrix::Value::ofText(path)};
    if (song != 1) arguments.push_back(quenbrix::Value::ofReal(song));
    if (host.call(playCommand, arguments).result != -1) {
        fail("the plugin cannot play " + path);
        host.unload();
        return 1;
    }
    std::printf("Playing \"%s\" by %s, song %d. Ctrl-C stops.\n", name.c_str(), author.c_str(), song);
    std::fflush(stdout);
    const bool terminal = isatty(fileno(stdout));
    const auto start = std::chrono::steady_clock::now();
    int shown = -1;
    for (;;) {
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (stopSignal() != 0 || (seconds > 0 && elapsed >= seconds)) break;
        if (terminal && int(elapsed) != shown) {
            shown = int(elapsed);
            std::printf("\r  %d:%02d", shown / 60, shown % 60);
            std::fflush(stdout);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    host.call("StopSidtune");
    host.unload();
    if (terminal) std::printf("\n");
    std::printf("Stopped.\n");
    return stopSignal() != 0 ? exitCodeFor(stopSignal()) : 0;
}

// Where the header says more than the player reads.
std::vector<std::string> headerWarnings(const PsidHeader& h, const TuneInfo& t) {
    std::vector<std::string> warnings;
    const unsigned songs = t.songCount, start = t.startSong;
    if (songs == 0 || songs > 255) {
        warnings.push_back("the header gives " + std::to_string(songs) +
                           " songs; the player reads its low byte: " + std::to_string(t.lastSong + 1) +
                           " songs");
    }
    if (start > songs) {
        warnings.push_back("the start song " + std::to_string(start) + " is beyond the header's " +
                           std::to_string(songs) + " songs");
    }
    const unsigned version = h.version, headerSize = version >= 2 ? kPsidVersion2HeaderSize : kPsidHeaderSize;
    const unsigned dataOffset = h.dataOffset;
    if (dataOffset < headerSize) {
        warnings.push_back("the data offset " + std::to_string(dataOffset) + " lies inside the " +
                           std::to_string(headerSize) + "-byte header of version " + std::to_string(version));
    } else if (dataOffset > 0xFF) {
        warnings.push_back(
            "the data offset " + std::to_string(dataOffset) +
            " is past 255; the player reads its low byte: " + std::to_string(dataOffset & 0xFF));
    }
    return warnings;
}

int info(const std::string& path, bool json) {
    LoadedTune tune;
    if (!load(path, tune)) return 1;
    const TuneInfo& t = tune.engine->tune;
    const TuneTexts texts = tuneTexts(t);
    const int songs = t.lastSong + 1;
    const std::vector<std::string> warnings = headerWarnings(tune.header, t);
    if (json) {
        // Written as ASCII: each text byte above 127 is the character of the same number, \u00XX.
        const nlohmann::ordered_json object = {
            {"loadAddress", t.loadAddress},
            {"initAddress", t.initAddress},
            {"playAddress", t.playAddress},
            {"lastSong", t.lastSong},
            {"speedFlags", t.speedFlags},
            {"name", latin1ToUtf8(texts.name)},
            {"author", latin1ToUtf8(texts.author)},
            {"released", latin1ToUtf8(texts.released)},
            {"songs", songs},
            {"startSong", t.startSong},
            {"speed", tune.header.speed},
            {"warnings", warnings},
        };
        std::printf("%s\n", object.dump(-1, ' ', true).c_str());
        return 0;
    }
    std::printf("name:      %s\n", printableHeaderText(texts.name).c_str());
    std::printf("author:    %s\n", printableHeaderText(texts.author).c_str());
    std::printf("released:  %s\n", printableHeaderText(texts.released).c_str());
    std::printf("load:      $%04X\n", t.loadAddress);
    std::printf("init:      $%04X\n", t.initAddress);
    std::printf("play:      $%04X\n", t.playAddress);
    std::printf("songs:     %d (start song %u)\n", songs, t.startSong);
    std::printf("speed:     $%02X (%s); the header's 32-bit field is $%08X\n", t.speedFlags,
                t.speedFlags ? "timer" : "50 Hz frames", unsigned(tune.header.speed));
    for (const std::string& warning : warnings) std::printf("warning:   %s\n", warning.c_str());
    return 0;
}

// One line of the check's output, in text or as a JSON object.
void printCheck(const SongCheck& s, bool json) {
    if (json) {
        nlohmann::ordered_json line = {{"file", s.file}};
        if (s.song != 0) line["song"] = s.song;
        line["verdict"] = verdictName(s.verdict);
        if (s.verdict == Verdict::Refused) line["reason"] = s.reason;
        line["peak"] = s.peak;
        line["cutOffCalls"] = s.cutOffCalls;
        // File names are bytes: any that are no UTF-8 are shown as U+FFFD.
        std::printf("%s\n", line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
    } else if (s.verdict == Verdict::Refused) {
        std::printf("%-7s %-4s %s: %s\n", "refused", "-", printableHeaderText(s.file.c_str()).c_str(),
                    s.reason.c_str());
    } else {
        std::printf("%-7s %4d %6d %8u  %s\n", verdictName(s.verdict), s.song, s.peak, unsigned(s.cutOffCalls),
                    printableHeaderText(s.file.c_str()).c_str());
    }
}

int checkTunes(const std::vector<std::string>& paths, double seconds, bool json, unsigned jobs) {
    const CheckWalk walk = walkPaths(paths);
    for (const std::string& missing : walk.missing) fail(missing + ": No such file or directory");
    std::vector<SongCheck> songs = plan(walk.files);
    if (!json) std::printf("%-7s %4s %6s %8s  %s\n", "verdict", "song", "peak", "cut-off", "file");
    // Printed in the order of the walk, whichever job finishes first.
    std::vector<bool> done(songs.size(), false);
    size_t printed = 0, finished = 0;
    const bool progress = isatty(fileno(stderr)) && !songs.empty();
    checkSongs(songs, seconds, jobs, [&](size_t i) {
        done[i] = true;
        ++finished;
        for (; printed < songs.size() && done[printed]; ++printed) printCheck(songs[printed], json);
        std::fflush(stdout);
        if (progress) showProgress(uint32_t(finished), uint32_t(songs.size()));
    });
    std::map<Verdict, int> count;
    for (const SongCheck& s : songs) ++count[s.verdict];
    if (!json) {
        std::printf("%zu songs in %zu files: %d play, %d silent, %d stall; %d files refused\n",
                    songs.size() - size_t(count[Verdict::Refused]), walk.files.size(), count[Verdict::Plays],
                    count[Verdict::Silent], count[Verdict::Stalls], count[Verdict::Refused]);
    }
    return walk.missing.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"sidtune: plays Commodore 64 PSID tunes"};
    prepareCommandLine(app, "sidtune");
    app.require_subcommand(1);
    app.footer(kExitCodes);

    std::string tunePath;
    bool json = false;
    CLI::App* infoCommand = app.add_subcommand("info", "Print what the player reads from a tune");
    infoCommand->add_option("TUNE", tunePath, "PSID tune file")->required();
    infoCommand->add_flag("--json", json, "Print one JSON object");

    std::string outPath;
    double seconds = 0;
    int song = 1;
    char lengthHelp[160];
    std::snprintf(lengthHelp, sizeof lengthHelp,
                  "Length in seconds, in whole half-second blocks: more than 0, at most %.1f (a WAV file "
                  "holds 4 GiB)",
                  kMaxSeconds);
    CLI::App* renderCommand =
        app.add_subcommand("render", "Render a tune to a WAV file, as the player makes it");
    renderCommand->add_option("TUNE", tunePath, "PSID tune file")->required();
    renderCommand->add_option("-o,--output", outPath, "WAV file to write")->required();
    renderCommand->add_option("-t,--seconds", seconds, lengthHelp)->required();
    renderCommand->add_option("--song", song, "Song number, counted from 1 (default 1)");

    double playSeconds = 0;
    std::string pluginPath = quenbrix::PluginHost::defaultPluginPath();
    CLI::App* playCommand =
        app.add_subcommand("play", "Play a tune through the plugin, as a Quenbrix program does");
    playCommand->add_option("TUNE", tunePath, "PSID tune file")->required();
    playCommand->add_option("--song", song, "Song number, counted from 1 (default 1)");
    playCommand
        ->add_option("--seconds", playSeconds,
                     "Stop after this many seconds, more than 0 (default: until Ctrl-C)")
        ->check(positiveSeconds());
    playCommand->add_option("--plugin", pluginPath,
                            "The plugin library (default: the one installed with this program)");

    std::vector<std::string> checkPaths;
    double checkSeconds = 30;
    unsigned jobs = std::max(1u, std::thread::hardware_concurrency());
    CLI::App* checkCommand = app.add_subcommand(
        "check", "Will these tunes play here? A verdict for every song of every tune file");
    checkCommand->add_option("PATH", checkPaths, "Tune files and folders (walked recursively)")->required();
    checkCommand->add_option("--seconds", checkSeconds, "Seconds of each song to render (default 30)")
        ->check(positiveSeconds());
    checkCommand->add_flag("--json", json, "One JSON object per line");
    checkCommand->add_option("--jobs", jobs, "Songs checked at once (default: the hardware threads)")
        ->check(CLI::Range(1u, 256u));
    checkCommand->footer(
        "Verdicts: plays; silent (a peak-to-peak swing of at most 655, 1% of full scale); stalls (an init or "
        "play call was cut off: the tune waits for hardware that is not here); refused (not a PSID tune, or "
        "a "
        "file that cannot be read). Exit codes: 0 the walk completed, whatever the verdicts; 1 a PATH does "
        "not "
        "exist; 2 a usage error.");

    if (const int code = parseCommandLine(app, argc, argv); code >= 0) return code;
    if (checkCommand->parsed()) return checkTunes(checkPaths, checkSeconds, json, jobs);
    if (infoCommand->parsed()) return info(tunePath, json);
    if (playCommand->parsed()) return play(tunePath, song, playSeconds, pluginPath);
    if (renderCommand->parsed()) return render(tunePath, outPath, seconds, song);
    return 0;
}
