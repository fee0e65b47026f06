// The system's one sound format, in one place: 16-bit signed mono samples at 44100 Hz, made in
// half-second blocks into a one-second looping stream. The primary output mixes 16-bit stereo at
// the same rate, so the platform never resamples the stream.
//
//     stream, kStreamBytes = 88200 bytes:
//     | first half: kBlockSamples = 22050 samples | second half: 22050 samples |
#pragma once

#include <cstdint>

#include "audio/platform.h"

namespace sidtune {

constexpr uint32_t kSampleRate = 44100;
constexpr uint32_t kBytesPerSample = 2;
constexpr uint32_t kBlockSamples = kSampleRate / 2;  // half a second: one half of the stream
constexpr uint32_t kBlockBytes = kBlockSamples * kBytesPerSample;
constexpr uint32_t kStreamBytes = 2 * kBlockBytes;  // one second

constexpr uint16_t kPcmFormatTag = 1;  // WAVE_FORMAT_PCM

constexpr platform::WaveFormat kStreamFormat{
    .formatTag = kPcmFormatTag,
    .channels = 1,
    .samplesPerSec = kSampleRate,
    .avgBytesPerSec = kSampleRate * kBytesPerSample,
    .blockAlign = kBytesPerSample,
    .bitsPerSample = 16,
};

constexpr platform::WaveFormat kPrimaryFormat{
    .formatTag = kPcmFormatTag,
    .channels = 2,
    .samplesPerSec = kSampleRate,
    .avgBytesPerSec = kSampleRate * 2 * kBytesPerSample,
    .blockAlign = 2 * kBytesPerSample,
    .bitsPerSample = 16,
};

static_assert(kStreamBytes == kStreamFormat.avgBytesPerSec, "the stream holds one second");

}  // namespace sidtune
