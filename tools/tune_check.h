// Will this tune play here? The checker behind `sidtune check`: every song of every tune file
// under the paths given, rendered exactly as the player renders it, and a verdict for each.
//
//   plays     nothing was cut off, and there is sound
//   silent    nothing was cut off, and the output's peak-to-peak swing stayed at most 655 (1% of
//             full scale) over the checked seconds
//   stalls    an init or play call was cut off by the instruction bound: the tune waits for
//             hardware this player does not have (a raster line, a timer). It stays `stalls`
//             whatever it sounds like, so its render ends at the first cut-off call
//   refused   the file (not a song): a tune file that is no PSID tune (an RSID tune, one cut
//             short), or a file that cannot be read; `reason` says which
//
// Files that are no tune at all (they begin with neither "PSID" nor "RSID": a script, a picture)
// are skipped, and only counted. Each song carries the notes of its tune (tune_notes.h: why it may
// sound otherwise here), whether it is the author's start song, and, from a song-length database,
// its length: it is then rendered for that long, at most `seconds`.
//
//   const CheckWalk walk = walkPaths(paths);              files in order; missing paths named
//   const CheckPlan plan = planCheck(walk.files, db);     every song of every tune, and refusals
//   checkSongs(plan.songs, seconds, jobs, onDone);        one song per job; fills each entry
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/silence.h"

namespace sidtune {

struct SongLengthDatabase;

enum class Verdict { Plays, Silent, Stalls, Refused };
const char* verdictName(Verdict verdict);

// The verdict of a song rendered as the player renders it, from its peak-to-peak swing and the
// calls the instruction bound cut off.
Verdict verdictOf(int peak, uint32_t cutOffCalls);

struct SongCheck {
    std::string file;
    int song = 0;  // counted from 1; 0 for a refused file
    Verdict verdict = Verdict::Refused;
    std::string reason;  // for a refused file
    int peak = 0;        // peak-to-peak swing of the output
    uint32_t cutOffCalls = 0;
    std::vector<std::string> notes;  // why it may sound otherwise here: "2 chips", "NTSC", "8580"
    bool startSong = false;          // the author's start song
    uint32_t lengthMs = 0;           // from a song-length database; 0 unknown
    std::shared_ptr<const std::vector<uint8_t>> tune;  // the file's bytes, shared by its songs
};

struct CheckPlan {
    std::vector<SongCheck> songs;
    size_t tunes = 0;    // tune files: those refused too
    size_t skipped = 0;  // files that are no tune at all
};

struct CheckWalk {
    std::vector<std::string> files;    // in the order of the walk
    std::vector<std::string> missing;  // paths given that do not exist
};

// Every file under each path: directories walked recursively in name order, links to files and
// folders followed, each folder once (no loops).
CheckWalk walkPaths(const std::vector<std::string>& paths);
// The songs to check, file by file; a tune file that is no PSID tune is one refused entry. `lengths`:
// a song-length database, or null.
// `faithful`: the songs are to be checked in faithful playback (the notes it makes untrue go).
CheckPlan planCheck(const std::vector<std::string>& files, const SongLengthDatabase* lengths,
                    bool faithful = false);
// Checks every song not already refused over `seconds`, on `jobs` threads, each with a song of
// its own. `onDone(i)` is called (from any thread, one at a time) as entry i is complete.
void checkSongs(std::vector<SongCheck>& songs, double seconds, unsigned jobs, bool faithful = false,
                const std::function<void(size_t)>& onDone = {});

}  // namespace sidtune
