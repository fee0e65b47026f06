// A song-length database: how long each song of each tune lasts, as the large public collections
// give it in their Songlengths.md5, a text file of lines
//
//     ; comments, and the tune's path in the collection
//     [Database]
//     d52384836e2c764f54b64503ce15546df925fd35=3:47 0:48.5 1:02.123
//
// keyed by the MD5 of the whole tune file (32 hexadecimal digits), then one time per song, in
// order: minutes, seconds and, where given, a fraction of a second. The parser is tolerant of what
// real copies hold: LF, CR LF or CR line ends, a UTF-8 byte order mark, blank lines, comments, the
// section line, attributes after a time ("3:47(G)"), and lines or times it cannot read, which it
// skips (a song whose time cannot be read is of unknown length, and the songs after it keep their
// numbers), counting what it skipped (a comment begins with ';' or '#', a section line with '['). It keeps no
// more times than a tune has songs (256), and no time longer than a script can be told in milliseconds (a
// signed 32-bit number).
//
//   parseSongLengths(text, size, db)   the lines of a database held in memory, added to db
//   readSongLengths(path, db)          a database file, read whole (a regular file, at most
//                                      kLargestSongLengthFile): how the read went (tune_file.h)
//   songLength(db, digest, song)       milliseconds of song `song` (counted from 0); 0: unknown
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "tune/file_system.h"
#include "tune/md5.h"
#include "tune/tune_file.h"

namespace sidtune {

// Every byte of the digest counts: a database made to collide in some of them would otherwise
// make every lookup a walk through all of its tunes.
struct Md5Hash {
    size_t operator()(const Md5& digest) const {
        uint64_t h = 14695981039346656037u;  // FNV-1a
        for (uint8_t b : digest) h = (h ^ b) * 1099511628211u;
        return size_t(h);
    }
};

// What the parser skipped, for a tool to warn of: lines that are no entry, comment, section or
// blank line, and times it could not read; each with the first one's line number (from 1).
struct SongLengthsSkipped {
    size_t lines = 0, firstLine = 0;
    size_t times = 0, firstTimeLine = 0;
    std::string firstTime;  // the first time it could not read, as written
};

struct SongLengthDatabase {
    std::unordered_map<Md5, std::vector<uint32_t>, Md5Hash> tunes;  // milliseconds; 0 unknown
    SongLengthsSkipped skipped;
};

// A real collection's file is about 4 MB; no database of tunes is anywhere near this.
constexpr size_t kLargestSongLengthFile = 64u << 20;
// The most songs a PSID tune has (its header counts them in a byte, from 1).
constexpr size_t kMostSongs = 256;

void parseSongLengths(const char* text, size_t size, SongLengthDatabase& db);
TuneFileRead readSongLengths(FileName path, SongLengthDatabase& db);
uint32_t songLength(const SongLengthDatabase& db, const Md5& digest, int32_t song);

}  // namespace sidtune
