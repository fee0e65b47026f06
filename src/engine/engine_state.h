// EngineState: a whole player, from the emulated machine to the audio output. It composes the
// parts, each of which knows nothing of the others above it:
//
//     EngineState
//       machine   the CPU, the memory image, the sound chip, the sample player (cpu/machine.h)
//       tune      what the player keeps of the loaded tune's header (tune/tune_info.h)
//       pacing    where the song is in its blocks and frames (frame_pacing.h)
//       settings  the tempo, the muted voices, the quick start (play_settings.h)
//       songs     the stream's songs and where each begins (song_stream.h)
//       player    Idle, Playing or Paused, and why the last play failed (player.h)
//       audio     the device, the looping stream and its worker thread (audio/audio_output.h)
//
// The chips take only the machine (or the part of it they touch), the loader a machine and a
// TuneInfo, the audio output only its own objects and the block source the player hands it.
// Nothing below the plugin reaches for a global: the plugin plays with one static engine
// (plugin/commands.cpp), and the tools, the tests and the benchmarks make engines of their own, as
// many as they like. A new engine must be zero, as static storage is: `EngineState e{}`, or
// std::make_unique<EngineState>(), which value-initialises it.
//
// Two threads use an engine that plays: the host's thread (set-up, loading, the init routine,
// shutdown) and the worker thread (the play routine and the synthesizer while a tune plays). They
// never use the machine at the same time: machineLock.
#pragma once

#include <atomic>
#include <mutex>

#include "audio/audio_format.h"
#include "audio/audio_output.h"
#include "cpu/machine.h"
#include "engine/frame_pacing.h"
#include "engine/play_settings.h"
#include "engine/player.h"
#include "engine/song_stream.h"
#include "tune/tune_info.h"

namespace sidtune {

struct EngineState {
    Machine machine;
    TuneInfo tune;
    FramePacing pacing;
    PlaySettings settings;
    SongStream songs;
    Player player;
    // Nonzero: the worker renders the tune; 0: it fills blocks with silence. Written by the
    // host's thread, read by the worker once at the start of each block.
    std::atomic<int> renderEnabled;
    // Held by the host's thread while it runs an init routine and by the worker while it renders
    // a block: the stream starts playing before the song's init routine runs, and the worker must
    // not enter the CPU until that routine has returned.
    std::mutex machineLock;
    AudioOutput audio;
};

// The whole player, the 64 KiB memory image included, is one small record; with the one-second
// stream buffer it stays under a quarter of a megabyte.
static_assert(sizeof(EngineState) + kStreamBytes < 256 * 1024, "the engine's state has grown past 256 KiB");

}  // namespace sidtune
