#include "tune_check.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <memory>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>

#include "engine/frame_pacing.h"
#include "engine/song.h"
#include "engine/song_stream.h"
#include "tool_tune.h"
#include "tune/md5.h"
#include "tune/psid_header.h"
#include "tune/song_lengths.h"
#include "tune/tune_file.h"
#include "tune/tune_loader.h"
#include "tune_notes.h"
#include "unicode.h"

namespace sidtune {
namespace {

namespace fs = std::filesystem;

void walkFolder(const fs::path& folder, std::set<fs::path>& seen, std::vector<std::string>& files) {
    std::error_code error;
    const fs::path real = fs::canonical(folder, error);
    if (error || !seen.insert(real).second) return;  // a loop, or a folder walked already
    std::vector<fs::path> entries;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        entries.push_back(it->path());
    }
    std::sort(entries.begin(), entries.end());
    for (const fs::path& entry : entries) {
        if (fs::is_directory(entry, error)) {
            walkFolder(entry, seen, files);
        } else {
            files.push_back(utf8Of(entry));
        }
    }
}

// Renders one song as the player does, `samples` long, and judges it.
void check(SongCheck& s, Song& song, uint64_t samples) {
    if (beginTune(song, s.tune->data(), s.tune->size(), s.song - 1) != PlayError::None) {
        s.verdict = Verdict::Refused;
        s.reason = "not a PSID tune";
        return;
    }
    std::vector<int16_t> block(kBlockSamples);
    int lowest = 0, highest = 0;
    for (uint64_t made = 0; made < samples && song.machine.cutOffCalls == 0;) {
        const uint32_t n = uint32_t(std::min<uint64_t>(kBlockSamples, samples - made));
        renderSong(song, block.data(), n);
        const auto [low, high] = std::minmax_element(block.begin(), block.begin() + n);
        lowest = std::min<int>(lowest, *low);
        highest = std::max<int>(highest, *high);
        made += n;
    }
    s.peak = highest - lowest;
    s.cutOffCalls = song.machine.cutOffCalls;
    s.verdict = verdictOf(s.peak, s.cutOffCalls);
}

}  // namespace

Verdict verdictOf(int peak, uint32_t cutOffCalls) {
    if (cutOffCalls != 0) return Verdict::Stalls;
    return peak <= kSilentSwing ? Verdict::Silent : Verdict::Plays;
}

const char* verdictName(Verdict verdict) {
    switch (verdict) {
        case Verdict::Plays: return "plays";
        case Verdict::Silent: return "silent";
        case Verdict::Stalls: return "stalls";
        case Verdict::Refused: return "refused";
    }
    return "?";
}

CheckWalk walkPaths(const std::vector<std::string>& paths) {
    CheckWalk walk;
    std::set<fs::path> seen;
    for (const std::string& path : paths) {
        std::error_code error;
        if (!fs::exists(pathOf(path), error)) {
            walk.missing.push_back(path);
        } else if (fs::is_directory(pathOf(path), error)) {
            walkFolder(pathOf(path), seen, walk.files);
        } else {
            walk.files.push_back(path);
        }
    }
    return walk;
}

CheckPlan planCheck(const std::vector<std::string>& files, const SongLengthDatabase* lengths, bool faithful) {
    CheckPlan plan;
    std::vector<SongCheck>& songs = plan.songs;
    std::vector<uint8_t> bytes;
    for (const std::string& file : files) {
        SongCheck refused;
        refused.file = file;
        const TuneRead read = readTune(utf8Name(file), bytes);
        if (read.error != PlayError::None) {
            refused.reason = std::string("cannot be read: ") + describe(read.file);
            songs.push_back(std::move(refused));
            ++plan.tunes;
            continue;
        }
        // The header alone tells a PSID tune and its songs: nothing of the tune runs here.
        PsidHeader header;
        const HeaderStatus status = parsePsidHeader(bytes.data(), bytes.size(), header);
        if (status == HeaderStatus::NotATune) {
            ++plan.skipped;
            continue;
        }
        ++plan.tunes;
        if (status != HeaderStatus::Psid) {
            refused.reason = refusal(status);
            songs.push_back(std::move(refused));
            continue;
        }
        const int count = uint8_t(header.songs - 1) + 1;  // the player reads the low byte of the field
        const auto tune = std::make_shared<const std::vector<uint8_t>>(bytes);
        std::vector<std::string> notes;
        for (const SoundNote& n : soundNotes(header, faithful)) notes.push_back(n.word);
        if (!beyondData(header, bytes.data(), bytes.size()).empty()) notes.push_back("cut short");
        const Md5 digest = lengths != nullptr ? md5(tune->data(), tune->size()) : Md5{};
        for (int song = 1; song <= count; ++song) {
            SongCheck s;
            s.file = file;
            s.song = song;
            s.tune = tune;
            s.notes = notes;
            s.startSong = song == header.startSong;
            if (lengths != nullptr) s.lengthMs = songLength(*lengths, digest, song - 1);
            songs.push_back(std::move(s));
        }
    }
    return plan;
}

void checkSongs(std::vector<SongCheck>& songs, double seconds, unsigned jobs, bool faithful,
                const std::function<void(size_t)>& onDone) {
    // Whole half-second blocks, as the player makes them; a song whose length is known, that long
    // at most.
    const uint64_t most = uint64_t(std::ceil(seconds * 2)) * kBlockSamples;
    std::atomic<size_t> next{0};
    std::mutex reporting;
    auto work = [&] {
        const auto song = std::make_unique<Song>();
        song->settings.faithful = faithful;
        for (size_t i = next++; i < songs.size(); i = next++) {
            const uint64_t length = songs[i].lengthMs != 0 ? lengthSamples(songs[i].lengthMs) : most;
            if (songs[i].song != 0) check(songs[i], *song, std::min(length, most));
            songs[i].tune.reset();
            if (onDone) {
                std::lock_guard<std::mutex> guard(reporting);
                onDone(i);
            }
        }
    };
    std::vector<std::thread> threads;
    for (unsigned j = 1; j < std::max(1u, jobs); ++j) threads.emplace_back(work);
    work();
    for (std::thread& t : threads) t.join();
}

}  // namespace sidtune
