// sidtune render: a song into a WAV file, block by block exactly as the player makes it, with the
// player's settings, and a fade-out as FadeOutSidtune makes one.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "engine/frame_pacing.h"
#include "engine/song.h"
#include "engine/song_stream.h"
#include "output_file.h"
#include "progress_bar.h"
#include "sidtune_commands.h"
#include "stop_signal.h"
#include "tool_tune.h"
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

}  // namespace

int renderCommand(const RenderOptions& o) {
    ToolTune tune;
    if (!loadToolTune(o.tune, tune) || !songExists(o.tune, tune.song->tune, o.song)) return 1;
    // Whole half-second blocks, as the player makes them; or the song's own length, to the sample.
    uint64_t total = uint64_t(std::ceil(o.seconds * 2)) * kBlockSamples;
    if (o.seconds == 0) {
        const uint32_t length = toolSongLength(o.lengths, tune, o.song);
        if (length == 0) return 1;
        total = lengthSamples(length);
        if (total * kBytesPerSample > 0xFFFFFFFFull - (wav::kHeaderBytes - 8)) {
            fail("the song's length is more than a WAV file holds (4 GiB)");
            return 1;
        }
    }
    Song& s = *tune.song;
    applySongOptions(s, o.settings);
    // Song N of the command line is the player's song N - 1; it exists (songExists).
    beginTune(s, tune.bytes.data(), tune.bytes.size(), o.song - 1);

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
        renderSong(s, block.data(), count);
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
