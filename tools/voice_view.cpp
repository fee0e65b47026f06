#include "voice_view.h"

#include <cmath>
#include <cstdio>

namespace sidtune {
namespace {

constexpr int kBarCells = 32;

std::string waveformOf(uint8_t control) {
    std::string names;
    const std::pair<bool, const char*> parts[] = {
        {triangleOn(control), "tri"}, {sawtoothOn(control), "saw"}, {pulseOn(control), "pulse"},
        {noiseOn(control), "noise"},  {ringOn(control), " ring"},   {syncOn(control), " sync"},
        {testOn(control), " test"},   {gateOn(control), " gate"},
    };
    for (const auto& [on, name] : parts) {
        if (!on) continue;
        if (!names.empty() && name[0] != ' ') names.append(1, '+');
        names.append(name);
    }
    return names.empty() ? "-" : names;
}

}  // namespace

std::string noteName(double hz) {
    static const char* const names[] = {"C-", "C#", "D-", "D#", "E-", "F-",
                                        "F#", "G-", "G#", "A-", "A#", "B-"};
    if (!(hz > 0)) return "---";
    // Semitones from C0 (A4 is 57 semitones above it).
    const long semitone = std::lround(12.0 * std::log2(hz / 440.0) + 57.0);
    if (semitone < 0 || semitone >= 9 * 12) return "---";
    char name[8];
    std::snprintf(name, sizeof name, "%s%ld", names[semitone % 12], semitone / 12);
    return name;
}

std::array<std::string, 4> voiceLines(const SidChip& chip, const std::array<int32_t, 3>& levels) {
    std::array<std::string, 4> lines;
    const SidRegisters& r = chip.registers;
    for (int v = 0; v < 3; ++v) {
        const int32_t level = std::max(0, std::min(255, levels[size_t(v)]));
        const int cells = (level * kBarCells + 127) / 255;
        const double scale = chip.phaseScale + chip.phaseFraction / 65536.0;  // at the chip's clock
        const double hz = double(frequency(r, v)) * scale * chip.sampleRate / 268435456.0;
        char line[128];
        std::string bar(size_t(kBarCells), '.');
        bar.replace(0, size_t(cells), size_t(cells), '#');
        std::snprintf(line, sizeof line, "  voice %d  %s  %3d  %-3s  %-24.24s", v + 1, bar.c_str(), level,
                      noteName(hz).c_str(), waveformOf(controlRegister(r, v)).c_str());
        lines[size_t(v)] = line;
    }
    std::string modes;
    for (const auto& [on, name] :
         {std::pair{lowPassSelected(r), "low"}, std::pair{bandPassSelected(r), "band"},
          std::pair{highPassSelected(r), "high"}})
        if (on) modes.append(modes.empty() ? "" : "+").append(name);
    std::string routed;
    for (int v = 0; v < 3; ++v)
        if (routedThroughFilter(r, v)) routed.append(1, ' ').append(1, char('1' + v));
    char line[128];
    std::snprintf(line, sizeof line, "  filter   cut-off %4u  resonance %2d  %-13s  voices%-6s  volume %2d",
                  cutoffValue(r), resonance(r), modes.empty() ? "off" : modes.append("-pass").c_str(),
                  routed.empty() ? " none" : routed.c_str(), masterVolume(r));
    lines[3] = line;
    return lines;
}

}  // namespace sidtune
