// sidtune: the command-line companion of the plugin.
//
//   sidtune render TUNE -o OUT.wav -t SECONDS [--song N]
//                                renders a tune offline, block by block, exactly as the player
//                                does, into a 16-bit mono 44100 Hz WAV file
//   sidtune info TUNE [--json]   loads a tune as the player does and prints what it found
//   sidtune play TUNE [--seconds N] [--plugin PATH]
//                                plays a tune through the plugin, as a Quenbrix program does
//                                ("PlaySidtune", then "StopSidtune"); Ctrl-C stops it
#if defined(_WIN32)
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

#include <CLI/CLI.hpp>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "audio/render_block.h"
#include "engine/engine_state.h"
#include "engine/song.h"
#include "quenbrix_host.h"
#include "tune/tune_loader.h"
#include "wav_file.h"

namespace {

using namespace sidtune;

// Header texts are raw bytes; most tunes use Latin-1, which maps one-to-one onto U+0000-U+00FF.
std::string latin1ToUtf8(const char* text) {
    std::string out;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        if (*p < 0x80) {
            out += char(*p);
        } else {
            out += char(0xC0 | *p >> 6);
            out += char(0x80 | (*p & 0x3F));
        }
    }
    return out;
}

// A fresh engine of the tool's own with the tune loaded, as the player loads it; null after a
// one-line message.
std::unique_ptr<EngineState> load(const std::string& path) {
    auto e = std::make_unique<EngineState>();
    resetMachine(*e, kSampleRate);
    const int result = loadTune(*e, path.c_str(), 0, kLoadFromFile);
    if (result == kTuneSourceUnavailable) {
        std::fprintf(stderr, "sidtune: cannot read %s\n", path.c_str());
    } else if (result == kTuneNotPsid) {
        std::fprintf(stderr, "sidtune: %s is not a PSID tune\n", path.c_str());
    }
    if (result != kTuneLoaded) e.reset();
    return e;
}

void showProgress(uint32_t done, uint32_t total) {
    const int width = 40;
    const int filled = int(uint64_t(done) * width / total);
    std::fprintf(stderr, "\r[%s%s] %3u%%", std::string(filled, '#').c_str(),
                 std::string(width - filled, ' ').c_str(), unsigned(uint64_t(done) * 100 / total));
    if (done == total) std::fputc('\n', stderr);
    std::fflush(stderr);
}

int render(const std::string& path, const std::string& outPath, double seconds, int song) {
    if (!(seconds > 0) || seconds > 24 * 3600) {
        std::fprintf(stderr, "sidtune: the length must be more than 0 and at most 86400 seconds\n");
        return 1;
    }
    const std::unique_ptr<EngineState> e = load(path);
    if (e == nullptr) return 1;
    // Song N of the command line is the player's song N - 1.
    if (song < 1 || beginSong(*e, song - 1) != kSongBegun) {
        std::fprintf(stderr, "sidtune: %s has songs 1 to %d, not %d\n", path.c_str(), e->tune.lastSong + 1,
                     song);
        return 1;
    }

    const uint32_t blocks = uint32_t(std::ceil(seconds * 2));
    std::FILE* out = std::fopen(outPath.c_str(), "wb");
    if (out == nullptr) {
        std::fprintf(stderr, "sidtune: cannot write %s\n", outPath.c_str());
        return 1;
    }
    const auto header = wav::header(blocks * kBlockSamples);
    bool ok = std::fwrite(header.data(), 1, header.size(), out) == header.size();
    const bool progress = isatty(fileno(stderr)) && isatty(fileno(stdout));
    std::vector<int16_t> block(kBlockSamples);
    std::vector<uint8_t> bytes(kBlockBytes);
    for (uint32_t b = 0; b < blocks && ok; ++b) {
        renderBlock(*e, block.data(), kBlockBytes);
        wav::putSamples(block.data(), block.size(), bytes.data());
        ok = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
        if (progress) showProgress(b + 1, blocks);
    }
    ok = (std::fclose(out) == 0) && ok;
    if (!ok) {
        std::remove(outPath.c_str());
        std::fprintf(stderr, "sidtune: cannot write %s\n", outPath.c_str());
        return 1;
    }
    return 0;
}

std::atomic<bool> interrupted{false};

void onInterrupt(int) { interrupted = true; }

