// sidtune: the command-line companion of the plugin.
//
//   sidtune info TUNE [--json]   loads a tune as the player does and prints what it found
#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>

#include "cpu/cpu.h"
#include "engine/engine_state.h"
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

std::string jsonString(const char* text) {
    std::string out = "\"";
    for (char c : latin1ToUtf8(text)) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += c;
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

int info(const std::string& path, bool json) {
    if (load(path) != kTuneLoaded) return 1;
    const TuneInfo& t = engine.tune;
    const TuneTexts texts = tuneTexts();
    const int songs = t.lastSong + 1;
    if (json) {
        std::printf(
            "{\"file\": %s, \"name\": %s, \"author\": %s, \"released\": %s, \"loadAddress\": %u, "
            "\"initAddress\": %u, \"playAddress\": %u, \"songs\": %d, \"startSong\": %u, "
            "\"speedFlags\": %u}\n",
            jsonString(path.c_str()).c_str(), jsonString(texts.name).c_str(),
            jsonString(texts.author).c_str(), jsonString(texts.released).c_str(), t.loadAddress,
            t.initAddress, t.playAddress, songs, t.startSong, t.speedFlags);
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
    app.require_subcommand(1);

    std::string tunePath;
    bool json = false;
    CLI::App* infoCommand = app.add_subcommand("info", "Print what the player reads from a tune");
    infoCommand->add_option("TUNE", tunePath, "PSID tune file")->required();
    infoCommand->add_flag("--json", json, "Print one JSON object");

    CLI11_PARSE(app, argc, argv);
    if (infoCommand->parsed()) return info(tunePath, json);
    return 0;
}
