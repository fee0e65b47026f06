// Why a tune does not play: the one status a tune's reading, loading and beginning carry up to the
// script, which reads it as "SidtuneError" numbers it. The loader and the song give None, Unreadable,
// NotATune, Rsid and NoSuchSong; the player adds NoSoundOutput.
#pragma once

#include <cstdint>

namespace sidtune {

enum class PlayError : int32_t {
    None = 0,
    Unreadable = 1,  // the file cannot be read (no such file, not a regular file, a failed read)
    NotATune = 2,    // not a PSID tune file: too short, not "PSID", or its data offset past the end
    Rsid = 3,        // an RSID tune, which needs a whole C64
    NoSuchSong = 4,
    NoSoundOutput = 5,  // no sound device, or it was lost while playing
};

}  // namespace sidtune
