// Reading back what the tool wrote, for the tests that hold a render to it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "audio/audio_format.h"
#include "wav_file.h"

namespace sidtune::test {

// The samples of a WAV file written by the tool: 16-bit mono at the player's rate, its sizes in
// agreement with the file.
inline std::vector<int16_t> readWav(const std::filesystem::path& path) {
    wav::Audio audio;
    std::string error;
    EXPECT_TRUE(wav::read(path.string(), audio, error)) << error;
    EXPECT_EQ(audio.channels, 1);
    EXPECT_EQ(audio.sampleRate, kSampleRate);
    EXPECT_TRUE(audio.sizesAgree);
    EXPECT_EQ(std::filesystem::file_size(path), wav::kHeaderBytes + 2 * audio.samples.size());
    return audio.samples;
}

}  // namespace sidtune::test
