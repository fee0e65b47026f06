// A tune as the tools read it: the file's bytes, its header, and a song of the tool's own with
// the tune loaded as the player loads it. Failures are one line on standard error, with the reason.
//
//   fail(message)                    "sidtune: message" on standard error
//   loadToolTune(path, tune)         false (said) when the file cannot be read or is no PSID tune
//   unreadable(path, read)           why a file cannot be read, as a message
//   refusal(status)                  why a file with this header is not played, after "is"/":"
//                                    ("not a PSID tune", "a PSID tune cut short", ...)
//   beyondData(header, bytes, size)  a warning where the init or play address lies beyond the
//                                    data the file holds (a file cut short, most often); "" if not
//   songExists(path, tune, song)     false (said) when song N (counted from 1) is not the tune's
//   readToolSongLengths(path, db)    false (said, with the reason) when a song-length database
//                                    cannot be read
//   toolSongLength(db, tune, song)   milliseconds a song-length database gives song N; 0 (said)
//                                    when it cannot be read or gives none
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/song.h"
#include "tune/psid_header.h"
#include "tune/song_lengths.h"
#include "tune/tune_file.h"

namespace sidtune {

struct ToolTune {
    std::unique_ptr<Song> song;
    std::vector<uint8_t> bytes;
    PsidHeader header;
};

void fail(const std::string& message);
std::string unreadable(const std::string& path, const TuneFileRead& read);
// `refused`, where given, is told the header of a file that is no PSID tune before the failure is said.
bool loadToolTune(const std::string& path, ToolTune& tune,
                  const std::function<void(const PsidHeader&)>& refused = {});
std::string refusal(HeaderStatus status);
std::string beyondData(const PsidHeader& h, const uint8_t* bytes, size_t size);
bool songExists(const std::string& path, const TuneInfo& tune, int song);
bool readToolSongLengths(const std::string& path, SongLengthDatabase& db);
uint32_t toolSongLength(const std::string& database, const ToolTune& tune, int song);

}  // namespace sidtune
