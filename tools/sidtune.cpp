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
#include <string>
#include <thread>
#include <vector>

#include "audio/render_block.h"
#include "cpu/cpu.h"
#include "engine/engine_state.h"
#include "quenbrix_host.h"
#include "tune/tune_loader.h"

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

// A JSON string of raw header bytes: bytes above 127 become \u00XX, so each byte stands for the
// character of the same number (Latin-1, as the tunes' texts are).
std::string jsonString(const char* text) {
    std::string out = "\"";
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        if (*p == '"' || *p == '\\') {
            out += '\\';
            out += char(*p);
        } else if (*p < 0x20 || *p > 0x7E) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", *p);
            out += escaped;
        } else {
            out += char(*p);
        }
    }
    return out + "\"";
}

int load(const std::string& path) {
    resetMachine(44100);
    const int result = loadTune(path.c_str(), 0, kLoadFromFile);
    if (result == kTuneSourceUnavailable) {
        std::fprintf(stderr, "sidtune: cannot read %s\n", path.c_str());
    } else if (result == kTuneNotPsid) {
        std::fprintf(stderr, "sidtune: %s is not a PSID tune\n", path.c_str());
    }
    return result;
}

void putLittleEndian(std::vector<uint8_t>& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(uint8_t(value >> (8 * i)));
}

// A canonical 44-byte RIFF header for 16-bit mono PCM at 44100 Hz.
std::vector<uint8_t> wavHeader(uint32_t sampleCount) {
    const uint32_t dataBytes = sampleCount * 2;
    std::vector<uint8_t> h;
    auto tag = [&h](const char* t) { h.insert(h.end(), t, t + 4); };
    tag("RIFF");
    putLittleEndian(h, 36 + dataBytes, 4);
    tag("WAVE");
    tag("fmt ");
    putLittleEndian(h, 16, 4);
    putLittleEndian(h, 1, 2);  // PCM
    putLittleEndian(h, 1, 2);  // mono
    putLittleEndian(h, kSampleRate, 4);
    putLittleEndian(h, kSampleRate * 2, 4);
    putLittleEndian(h, 2, 2);
    putLittleEndian(h, 16, 2);
    tag("data");
    putLittleEndian(h, dataBytes, 4);
    return h;
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
    if (load(path) != kTuneLoaded) return 1;
    if (song < 1 || song > engine.tune.lastSong + 1) {
        std::fprintf(stderr, "sidtune: %s has songs 1 to %d, not %d\n", path.c_str(),
                     engine.tune.lastSong + 1, song);
        return 1;
    }
    // As the player starts a song: rendering on, then the init routine with the song in A.
    engine.renderEnabled = 1;
    callSubroutine(engine.tune.initAddress, uint8_t(song - 1), kInitInstructionLimit);

    const uint32_t blocks = uint32_t(std::ceil(seconds * 2));
    std::FILE* out = std::fopen(outPath.c_str(), "wb");
    if (out == nullptr) {
        std::fprintf(stderr, "sidtune: cannot write %s\n", outPath.c_str());
        return 1;
    }
    const std::vector<uint8_t> header = wavHeader(blocks * kBlockSamples);
    bool ok = std::fwrite(header.data(), 1, header.size(), out) == header.size();
    const bool progress = isatty(fileno(stderr)) && isatty(fileno(stdout));
    std::vector<int16_t> block(kBlockSamples);
    std::vector<uint8_t> bytes(kBlockSamples * 2);
    for (uint32_t b = 0; b < blocks && ok; ++b) {
        renderBlock(block.data(), kBlockSamples * 2);
        for (uint32_t i = 0; i < kBlockSamples; ++i) {
            bytes[2 * i] = uint8_t(uint16_t(block[i]));
            bytes[2 * i + 1] = uint8_t(uint16_t(block[i]) >> 8);
        }
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
    if (load(path) != kTuneLoaded) return 1;
    const TuneTexts texts = tuneTexts();
    const std::string name = latin1ToUtf8(texts.name), author = latin1ToUtf8(texts.author);

    quenbrix::PluginHost host;
    std::string error;
    if (!host.open(pluginPath, error)) {
        std::fprintf(stderr, "sidtune: %s\n", error.c_str());
        return 2;
    }
    host.init();
    if (!host.load(error)) {
        std::fprintf(stderr, "sidtune: %s\n", error.c_str());
        return 2;
    }
    const quenbrix::Registration* playCommand = host.find("PlaySidtune");
    const quenbrix::Registration* stopCommand = host.find("StopSidtune");
    if (playCommand == nullptr || stopCommand == nullptr) {
        std::fprintf(stderr, "sidtune: the plugin has no PlaySidtune or StopSidtune\n");
        return 2;
    }
    if (host.call(*playCommand, {quenbrix::Value::ofText(path)}).result != -1) {
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
    host.call(*stopCommand, {});
    host.unload();
    if (terminal) std::printf("\n");
    std::printf("Stopped.\n");
    return 0;
}

int info(const std::string& path, bool json) {
    if (load(path) != kTuneLoaded) return 1;
    const TuneInfo& t = engine.tune;
    const TuneTexts texts = tuneTexts();
    const int songs = t.lastSong + 1;
    if (json) {
        std::printf(
            "{\"loadAddress\": %u, \"initAddress\": %u, \"playAddress\": %u, \"lastSong\": %u, "
            "\"speedFlags\": %u, \"name\": %s, \"author\": %s, \"released\": %s, \"songs\": %d, "
            "\"startSong\": %u}\n",
            t.loadAddress, t.initAddress, t.playAddress, t.lastSong, t.speedFlags,
            jsonString(texts.name).c_str(), jsonString(texts.author).c_str(),
            jsonString(texts.released).c_str(), songs, t.startSong);
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
