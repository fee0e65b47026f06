// The player behind the script commands: Idle, Playing or Paused, owned here and asked through
// these functions. It owns its songs, the stream they are made into and the audio output. The
// command layer (plugin/commands.cpp) calls these functions and reads no field of the player.
//
//   setUpEngine(p)                 the music's machine reset for the stream's rate, then the audio
//                                  output opened (its worker makes the player's stream): true when
//                                  it is open
//   shutDownEngine(p)              the audio output closed; safe when nothing is open
//   openPlayer(p)                  closes the player and sets up the output anew: true when it is
//                                  set up (the player stays Idle until a tune starts); false:
//                                  the play's error is NoSoundOutput
//   startTune(p, fileName, song)   with an output just set up: reads and loads the file and starts
//                                  song `song` (counted from 0); true when it plays (Playing),
//                                  otherwise the output is shut down again (Idle) and the error
//                                  says why
//   abandonPlayer(p)               after a failure part-way (out of memory): Idle, all released
//   startSong(p, song)             false when the number is out of range (nothing done)
//   stopSong(p)                    rendering off, stream stopped
//   pauseSong(p)                   from Playing: Paused, the stream stopped where it is (a fade
//                                  under way ends)
//   resumeSong(p)                  from Paused: Playing on from there
//   setPlayerVolume(p, value)      while Playing or Paused: the volume (audio/volume.h)
//   fadePlayer(p, to, seconds, thenIdle)
//                                  while Playing or Paused: a fade; `thenIdle`: the player is
//                                  Idle once it is over (FadeOutSidtune)
//   closePlayer(p)                 from Playing or Paused: stopSong, shutDownEngine; from Idle:
//                                  nothing
//   playerState(p)                 Idle, Playing or Paused
//   songsOfTune(p)                 the songs of the tune that plays or is paused; 0 when Idle
//   songNow(p)                     the song heard, counted from 1; 0 when Idle
//   songMilliseconds(p)            milliseconds of it heard, pauses not counted; 0 when Idle
//   lastPlayError(p)               why the last play gave false (None when it did not)
//   setSpeed, setVoiceMuted, setQuickStart, setEndMode: the settings (song_settings.h), for every
//                                  later play; a tempo or a muted voice of a song that plays is
//                                  heard from the change point on (the music made again from its
//                                  place before it), else from the next sample made; the
//                                  switches (a voice muted, the quick start) are a script's reals:
//                                  nonzero on, 0 off, and not a number leaves them as they are
//   setFaithful(p, on)             faithful playback (song_settings.h) for the songs played from
//                                  now on, effects too; a song that plays stays as it began
//   resetSettings(p)               every setting back to its default (the plugin's unload)
//   loadSongLengths(p, path)       a song-length database (tune/song_lengths.h) in place of any
//                                  before, for the songs played from now on: the number of tunes
//                                  it gives lengths for (0: none, or it cannot be read)
//   songLengthNow(p)               milliseconds the database gives the song heard; 0 unknown or Idle
//   songEnded(p)                   the song played last has been heard to its end (song_stream.h);
//                                  after a stop at the end, until the next play or stop command
//   playEffect(p, fileName, song, seconds)
//                                  song `song` (from 0) of the file laid over the music (or heard
//                                  alone while nothing plays; while it is paused the stream plays
//                                  again with the music held silent, to go on where it paused),
//                                  as the mix's startEffect (mix.h): true when it is heard; false:
//                                  lastPlayError says why
//   stopEffects(p)                 every effect ends at once
//   effectsHeard(p)                how many effects are heard now
//   setEffectVolume(p, value), setMusicDuck(p, share): the mix's settings, kept across plays
//   seekSong(p, seconds)           while Playing or Paused: the song heard is begun again and its
//                                  first `seconds` (seekSamples, song.h) made unheard; it is heard
//                                  from there, from the change point on (below). A point past its
//                                  known length is its end. true when it is so; false in Idle
//   endsHeard(p)                   how many songs have been heard to their end since the last play
//                                  or stop
//   musicLevel(p)                  0-100: the loudest sample of the music heard in the last
//                                  kLevelWindow, after the volume, in percent of full scale; 0 when
//                                  Idle or Paused
//   voiceLevel(p, voice)           voice `voice`'s (1-3) envelope level as heard now, 0-255; 0 when
//                                  Idle
//   crossfadeTo(p, fileName, song, seconds)
//                                  song `song` of the file fades in over `seconds` while the music
//                                  fades out, and is the music from then on; from Idle or Paused,
//                                  a play that fades in from silence. false: nothing changed, and
//                                  lastPlayError says why
//
// What a command changes in the mix (an effect, a stop, a crossfade) is heard at once: the part of
// the stream that is made and not yet taken by the device is mixed again and written over.
//
// A player whose output was lost (its sound server died), whose fade-out is over, or whose song
// has been heard to its end in the end mode "stop", is Idle from the next of these calls on: the
// device is released then (after a song's end, by the first call a quarter of a second after it,
// once what the sound system still held has played out; or by the next play or stop), and a lost
// output is the error NoSoundOutput.
//
// "PlaySidtune" is openPlayer, then (reading the file name only once the output is set up)
// startTune with song 0.
//
// Two threads use a player that plays: the host's thread (set-up, loading, the init routine,
// shutdown) and the worker thread (the play routine and the synthesizer while a tune plays). They
// never use a song at the same time: songLock.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "audio/audio_format.h"
#include "audio/audio_output.h"
#include "engine/mix.h"
#include "engine/song.h"
#include "engine/song_place.h"
#include "engine/song_settings.h"
#include "engine/song_stream.h"
#include "tune/play_error.h"

