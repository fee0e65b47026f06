// sidtune check: will these tunes play here? A verdict for every song of every tune file under the
// paths, as a table and a summary or as JSON lines (tune_check.h does the work).
#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "header_text.h"
#include "progress_bar.h"
#include "sidtune_commands.h"
#include "tool_tune.h"
#include "tune_check.h"

namespace sidtune {
namespace {

// One line of the check's output, in text or as a JSON object.
void printCheck(const SongCheck& s, bool json) {
    if (json) {
        nlohmann::ordered_json line = {{"file", s.file}};
        if (s.song != 0) line["song"] = s.song;
        line["verdict"] = verdictName(s.verdict);
        if (s.verdict == Verdict::Refused) line["reason"] = s.reason;
        line["peak"] = s.peak;
        line["cutOffCalls"] = s.cutOffCalls;
        // File names are bytes: any that are no UTF-8 are shown as U+FFFD.
        std::printf("%s\n", line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
    } else if (s.verdict == Verdict::Refused) {
        std::printf("%-7s %-4s %s: %s\n", "refused", "-", printableHeaderText(s.file.c_str()).c_str(),
                    s.reason.c_str());
    } else {
        std::printf("%-7s %4d %6d %8u  %s\n", verdictName(s.verdict), s.song, s.peak, unsigned(s.cutOffCalls),
                    printableHeaderText(s.file.c_str()).c_str());
    }
}

}  // namespace

int checkCommand(const CheckOptions& o) {
    const CheckWalk walk = walkPaths(o.paths);
    for (const std::string& missing : walk.missing) fail(missing + ": No such file or directory");
    std::vector<SongCheck> songs = plan(walk.files);
    if (!o.json) std::printf("%-7s %4s %6s %8s  %s\n", "verdict", "song", "peak", "cut-off", "file");
    // Printed in the order of the walk, whichever job finishes first; the bar is cleared before a
    // line is printed, so that it never runs into the table.
    std::vector<bool> done(songs.size(), false);
    size_t printed = 0, finished = 0;
    ProgressBar progress(onTerminal(false));
    checkSongs(songs, o.seconds, o.jobs, [&](size_t i) {
        done[i] = true;
        ++finished;
        if (printed < songs.size() && done[printed]) progress.clear();
        for (; printed < songs.size() && done[printed]; ++printed) printCheck(songs[printed], o.json);
        std::fflush(stdout);
        progress.show(finished, songs.size());
    });
    progress.clear();
    const bool json = o.json;
    std::map<Verdict, int> count;
    for (const SongCheck& s : songs) ++count[s.verdict];
    if (!json) {
        std::printf("%zu songs in %zu files: %d play, %d silent, %d stall; %d files refused\n",
                    songs.size() - size_t(count[Verdict::Refused]), walk.files.size(), count[Verdict::Plays],
                    count[Verdict::Silent], count[Verdict::Stalls], count[Verdict::Refused]);
    }
    return walk.missing.empty() ? 0 : 1;
}

}  // namespace sidtune