int play(const std::string& path, double seconds, const std::string& pluginPath) {
    // The tune's texts, read here; the plugin reads the file again, as it does for any program.
    std::string name, author;
    {
        const std::unique_ptr<EngineState> e = load(path);
        if (e == nullptr) return 1;
        const TuneTexts texts = tuneTexts(e->tune);
        name = latin1ToUtf8(texts.name);
        author = latin1ToUtf8(texts.author);
    }

    quenbrix::PluginHost host;
    std::string error;
    if (host.start(pluginPath, error) != quenbrix::Started::Yes) {
        std::fprintf(stderr, "sidtune: %s\n", error.c_str());
        return 2;
    }
    if (host.find("PlaySidtune") == nullptr || host.find("StopSidtune") == nullptr) {
        std::fprintf(stderr, "sidtune: the plugin has no PlaySidtune or StopSidtune\n");
        return 2;
    }
    if (host.call("PlaySidtune", {quenbrix::Value::ofText(path)}).result != -1) {
        std::fprintf(stderr, "sidtune: the plugin cannot play %s\n", path.c_str());
        host.unload();
        return 1;
    }
    std::printf("Playing \"%s\" by %s. Ctrl-C stops.\n", name.c_str(), author.c_str());
    std::fflush(stdout);
    std::signal(SIGINT, onInterrupt);
    const bool terminal = isatty(fileno(stdout));
    const auto start = std::chrono::steady_clock::now();
    int shown = -1;
    for (;;) {
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (interrupted || (seconds > 0 && elapsed >= seconds)) break;
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
    return 0;
}

int info(const std::string& path, bool json) {
    const std::unique_ptr<EngineState> e = load(path);
    if (e == nullptr) return 1;
    const TuneInfo& t = e->tune;
    const TuneTexts texts = tuneTexts(t);
    const int songs = t.lastSong + 1;
    if (json) {
        // The texts are raw header bytes, taken as Latin-1 (as the tunes' texts are); written as
        // ASCII, each byte above 127 is the character of the same number, \u00XX.
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
        };
        std::printf("%s\n", object.dump(-1, ' ', true).c_str());
    } else {
        std::printf("name:      %s\n", latin1ToUtf8(texts.name).c_str());
        std::printf("author:    %s\n", latin1ToUtf8(texts.author).c_str());
        std::printf("released:  %s\n", latin1ToUtf8(texts.released).c_str());
        std::printf("load:      $%04X\n", t.loadAddress);
        std::printf("init:      $%04X\n", t.initAddress);
        std::printf("play:      $%04X\n", t.playAddress);
        std::printf("songs:     %d (start song %u)\n", songs, t.startSong);
        std::printf("speed:     $%02X (%s)\n", t.speedFlags, t.speedFlags ? "timer" : "50 Hz frames");
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"sidtune: plays Commodore 64 PSID tunes"};
    app.allow_windows_style_options(false);  // a path such as /tmp/x.qb is not an option
    app.require_subcommand(1);

    std::string tunePath;
    bool json = false;
    CLI::App* infoCommand = app.add_subcommand("info", "Print what the player reads from a tune");
    infoCommand->add_option("TUNE", tunePath, "PSID tune file")->required();
    infoCommand->add_flag("--json", json, "Print one JSON object");

    std::string outPath;
    double seconds = 0;
    int song = 1;
    CLI::App* renderCommand =
        app.add_subcommand("render", "Render a tune to a WAV file, as the player makes it");
    renderCommand->add_option("TUNE", tunePath, "PSID tune file")->required();
    renderCommand->add_option("-o,--output", outPath, "WAV file to write")->required();
    renderCommand->add_option("-t,--seconds", seconds, "Length in seconds (whole half-second blocks)")
        ->required();
    renderCommand->add_option("--song", song, "Song number, counted from 1 (default 1)");

    double playSeconds = 0;
    std::string pluginPath = quenbrix::PluginHost::pluginBesideProgram();
    CLI::App* playCommand =
        app.add_subcommand("play", "Play a tune through the plugin, as a Quenbrix program does");
    playCommand->add_option("TUNE", tunePath, "PSID tune file")->required();
    playCommand->add_option("--seconds", playSeconds, "Stop after this many seconds (default: until Ctrl-C)");
    playCommand->add_option("--plugin", pluginPath,
                            "The plugin library (default: the one beside this program)");

    CLI11_PARSE(app, argc, argv);
    if (infoCommand->parsed()) return info(tunePath, json);
    if (playCommand->parsed()) return play(tunePath, playSeconds, pluginPath);
    if (renderCommand->parsed()) return render(tunePath, outPath, seconds, song);
    return 0;
}
