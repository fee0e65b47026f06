// sidtune info: what the player reads of a tune's header, in words or as JSON, and warnings where
// the header says more than the player reads.
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "header_text.h"
#include "sidtune_commands.h"
#include "tool_tune.h"
#include "tune/tune_loader.h"

namespace sidtune {
namespace {

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

}  // namespace

int infoCommand(const std::string& path, bool json) {
    ToolTune tune;
    if (!loadToolTune(path, tune)) return 1;
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

}  // namespace sidtune
