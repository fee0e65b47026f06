#include "tune/song_lengths.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "tune/tune_file.h"

namespace sidtune {
namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// A time "m:ss", "m:ss.f" (any number of fraction digits), anything after it (an attribute such as
// "(G)") ignored. false when it cannot be read, or is too long to be told in milliseconds as a
// script is told them (a signed 32-bit number: some 24 days).
bool parseTime(const char* p, const char* end, uint32_t& time) {
    time = 0;
    uint64_t minutes = 0;
    const char* start = p;
    while (p < end && isDigit(*p) && p - start < 6) minutes = minutes * 10 + uint64_t(*p++ - '0');
    if (p == start || p >= end || *p != ':') return false;
    ++p;
    if (end - p < 2 || !isDigit(p[0]) || !isDigit(p[1])) return false;
    const uint64_t seconds = uint64_t(p[0] - '0') * 10 + uint64_t(p[1] - '0');
    p += 2;
    if (seconds > 59) return false;
    uint64_t milliseconds = 0;
    if (p < end && *p == '.') {
        ++p;
        uint64_t scale = 100;
        for (; p < end && isDigit(*p); ++p, scale /= 10) milliseconds += uint64_t(*p - '0') * scale;
    }
    if (p < end && *p != '(' && *p != ' ' && *p != '\t') return false;
    const uint64_t total = (minutes * 60 + seconds) * 1000 + milliseconds;
    if (total > uint64_t(INT32_MAX)) return false;
    time = uint32_t(total);
    return true;
}

// One line (number `number`), without its end: a tune's entry, or nothing the database uses.
void parseLine(const char* p, const char* end, size_t number, SongLengthDatabase& db) {
    while (p < end && (*p == ' ' || *p == '\t')) ++p;
    SongLengthsSkipped& skipped = db.skipped;
    auto skip = [&] {
        if (skipped.lines++ == 0) skipped.firstLine = number;
    };
    if (p == end || *p == ';' || *p == '#' || *p == '[') return;  // blank, a comment, the section line
    if (end - p < 33 || p[32] != '=') return skip();
    Md5 digest{};
    for (size_t i = 0; i < 16; ++i) {
        const int high = hexValue(p[2 * i]), low = hexValue(p[2 * i + 1]);
        if (high < 0 || low < 0) return skip();
        digest[i] = uint8_t(high << 4 | low);
    }
    std::vector<uint32_t> lengths;
    // A tune has at most kMostSongs songs: times beyond them are no song's.
    for (p += 33; p < end && lengths.size() < kMostSongs;) {
        while (p < end && (*p == ' ' || *p == '\t')) ++p;
        const char* word = p;
        while (p < end && *p != ' ' && *p != '\t') ++p;
        if (p == word) continue;
        uint32_t time = 0;
        if (!parseTime(word, p, time) && skipped.times++ == 0) {
            skipped.firstTimeLine = number;
            skipped.firstTime.assign(word, size_t(std::min<ptrdiff_t>(p - word, 40)));
        }
        lengths.push_back(time);
    }
    db.tunes[digest] = std::move(lengths);
}

}  // namespace

void parseSongLengths(const char* text, size_t size, SongLengthDatabase& db) {
    const char* end = text + size;
    // A file saved as UTF-8 by some editors begins with a byte order mark.
    const char* line = text;
    if (size >= 3 && std::memcmp(text, "\xEF\xBB\xBF", 3) == 0) line += 3;
    // Lines end in LF, CR LF or CR alone (an old Mac's): a CR LF is a line and an empty one.
    // (A CR LF's empty line is no line of the file's: the numbers a user sees in an editor.)
    size_t number = 1;
    while (line < end) {
        const char* lineEnd = line;
        while (lineEnd < end && *lineEnd != '\n' && *lineEnd != '\r') ++lineEnd;
        parseLine(line, lineEnd, number, db);
        if (lineEnd + 1 < end && lineEnd[0] == '\r' && lineEnd[1] == '\n') ++lineEnd;
        line = lineEnd + 1;
        ++number;
    }
}

TuneFileRead readSongLengths(FileName path, SongLengthDatabase& db) {
    std::vector<uint8_t> bytes;
    const TuneFileRead read = readWholeFile(path, kLargestSongLengthFile, bytes);
    if (read.status == TuneFileStatus::Read)
        parseSongLengths(reinterpret_cast<const char*>(bytes.data()), bytes.size(), db);
    return read;
}

uint32_t songLength(const SongLengthDatabase& db, const Md5& digest, int32_t song) {
    const auto found = db.tunes.find(digest);
    if (found == db.tunes.end() || song < 0 || size_t(song) >= found->second.size()) return 0;
    return found->second[size_t(song)];
}

}  // namespace sidtune
