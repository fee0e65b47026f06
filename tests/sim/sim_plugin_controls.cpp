// Test-only exports of the plugin built on the simulated audio platform (libsidtune_sim.so), so
// that tests which load the real shared library can steer and observe the platform inside it.
// The plugin that users load exports nothing but its two entry points.
#include <cstdint>

#include "sim/platform_sim.h"

#define SIM_EXPORT extern "C" __attribute__((visibility("default")))

SIM_EXPORT void SidtuneSim_Reset() { sidtune::sim::reset(); }
SIM_EXPORT void SidtuneSim_FailAt(int32_t step) { sidtune::sim::failAt(sidtune::sim::Step(step)); }
SIM_EXPORT void SidtuneSim_Live(int32_t out[5]) {
    const sidtune::sim::LiveObjects l = sidtune::sim::live();
    out[0] = l.devices, out[1] = l.buffers, out[2] = l.notifies, out[3] = l.events, out[4] = l.threads;
}
SIM_EXPORT int32_t SidtuneSim_StreamPlaying() { return sidtune::sim::streamPlaying(); }
SIM_EXPORT int32_t SidtuneSim_StreamVolume() { return sidtune::sim::streamVolume(); }
SIM_EXPORT int32_t SidtuneSim_SetVolumeCalls() { return sidtune::sim::setVolumeCalls(); }
SIM_EXPORT void SidtuneSim_Advance(uint32_t bytes) { sidtune::sim::advance(bytes); }
SIM_EXPORT void SidtuneSim_LoseOutput() { sidtune::sim::loseOutput(); }
