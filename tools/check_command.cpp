// sidtune check: will these tunes play here? A verdict for every song of every tune file under the
// paths, as a table and a summary or as JSON lines (tune_check.h does the work).
#include <algorithm>
#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "command_line.h"
#include "header_text.h"
#include "progress_bar.h"
#include "sidtune_commands.h"
#include "tool_tune.h"
#include "tune/song_lengths.h"
#include "tune_check.h"

namespace sidtune {
namespace {

std::string lengthText(uint32_t milliseconds) {
    if (milliseconds == 0) return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%u:%02u", milliseconds / 60000, milliseconds / 1000 % 60);
    return text;
}

std::string joined(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& w : words) text += (text.empty() ? "" : ", ") + w;
    return text.empty() ? "-" : text;
}

// One line of the check's output, in text or as a JSON object.
void printCheck(const SongCheck& s, bool json, bool lengths) {
    if (json) {
        nlohmann::ordered_json line = {{"file", s.file}};
        if (s.song != 0) line["song"] = s.song;
        line["verdict"] = verdictName(s.verdict);
        if (s.verdict == Verdict::Refused) {
            line["reason"] = s.reason;
        } else {
            line["peak"] = s.peak;
            line["cutOffCalls"] = s.cutOffCalls;
            line["startSong"] = s.startSong;
            line["notes"] = s.notes;
            if (lengths) line["lengthMs"] = s.lengthMs;
        }
        // File names are bytes: any that are no UTF-8 are shown as U+FFFD.
        std::printf("%s\n", line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
    } else if (s.verdict == Verdict::Refused) {
        std::printf("%-7s %-5s %s: %s\n", "refused", "-", printableName(s.file).c_str(), s.reason.c_str());
    } else {
        // The author's start song is marked with a *.
        const std::string song = std::to_string(s.song) + (s.startSong ? "*" : " ");
        std::string length =
            lengths ? " " + std::string(6 - std::min<size_t>(6, lengthText(s.lengthMs).size()), ' ') +
                          lengthText(s.lengthMs)
                    : "";
        std::printf("%-7s %5s %6d %8u%s  %-16s %s\n", verdictName(s.verdict), song.c_str(), s.peak,
                    unsigned(s.cutOffCalls), length.c_str(), joined(s.notes).c_str(),
                    printableName(s.file).c_str());
    }
}

}  // namespace

int checkCommand(const CheckOptions& o) {
    SongLengthDatabase db;
    if (!o.lengths.empty() && !readToolSongLengths(o.lengths, db)) return 1;
    const CheckWalk walk = walkPaths(o.paths);
    for (const std::string& missing : walk.missing) fail(missing + ": No such file or directory");
    CheckPlan plan = planCheck(walk.files, o.lengths.empty() ? nullptr : &db, o.faithful);
    std::vector<SongCheck>& songs = plan.songs;
    const bool lengths = !o.lengths.empty();
    if (!o.json) {
        std::printf("%-7s %5s %6s %8s%s  %-16s %s\n", "verdict", "song", "peak", "cut-off",
                    lengths ? " length" : "", "notes", "file");
    }
    // Printed in the order of the walk, whichever job finishes first; the bar is cleared before a
    // line is printed, so that it never runs into the table.
    std::vector<bool> done(songs.size(), false);
    size_t printed = 0, finished = 0;
    ProgressBar progress(onTerminal(false));
    checkSongs(songs, o.seconds, o.jobs, o.faithful, [&](size_t i) {
        done[i] = true;
        ++finished;
        if (printed < songs.size() && done[printed]) progress.clear();
        for (; printed < songs.size() && done[printed]; ++printed)
            printCheck(songs[printed], o.json, lengths);
        std::fflush(stdout);
        progress.show(finished, songs.size());
    });
    progress.clear();
    std::map<Verdict, long> n;
    for (const SongCheck& s : songs) ++n[s.verdict];
    if (!o.json) {
        // "1 plays", "2 play": the verbs agree with their counts.
        std::printf("%s%s in %s: %s, %ld silent, %s; %s refused", o.faithful ? "faithful mode: " : "",
                    count(long(songs.size()) - n[Verdict::Refused], "song", "songs").c_str(),
                    count(long(plan.tunes), "tune file", "tune files").c_str(),
                    count(n[Verdict::Plays], "plays", "play").c_str(), n[Verdict::Silent],
                    count(n[Verdict::Stalls], "stalls", "stall").c_str(),
                    count(n[Verdict::Refused], "file", "files").c_str());
        if (plan.skipped != 0) {
            std::printf("; %s", count(long(plan.skipped), "other file skipped (no tune)",
                                      "other files skipped (no tunes)")
                                    .c_str());
        }
        std::printf("\n");
    }
    return walk.missing.empty() ? 0 : 1;
}

}  // namespace sidtune
