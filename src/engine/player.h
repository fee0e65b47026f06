// The player behind the script commands, on the engine it is handed: Idle, Playing or Paused,
// owned here and asked through these functions. The command layer (plugin/commands.cpp) calls
// them and reads no field of the engine.
//
//   setUpEngine(e)                 the machine reset for the stream's rate, then the audio output
//                                  opened (its worker renders e): true when it is open
//   shutDownEngine(e)              the audio output closed; safe when nothing is open
//   openPlayer(e)                  closes the player and sets up a new engine: true when it is
//                                  set up (the player stays Idle until a tune starts); false:
//                                  the play's error is NoSoundOutput
//   startTune(e, fileName, song)   with an engine just set up: reads and loads the file and starts
//                                  song `song` (counted from 0); true when it plays (Playing),
//                                  otherwise the engine is shut down again (Idle) and the error
//                                  says why
//   abandonPlayer(e)               after a failure part-way (out of memory): Idle, all released
//   startSong(e, song)             false when the number is out of range (nothing done)
//   stopSong(e)                    rendering off, stream stopped
//   pauseSong(e)                   from Playing: Paused, the stream stopped where it is (a fade
//                                  under way ends)
//   resumeSong(e)                  from Paused: Playing on from there
//   setPlayerVolume(e, value)      while Playing or Paused: the volume (audio/volume.h)
//   fadePlayer(e, to, seconds, thenIdle)
//                                  while Playing or Paused: a fade; `thenIdle`: the player is
//                                  Idle once it is over (FadeOutSidtune)
//   closePlayer(e)                 from Playing or Paused: stopSong, shutDownEngine; from Idle:
//                                  nothing
//   playerState(e)                 Idle, Playing or Paused
//   songsOfTune(e)                 the songs of the tune that plays or is paused; 0 when Idle
//   songNow(e)                     the song heard, counted from 1; 0 when Idle
//   songMilliseconds(e)            milliseconds of it heard, pauses not counted; 0 when Idle
//   lastPlayError(e)               why the last play gave false (None when it did not)
//   setSpeed, setVoiceMuted, setQuickStart, setEndMode: the settings (play_settings.h), from the
//                                  next frame of a song that plays, and for every later play; the
//                                  switches (a voice muted, the quick start) are a script's reals:
//                                  nonzero on, 0 off, and not a number leaves them as they are
//   resetSettings(e)               every setting back to its default (the plugin's unload)
//   loadSongLengths(e, path)       a song-length database (tune/song_lengths.h) in place of any
//                                  before, for the songs played from now on: the number of tunes
//                                  it gives lengths for (0: none, or it cannot be read)
//   songLengthNow(e)               milliseconds the database gives the song heard; 0 unknown or Idle
//   songEnded(e)                   the song played last has been heard to its end (song_stream.h);
//                                  after a stop at the end, until the next play or stop command
//
// A player whose output was lost (its sound server died), whose fade-out is over, or whose song
// has been heard to its end in the end mode "stop", is Idle from the next of these calls on: the
// device is released then (after a song's end, by the first call a quarter of a second after it,
// once what the sound system still held has played out; or by the next play or stop), and a lost
// output is the error NoSoundOutput.
//
// "PlaySidtune" is openPlayer, then (reading the file name only once the engine is set up)
// startTune with song 0.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace sidtune {

struct SongLengthDatabase;

struct EngineState;

enum class PlayerState : int32_t { Idle = 0, Playing = 1, Paused = 2 };

// Why a play gave false, as "SidtuneError" numbers it.
enum class PlayError : int32_t {
    None = 0,
    Unreadable = 1,  // the file cannot be read
    NotATune = 2,    // not a PSID tune file
    Rsid = 3,        // an RSID tune, which needs a whole C64
    NoSuchSong = 4,
    NoSoundOutput = 5,  // no sound device, or it was lost while playing
};

struct Player {
    PlayerState state;
    PlayError lastError;
    bool endHeard;  // the song played last was heard to its end before the player went Idle
    // Idle after a stop at a song's end, the device still open until it has played out: until
    // the stream sample `playedOutAt` is heard.
    bool playingOut;
    uint64_t playedOutAt;
    std::shared_ptr<const SongLengthDatabase> songLengths;
    // The script has shown that it cares where songs end: it read a song-length database, set an
    // end mode, or asked "SidtuneEnded". Until then no end is looked for, and playing costs what it
    // did before those commands existed. Kept until the plugin is unloaded; written under the
    // machine lock, which the worker holds while it makes the stream.
    bool endsWanted;
};

bool setUpEngine(EngineState& e);
void shutDownEngine(EngineState& e);
bool openPlayer(EngineState& e);
bool startTune(EngineState& e, const char* fileName, int32_t song);
void abandonPlayer(EngineState& e);
bool startSong(EngineState& e, int32_t song);
void stopSong(EngineState& e);
void pauseSong(EngineState& e);
void resumeSong(EngineState& e);
void setPlayerVolume(EngineState& e, float value);
void fadePlayer(EngineState& e, float to, float seconds, bool thenIdle);
void closePlayer(EngineState& e);
PlayerState playerState(EngineState& e);
int32_t songsOfTune(EngineState& e);
int32_t songNow(EngineState& e);
int32_t songMilliseconds(EngineState& e);
PlayError lastPlayError(const EngineState& e);
void setSpeed(EngineState& e, float ratio);
void setVoiceMuted(EngineState& e, int32_t voice, float muted);
void setQuickStart(EngineState& e, float on);
void setEndMode(EngineState& e, float mode);
void resetSettings(EngineState& e);
int32_t loadSongLengths(EngineState& e, const std::string& path);
int32_t songLengthNow(EngineState& e);
bool songEnded(EngineState& e);

}  // namespace sidtune
