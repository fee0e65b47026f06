// sidtune info: what a tune is, in words for a game programmer (what it is, its songs, how it is
// paced, what will sound otherwise here, and each song's length from a song-length database), or
// as JSON with the header's fields as they stand; warnings where the header says more than the
// player reads, in both.
#include <cstdio>
#include <cstring>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "command_line.h"
#include "cpu/machine.h"
#include "engine/frame_pacing.h"
#include "engine/song.h"
#include "header_text.h"
#include "sidtune_commands.h"
#include "tool_tune.h"
#include "tune/md5.h"
#include "tune/song_lengths.h"
#include "tune/tune_loader.h"
#include "tune_notes.h"

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

const char* clockName(TuneClock c) {
    switch (c) {
        case TuneClock::Pal: return "PAL";
        case TuneClock::Ntsc: return "NTSC";
        case TuneClock::PalAndNtsc: return "PAL and NTSC";
        case TuneClock::Unknown: break;
    }
    return "unknown";
}

const char* modelName(ChipModel m) {
    switch (m) {
        case ChipModel::Mos6581: return "6581";
        case ChipModel::Mos8580: return "8580";
        case ChipModel::Either: return "6581 or 8580";
        case ChipModel::Unknown: break;
    }
    return "unknown";
}

// How song 1's frames are paced, in words: by the 50 Hz frame, or by the timer at the rate its
// init routine set it to.
// Song 1's timer value, as its init routine set it.
uint16_t initTimer(const ToolTune& tune) {
    const auto song = std::make_unique<Song>();
    beginTune(*song, tune.bytes.data(), tune.bytes.size(), 0);
    return uint16_t(song->machine.memory[0xDC04] | song->machine.memory[0xDC05] << 8);
}

std::string pacing(const ToolTune& tune) {
    if (tune.song->tune.speedFlags == 0) return "paced by 50 Hz frames";
    char text[64];
    std::snprintf(text, sizeof text, "timer-paced at %.0f Hz",
                  double(kSampleRate) / frameSamples(initTimer(tune), tune.song->tune.speedFlags));
    return text;
}

// What faithful playback makes of the tune: its machine's clock, the play calls a second (song 1's
// timer as its init routine set it), its chips.
struct Faithful {
    uint32_t clock;
    double callsPerSecond;
    int chips;
};

Faithful faithful(const ToolTune& tune, int chips) {
    const TuneInfo& t = tune.song->tune;
    const uint32_t clock = t.ntsc ? kNtscClock : kPalClock;
    double calls = double(clock) / (t.ntsc ? kNtscFrameCycles : kPalFrameCycles);
    if (t.speedFlags != 0) {
        const uint32_t timer = initTimer(tune);
        // A timer of less than a sample's cycles gets the video frame, as in playback.
        if ((timer + 1) * uint64_t(kSampleRate) >= clock) calls = double(clock) / (timer + 1);
    }
    return {clock, calls, chips};
}

std::string faithfulText(const Faithful& f, const PsidHeader& h) {
    char text[160];
    std::snprintf(text, sizeof text, "%s clock of %u Hz, %.3f play calls a second, %s",
                  f.clock == kNtscClock ? "NTSC" : "PAL", f.clock, f.callsPerSecond,
                  f.chips == 1 ? "one sound chip" : "");
    std::string line = text;
    if (f.chips > 1) {
        line += std::to_string(f.chips) + " sound chips (";
        for (int k = 2; k <= f.chips; ++k) {
            std::snprintf(text, sizeof text, "%s$%04X", k > 2 ? ", " : "",
                          PsidHeader::chipAddress(k == 2 ? h.secondChip : h.thirdChip));
            line += text;
        }
        line += " besides $D400)";
    }
    return line;
}

std::string minutes(uint32_t milliseconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%u:%02u.%03u", milliseconds / 60000, milliseconds / 1000 % 60,
                  milliseconds % 1000);
    return text;
}

}  // namespace

