// The player behind the script commands: starting and stopping a song of the loaded tune, and
// closing the player (stop the song, shut the engine down).
//
//   startSong(song)   0 when the song was started, 1 when the number is out of range
//   stopSong()        rendering off, stream stopped
//   closePlayer()     from Playing: stopSong, shutDownEngine; from Idle: nothing
#pragma once

#include <cstdint>

namespace sidtune {

int startSong(int32_t song);
int stopSong();
void closePlayer();

}  // namespace sidtune
