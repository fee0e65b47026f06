#include "tool_tune.h"

#include <algorithm>
#include <cstdio>

#include "command_line.h"
#include "sidtune_commands.h"
#include "tune/md5.h"
#include "tune/song_lengths.h"
#include "tune/tune_loader.h"

namespace sidtune {

void fail(const std::string& message) { std::fprintf(stderr, "sidtune: %s\n", message.c_str()); }

bool loadToolTune(const std::string& path, ToolTune& tune,
                  const std::function<void(const PsidHeader&)>& refused) {
    const TuneRead read = readTune(utf8Name(path), tune.bytes);
    if (read.error != PlayError::None) {
        fail(unreadable(path, read.file));
        return false;
    }
    tune.song = std::make_unique<Song>();
    parsePsidHeader(tune.bytes.data(), tune.bytes.size(), tune.header);
    if (loadSong(*tune.song, tune.bytes.data(), tune.bytes.size()) == PlayError::None) return true;
    const HeaderStatus status = parsePsidHeader(tune.bytes.data(), tune.bytes.size(), tune.header);
    if (refused && status != HeaderStatus::NotATune) refused(tune.header);
    fail(path + " is " + refusal(status));
    return false;
}

std::string refusal(HeaderStatus status) {
    switch (status) {
        case HeaderStatus::Rsid: return "not a PSID tune: an RSID tune, which needs a whole C64";
        case HeaderStatus::Truncated:
            return "a PSID tune cut short: the file ends inside its header, or before its data begin";
        default: return "not a PSID tune";
    }
}

std::string beyondData(const PsidHeader& h, const uint8_t* bytes, size_t size) {
    // Where the loader puts the data (tune_loader.cpp): at the header's load address, or at the
    // one the data begin with.
    const size_t offset = h.dataOffset & 0xFF;
    if (h.loadAddress == 0 && size < offset + 2) return "";
    const uint16_t load =
        h.loadAddress != 0 ? h.loadAddress : uint16_t(bytes[offset] | bytes[offset + 1] << 8);
    const size_t start = offset + (h.loadAddress == 0 ? 2 : 0);
    const uint32_t end = load + uint32_t(std::min<size_t>(size > start ? size - start : 0, 0x10000u - load));
    auto outside = [&](uint16_t address) { return address < load || address >= end; };
    const char* which = outside(h.initAddress)                         ? "init"
                        : h.playAddress != 0 && outside(h.playAddress) ? "play"
                                                                       : nullptr;
    if (which == nullptr) return "";
    char text[200];
    std::snprintf(
        text, sizeof text,
        "the %s address $%04X lies beyond the data the file holds ($%04X-$%04X, %u bytes): the file "
        "may be cut short",
        which, which[0] == 'i' ? h.initAddress : h.playAddress, load, unsigned(end > load ? end - 1 : end),
        unsigned(end - load));
    return text;
}

std::string unreadable(const std::string& path, const TuneFileRead& read) {
    if (read.status == TuneFileStatus::Directory || read.status == TuneFileStatus::NotRegular)
        return path + " " + describe(read);
    return "cannot read " + path + ": " + describe(read);
}

void applySongOptions(Song& s, const SongOptions& options) {
    s.settings.speed = speedOfRatio(float(options.speed), kNormalSpeed);
    for (int voice : options.mute) s.settings.mutedVoices = mutedAfter(s.settings.mutedVoices, voice, true);
    s.settings.faithful = options.faithful;
}

bool readToolSongLengths(const std::string& path, SongLengthDatabase& db) {
    const TuneFileRead read = readSongLengths(utf8Name(path), db);
    if (read.status == TuneFileStatus::Read) {
        // What the database did not give, as warnings: the file is used all the same.
        const SongLengthsSkipped& k = db.skipped;
        auto warn = [](const std::string& text) {
            std::fprintf(stderr, "sidtune: warning: %s\n", text.c_str());
        };
        if (db.tunes.empty())
            warn(path +
                 " holds no song lengths (a line is an MD5 of 32 hexadecimal digits, '=', and a time m:ss "
                 "for each song)");
        if (k.lines != 0)
            warn(path + ": " + count(long(k.lines), "line", "lines") +
                 " skipped, neither an entry nor a comment, section or blank line (the first: line " +
                 std::to_string(k.firstLine) + ")");
        if (k.times != 0)
            warn(path + ": " + count(long(k.times), "time", "times") +
                 " not read, those songs' lengths unknown (the "
                 "first: \"" +
                 k.firstTime + "\" on line " + std::to_string(k.firstTimeLine) +
                 "; a time is m:ss or m:ss.fff)");
        return true;
    }
    fail("cannot read the song lengths " + path + ": " + describe(read));
    return false;
}

uint32_t toolSongLength(const std::string& database, const ToolTune& tune, int song) {
    SongLengthDatabase db;
    if (!readToolSongLengths(database, db)) return 0;
    const uint32_t length = songLength(db, md5(tune.bytes.data(), tune.bytes.size()), song - 1);
    if (length == 0) fail(database + " gives no length for song " + std::to_string(song) + " of the tune");
    return length;
}

bool songExists(const std::string& path, const TuneInfo& tune, int song) {
    if (song >= 1 && song <= tune.lastSong + 1) return true;
    fail(path + " has songs 1 to " + std::to_string(tune.lastSong + 1) + ", not " + std::to_string(song));
    return false;
}

}  // namespace sidtune
