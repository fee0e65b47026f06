// The filter's chain alone: the synthesizer with its three voices silent (level 0, held) but all
// routed through the filter, whose state is not at rest, so that every sample runs the filter and
// little else. Its time per sample is the floor under any tune that uses the filter: each sample
// of the filter waits on the last.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "cpu/machine.h"
#include "sid/sid.h"

namespace {

using namespace sidtune;

void BM_FilterChain(benchmark::State& state) {
    const auto machine = std::make_unique<Machine>();
    resetMachine(*machine, 44100);
    SidChip& chip = machine->sid;
    chip.registers.bytes[sidRegister(SidRegister::CutoffHigh)] = 0x40;
    chip.registers.bytes[sidRegister(SidRegister::ResonanceRouting)] = 0xF7;   // all three routed
    chip.registers.bytes[sidRegister(SidRegister::ModeVolume)] = 0x1F;         // low pass, full volume
    for (SidVoice& v : chip.voices) v.envelopeState = EnvelopeState::Sustain;  // held at level 0
    std::vector<int16_t> samples(44100);
    for (auto _ : state) {
        chip.bandPass = 1 << 24;  // a filter that still rings
        renderSamples(chip, machine->digi, machine->memory, samples.data(), uint32_t(samples.size()));
        benchmark::DoNotOptimize(samples.data());
    }
    state.counters["ns_per_sample"] =
        benchmark::Counter(double(state.iterations()) * double(samples.size()),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["realtime_x"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FilterChain)->Unit(benchmark::kMicrosecond);

}  // namespace
