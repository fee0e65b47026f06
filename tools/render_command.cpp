// sidtune render: a song into a WAV file, block by block exactly as the player makes it, with the
// player's settings, effects and a crossfade mixed as the player mixes them (engine/mix.h), and a
// fade-out as FadeOutSidtune makes one.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "engine/frame_pacing.h"
#include "engine/mix.h"
#include "engine/song.h"
#include "engine/song_stream.h"
#include "output_file.h"
#include "progress_bar.h"
#include "sidtune_commands.h"
#include "stop_signal.h"
#include "tool_tune.h"
#include "tune/md5.h"
#include "tune/song_lengths.h"
#include "wav_file.h"

namespace sidtune {
namespace {

// The file being rendered, for the signal handler: removed if the render is stopped.
OutputFile* renderOutput = nullptr;

void abandonRender(int signal) {
    if (renderOutput != nullptr) renderOutput->abandon();
    std::_Exit(exitCodeFor(signal));
}

// A fade-out over the last `fadeSamples` of `total` samples: the volume falls evenly from full to
// nothing, and on the volume's scale its value is the samples' gain.
void fadeOut(int16_t* samples, uint32_t count, uint64_t first, uint64_t total, uint64_t fadeSamples) {
    if (fadeSamples == 0) return;
    for (uint32_t i = 0; i < count; ++i) {
        const uint64_t at = first + i;
        if (at + fadeSamples < total) continue;
        const double gain = double(total - at) / double(fadeSamples + 1);
        samples[i] = int16_t(std::lround(samples[i] * gain));
    }
}

// A song laid over the music or crossfaded to, from the command line: FILE:SONG@SECONDS[:SECONDS].
struct MixEvent {
    std::string file;
    int song = 1;
    uint64_t at = 0;             // the stream sample it begins on
    double seconds = 0;          // an effect's length (0: by the database or its silence); a crossfade's
    uint32_t lengthMs = 0;       // an effect's length from the database; 0 unknown
    std::vector<uint8_t> bytes;  // emptied once it has begun
    bool crossfade = false;
};

// The event of an option's text: false when it is not of the form.
bool parseMixEvent(const std::string& text, bool crossfade, MixEvent& event) {
    const size_t atSign = text.rfind('@');
    const size_t colon = atSign == std::string::npos ? std::string::npos : text.rfind(':', atSign);
    if (colon == std::string::npos || colon == 0) return false;
    double start = -1;
    char rest = 0;
    const int fields = std::sscanf(text.c_str() + atSign + 1, "%lf:%lf%c", &start, &event.seconds, &rest);
    event.file = text.substr(0, colon);
    event.crossfade = crossfade;
    return std::sscanf(text.c_str() + colon + 1, "%d@", &event.song) == 1 && fields >= 1 && fields <= 2 &&
           (!crossfade || fields == 2) && start >= 0 && start <= 1e6 && event.seconds >= 0 &&
           event.seconds <= 1e6 && (event.at = uint64_t(std::llround(start * kSampleRate)), true);
}

// The event of an option's text (of the form: the command line checked it), its tune read: false
// (said) when the tune cannot be had.
bool readMixEvent(const std::string& text, bool crossfade, MixEvent& event) {
    parseMixEvent(text, crossfade, event);
    ToolTune tune;
    if (!loadToolTune(event.file, tune) || !songExists(event.file, tune.song->tune, event.song)) return false;
    event.bytes = std::move(tune.bytes);
    return true;
}

// The mix's next `count` samples; the effects and the crossfade that begin among them begin there.
void mixUntil(Mix& mix, Song& music, std::vector<MixEvent>& events, int16_t* out, uint32_t count) {
    while (count != 0) {
        const uint64_t at = mix.made;
        uint32_t n = count;
        for (MixEvent& e : events) {
            if (!e.bytes.empty() && e.at >= at && e.at < at + n) n = uint32_t(e.at - at);
        }
        for (MixEvent& e : events) {
            if (e.at != at || e.bytes.empty()) continue;
            if (e.crossfade) {
                Song& next = mix.spare;
                next.settings = music.settings;
                beginTune(next, e.bytes.data(), e.bytes.size(), e.song - 1);
                startSongStream(next, e.song - 1, at, {}, e.bytes);
                startCrossfade(mix, music, next, uint64_t(std::llround(e.seconds * kSampleRate)));
            } else {
                startEffect(mix, at, e.bytes.data(), e.bytes.size(), e.song - 1, e.seconds, e.lengthMs);
            }
            e.bytes.clear();
        }
        if (n == 0) continue;
        mixSamples(mix, music, out, n);
        out += n;
        count -= n;
    }
}

}  // namespace

bool mixEventForm(const std::string& text, bool crossfade) {
    MixEvent event;
    return parseMixEvent(text, crossfade, event);
}

int renderCommand(const RenderOptions& o) {
    ToolTune tune;
    if (!loadToolTune(o.tune, tune) || !songExists(o.tune, tune.song->tune, o.song)) return 1;
    // Whole half-second blocks, as the player makes them; or the song's own length, to the sample.
    uint64_t total = uint64_t(std::ceil(o.seconds * 2)) * kBlockSamples;
    if (o.seconds != 0 && std::ceil(o.seconds * 2) != o.seconds * 2)
        std::fprintf(stderr,
                     "sidtune: %g s made as %g s, in whole half-second blocks as the player makes them\n",
                     o.seconds, std::ceil(o.seconds * 2) / 2);
    if (o.seconds == 0) {
        const uint32_t length = toolSongLength(o.lengths, tune, o.song);
        if (length == 0) return 1;
        total = lengthSamples(length);
        if (total * kBytesPerSample > 0xFFFFFFFFull - (wav::kHeaderBytes - 8)) {
            fail("the song's length is more than a WAV file holds (4 GiB)");
            return 1;
        }
    }
    std::vector<MixEvent> events;
    for (const std::string& effect : o.effects) {
        events.emplace_back();
        if (!readMixEvent(effect, false, events.back())) return 1;
        if (events.back().seconds == 0 && !o.lengths.empty()) {
            SongLengthDatabase db;
            if (!readToolSongLengths(o.lengths, db)) return 1;
            const std::vector<uint8_t>& bytes = events.back().bytes;
            events.back().lengthMs = songLength(db, md5(bytes.data(), bytes.size()), events.back().song - 1);
        }
    }
    if (!o.crossfade.empty()) {
        events.emplace_back();
        if (!readMixEvent(o.crossfade, true, events.back())) return 1;
    }
    Song& s = *tune.song;
    applySongOptions(s, o.settings);
    // Song N of the command line is the player's song N - 1; it exists (songExists).
    beginTune(s, tune.bytes.data(), tune.bytes.size(), o.song - 1);
    skipSong(s, seekSamples(o.start));
    startSongStream(s, o.song - 1, 0, {}, tune.bytes);
    const auto mix = std::make_unique<Mix>();
    setEffectVolume(*mix, float(o.effectVolume));
    setMusicDuck(*mix, float(o.duck));

    OutputFile out;
    std::string error;
    if (!out.open(o.output, o.tune, error)) {
        fail("cannot write " + o.output + ": " + error);
        return 1;
    }
    renderOutput = &out;
    catchStopSignals(abandonRender);

    const uint64_t fadeSamples = std::min<uint64_t>(total, uint64_t(std::llround(o.fadeOut * kSampleRate)));
    const auto header = wav::header(uint32_t(total));
    bool ok = out.write(header.data(), header.size(), error);
    ProgressBar progress(onTerminal(true));
    std::vector<int16_t> block(kBlockSamples);
    std::vector<uint8_t> bytes(kBlockBytes);
    for (uint64_t made = 0; made < total && ok;) {
        const uint32_t count = uint32_t(std::min<uint64_t>(kBlockSamples, total - made));
        mixUntil(*mix, s, events, block.data(), count);
        fadeOut(block.data(), count, made, total, fadeSamples);
        wav::putSamples(block.data(), count, bytes.data());
        ok = out.write(bytes.data(), count * kBytesPerSample, error);
        made += count;
        progress.show(made, total);
    }
    progress.clear();
    ok = ok && out.commit(error);
    renderOutput = nullptr;
    if (!ok) {
        out.abandon();
        fail("cannot write " + o.output + ": " + error);
        return 1;
    }
    return 0;
}

}  // namespace sidtune
