#include "tool_tune.h"

#include <cstdio>

#include "sidtune_commands.h"
#include "tune/md5.h"
#include "tune/song_lengths.h"
#include "tune/tune_loader.h"

namespace sidtune {

void fail(const std::string& message) { std::fprintf(stderr, "sidtune: %s\n", message.c_str()); }

bool loadToolTune(const std::string& path, ToolTune& tune) {
    const TuneRead read = readTune(utf8Name(path), tune.bytes);
    if (read.error != PlayError::None) {
        fail(unreadable(path, read.file));
        return false;
    }
    tune.song = std::make_unique<Song>();
    parsePsidHeader(tune.bytes.data(), tune.bytes.size(), tune.header);
    switch (loadSong(*tune.song, tune.bytes.data(), tune.bytes.size())) {
        case PlayError::None: return true;
        case PlayError::Rsid:
            fail(path + " is not a PSID tune: an RSID tune, which needs a whole C64");
            return false;
        default: fail(path + " is not a PSID tune"); return false;
    }
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
    if (read.status == TuneFileStatus::Read) return true;
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