namespace sidtune {

struct SongLengthDatabase;

// How far ahead of the first sample the device can still change (the one it takes next, or what a
// sound server holds and can take again) a command's change to the mix begins: what the device
// takes while the change is mixed in, and a DirectSound device's write cursor, lie before it.
constexpr uint64_t kChangeLead = kSampleRate / 50;

// The stretch of what was last heard that musicLevel speaks of.
constexpr uint64_t kLevelWindow = kSampleRate / 50;

enum class PlayerState : int32_t { Idle = 0, Playing = 1, Paused = 2 };

struct Player {
    PlayerState state;
    PlayError lastError;
    bool endHeard;      // the song played last was heard to its end before the player went Idle
    uint32_t endsKept;  // the ends heard (endsHeard) when the player went Idle
    // Idle after a stop at a song's end, the device still open until it has played out: until
    // the stream sample `playedOutAt` is heard.
    bool playingOut;
    uint64_t playedOutAt;
    std::shared_ptr<const SongLengthDatabase> songLengths;
    // The music's settings, for every later play. Their findEnds: the script has shown that it
    // cares where songs end (it read a song-length database, set an end mode, or asked
    // "SidtuneEnded"); until then no end is looked for, and playing costs what it did before those
    // commands existed. Kept until the plugin is unloaded.
    SongSettings settings;
    bool quickStart;  // the stream's first half is the song's first block, not half a second of silence
    // Nonzero: the worker makes the music; 0: it fills blocks with silence. Written by the host's
    // thread, read by the worker once at the start of each block.
    std::atomic<int> renderEnabled;
    // Held by the host's thread while it begins a song or changes its settings, and by the worker
    // while it makes the stream: the stream starts playing before the song's init routine runs, and
    // the worker must not enter the CPU until that routine has returned.
    std::mutex songLock;
    Song music;
    Mix mix;  // the music with the effects and the song fading out under a crossfade
    // The music's places at the start of the last two blocks the worker made (while nothing but
    // the music's own stream was made: no crossfade, nothing held): a change of its settings is
    // made again from the one before the change point.
    std::array<SongPlace, 2> places;
    uint32_t nextPlace;
    // Idle, the output open for effects alone: closed once they are over.
    bool effectsAlone;
    uint64_t fadeInSamples;  // a play that rises from silence over so many samples (0: none)
    // The music's marks as of the last samples made, for the host's thread, which must not wait
    // for a block being made to read them.
    std::mutex marksLock;
    SongMarks heardMarks;
    AudioOutput audio;
};

// The whole player, the music, a crossfade and four effects included, with the one-second stream
// buffer stays under 2 MiB.
// buffer stays under 2 MiB; so do the scouts of the music, the song fading out and the spare (the
// songs with a stream: song_stream.h).
static_assert(sizeof(Player) + kStreamBytes + 3 * sizeof(SongScout) < 2 * 1024 * 1024,
              "the player has grown past 2 MiB");

bool setUpEngine(Player& p);
void shutDownEngine(Player& p);
bool openPlayer(Player& p);
bool startTune(Player& p, const char* fileName, int32_t song);
void abandonPlayer(Player& p);
bool startSong(Player& p, int32_t song);
void stopSong(Player& p);
void pauseSong(Player& p);
void resumeSong(Player& p);
void setPlayerVolume(Player& p, float value);
void fadePlayer(Player& p, float to, float seconds, bool thenIdle);
void closePlayer(Player& p);
PlayerState playerState(Player& p);
int32_t songsOfTune(Player& p);
int32_t songNow(Player& p);
int32_t songMilliseconds(Player& p);
PlayError lastPlayError(const Player& p);
void setSpeed(Player& p, float ratio);
void setVoiceMuted(Player& p, int32_t voice, float muted);
void setQuickStart(Player& p, float on);
void setEndMode(Player& p, float mode);
void setFaithful(Player& p, float on);
void resetSettings(Player& p);
int32_t loadSongLengths(Player& p, const std::string& path);
int32_t songLengthNow(Player& p);
bool songEnded(Player& p);
bool playEffect(Player& p, const char* fileName, int32_t song, float seconds);
void stopEffects(Player& p);
int32_t effectsHeard(Player& p);
void setEffectVolume(Player& p, float value);
void setMusicDuck(Player& p, float share);
bool crossfadeTo(Player& p, const char* fileName, int32_t song, float seconds);
bool seekSong(Player& p, float seconds);
int32_t endsHeard(Player& p);
int32_t musicLevel(Player& p);
int32_t voiceLevel(Player& p, int32_t voice);

}  // namespace sidtune
