// EngineState: the one record that ties the subsystems together.
//
// There is exactly one player per loaded plugin, so there is exactly one EngineState, `engine`,
// zero when the library is loaded. Every subsystem is a set of free functions over it: the CPU
// runs on engine.cpu and engine.memory, the loader fills engine.tune and the image, and so on.
//
// Two threads use it: the host's thread (set-up, loading, the init routine, shutdown) and the
// worker thread (the play routine and the synthesizer while a tune plays). They never use the
// CPU, the image or the synthesizer at the same time.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "audio/audio_engine.h"
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
    // The player: Idle (both false) or Playing (both true) between two commands.
    bool engineOpen;
    bool songPlaying;
    // Calls into tune code that the instruction bound cut off since the last machine reset.
    uint32_t cutOffCalls;
};

extern EngineState engine;

}  // namespace sidtune
