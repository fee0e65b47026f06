// EngineState: the one record that ties the subsystems together: a whole player, from the memory
// image to the audio objects.
//
// Every subsystem is a set of free functions over the state it is handed: the CPU runs on e.cpu
// and e.memory, the loader fills e.tune and the image, the synthesizer renders from e.sid and
// e.digi, the audio engine keeps its objects in e.audio. Nothing below the plugin reaches for a
// global: the plugin plays with one static engine (plugin/commands.h), and the tools, the tests
// and the benchmarks make engines of their own, as many as they like, each independent of the
// others. A new engine must be zero, as static storage is: `EngineState e{}`, or
// std::make_unique<EngineState>(), which value-initialises it.
//
// Two threads use an engine that plays: the host's thread (set-up, loading, the init routine,
// shutdown) and the worker thread (the play routine and the synthesizer while a tune plays). They
// never use the CPU, the image or the synthesizer at the same time.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "audio/audio_engine.h"
#include "audio/audio_format.h"
#include "cpu/cpu_state.h"
#include "sid/sid_state.h"
#include "tune/tune_info.h"

namespace sidtune {

struct EngineState {
    C64Memory memory;
    Cpu6502 cpu;
    TuneInfo tune;
    SidChip sid;
    DigiPlayer digi;
    // Nonzero: the worker renders the tune; 0: it fills blocks with silence. Written by the
    // host's thread, read by the worker once at the start of each block.
    std::atomic<int> renderEnabled;
    // Held by the host's thread while it runs an init routine and by the worker while it renders
    // a block: the stream starts playing before the song's init routine runs, and the worker must
    // not enter the CPU until that routine has returned.
    std::mutex machineLock;
    AudioStream audio;
    // The player, between two commands: Idle (all false), Playing (engineOpen and songPlaying) or
    // Paused (all three).
    bool engineOpen;
    bool songPlaying;
    bool songPaused;
    // Calls into tune code that the instruction bound cut off since the last machine reset.
    uint32_t cutOffCalls;
};

// The whole player, the 64 KiB memory image included, is one small record; with the one-second
// stream buffer (88200 bytes) it stays under a quarter of a megabyte.
static_assert(sizeof(EngineState) + kStreamBytes < 256 * 1024, "the engine's state has grown past 256 KiB");

}  // namespace sidtune