int infoCommand(const InfoOptions& o) {
    ToolTune tune;
    // An RSID tune is a tune all the same: what it is, before why it does not play here.
    const auto rsidTexts = [](const PsidHeader& h) {
        if (std::string(h.magic.data(), 4) != "RSID") return;
        auto field = [](const std::array<char, 32>& f) {
            return printableHeaderText(std::string(f.data(), strnlen(f.data(), f.size())).c_str());
        };
        std::printf("\"%s\" by %s, released %s\n", field(h.name).c_str(), field(h.author).c_str(),
                    field(h.released).c_str());
        std::fflush(stdout);
    };
    if (!loadToolTune(o.tune, tune, rsidTexts)) return 1;
    std::vector<uint32_t> lengths;
    if (!o.lengths.empty()) {
        SongLengthDatabase db;
        if (!readToolSongLengths(o.lengths, db)) return 1;
        const auto found = db.tunes.find(md5(tune.bytes.data(), tune.bytes.size()));
        if (found != db.tunes.end()) lengths = found->second;
    }
    const TuneInfo& t = tune.song->tune;
    const PsidHeader& h = tune.header;
    const TuneTexts texts = tuneTexts(t);
    const int songs = t.lastSong + 1;
    std::vector<std::string> warnings = headerWarnings(h, t);
    if (const std::string cut = beyondData(h, tune.bytes.data(), tune.bytes.size()); !cut.empty())
        warnings.push_back(cut);
    std::vector<SoundNote> notes = soundNotes(h);
    const Faithful played = faithful(tune, h.chipCount());
    if (o.json) {
        // The header's fields as they stand, and what the player makes of them. Written as ASCII:
        // each text byte above 127 is the character of the same number, \u00XX.
        nlohmann::ordered_json object = {
            {"format", std::string(h.magic.data(), 4)},
            {"version", h.version},
            {"dataOffset", h.dataOffset},
            {"loadAddress", h.loadAddress},
            {"initAddress", h.initAddress},
            {"playAddress", h.playAddress},
            {"songs", h.songs},
            {"startSong", h.startSong},
            {"speed", h.speed},
            {"flags", h.flags},
            {"secondChip", h.secondChip},
            {"thirdChip", h.thirdChip},
            {"name", latin1ToUtf8(texts.name)},
            {"author", latin1ToUtf8(texts.author)},
            {"released", latin1ToUtf8(texts.released)},
            {"clock", clockName(h.clock())},
            {"chipModel", modelName(h.chipModel())},
            {"chips", h.chipCount()},
            {"player",
             {{"songs", songs},
              {"loadAddress", t.loadAddress},
              {"playAddress", t.playAddress},
              {"pacing", pacing(tune)}}},
            {"faithful",
             {{"clock", played.clock},
              {"playCallsPerSecond", played.callsPerSecond},
              {"chips", played.chips}}},
        };
        nlohmann::json words = nlohmann::json::array();
        for (const SoundNote& n : notes) words.push_back(n.word);
        object["notes"] = words;
        object["warnings"] = warnings;
        if (!o.lengths.empty()) object["lengths"] = lengths;
        std::printf("%s\n", object.dump(-1, ' ', true).c_str());
        return 0;
    }
    std::printf("\"%s\" by %s, released %s\n", printableHeaderText(texts.name).c_str(),
                printableHeaderText(texts.author).c_str(), printableHeaderText(texts.released).c_str());
    std::string start;
    if (songs > 1) start = " (the author's start song: " + std::to_string(t.startSong) + ")";
    std::printf("PSID v%u, %s%s, %s, %s\n", h.version, count(songs, "song", "songs").c_str(), start.c_str(),
                h.clock() == TuneClock::Unknown ? "clock not given" : clockName(h.clock()),
                pacing(tune).c_str());
    std::printf("for %s, chip model %s\n", count(h.chipCount(), "sound chip", "sound chips").c_str(),
                modelName(h.chipModel()));
    if (!o.lengths.empty()) {
        std::printf("lengths:  ");
        if (lengths.empty()) std::printf(" not in the database");
        for (size_t i = 0; i < lengths.size(); ++i)
            std::printf(" %zu %s", i + 1, lengths[i] != 0 ? minutes(lengths[i]).c_str() : "unknown");
        std::printf("\n");
    }
    for (const SoundNote& n : notes) std::printf("note:      %s\n", n.sentence.c_str());
    std::printf("faithful:  %s (--faithful, SetSidtuneFaithful)\n", faithfulText(played, h).c_str());
    std::printf("addresses: load $%04X, init $%04X, play $%04X%s\n", t.loadAddress, t.initAddress,
                t.playAddress, h.playAddress == 0 ? " (installed by the init routine)" : "");
    for (const std::string& warning : warnings) std::printf("warning:   %s\n", warning.c_str());
    return 0;
}

}  // namespace sidtune
