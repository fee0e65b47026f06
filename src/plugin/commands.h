// The script commands, their registration with the host, and the one player the plugin plays with.
//
//   "PlaySidtune"(file name)           -> -1 when song 1 of the tune plays afterwards, 0 otherwise
//   "StopSidtune"                      stops and releases everything; nothing in Idle
//   "SetSidVolume" value               0.0 to 1.0, while a tune plays or is paused
//   "PlaySidtuneSong"(file name, N)    -> as "PlaySidtune", for song N (counted from 1)
//   "SidtuneSongs"()                   -> the songs of the tune that plays or is paused; 0 in Idle
//   "PauseSidtune"                     Playing: the sound stops, the song keeps its place
//   "ResumeSidtune"                    Paused: the song goes on from where it paused
//   "FadeSidVolume" value, seconds     the volume slides to the value over the seconds heard
//   "FadeOutSidtune" seconds           a fade to silence, and the player is Idle after it
//   "SidtuneState"()                   -> 0 Idle, 1 Playing, 2 Paused
//   "SidtuneSong"()                    -> the song heard, counted from 1; 0 in Idle
//   "SidtuneTime"()                    -> milliseconds of the song heard, pauses not counted
//   "SetSidtuneSpeed" ratio            the tempo, 0.25 to 4.0, for this and every later song
//   "MuteSidVoice" voice, on           voice 1 to 3 out of the mix (nonzero) or back in (0)
//   "SidtuneError"()                   -> why the last play gave 0 (player.h, PlayError)
//   "SetSidtuneQuickStart" on          later plays start with the song, not half a second later
//   "SidtuneLengths"(database)         -> the tunes a song-length database gives lengths for; it
//                                      replaces any before and holds until the plugin is unloaded
//   "SidtuneLength"()                  -> milliseconds of the song heard, from the database; 0
//   "SidtuneEnded"()                   -> -1 once the song played last has been heard to its end
//   "SetSidtuneEnd" mode               at a song's end: 0 it plays on, 1 stop, 2 the next song,
//                                      3 the same song again
//   "PlaySidEffect"(file, N, seconds)  -> -1 when song N is heard over the music (or alone), for
//                                      the seconds (0: its length, or until silent); 4 at most
//   "StopSidEffects"                   every effect stops at once
//   "SidEffectsPlaying"()              -> how many effects are heard, 0 to 4
//   "SetSidEffectVolume" value         the effects' volume, 0.0 to 1.0, kept across plays
//   "SetSidMusicDuck" share            the music's share of its level while an effect is heard
//   "CrossfadeSidtune"(file, N, secs)  -> -1 when song N fades in as the music fades out, and is
//                                      the music from then on; from Idle, a play that fades in
//   "SeekSidtune"(seconds)             -> -1 when the music plays (or is paused) from that time of
//                                      its song; 0 in Idle, or for a time not a number or negative
//   "SidVoiceLevel"(voice)             -> voice 1 to 3's envelope level as heard, 0 to 255
//   "SidtuneLevel"()                   -> the loudest of the music heard in the last 20 ms, 0 to 100
//   "SidtuneEndsHeard"()               -> songs heard to their end since the last play or stop
//   "SetSidtuneFaithful"(on)           later plays (and effects) as the tune's machine would play
//                                      them: nonzero on, 0 off
//
// The player is Idle (nothing set up), Playing (output set up, song started) or Paused (the same,
// the stream stopped where it was). Every "PlaySidtune" and "PlaySidtuneSong" closes the player
// first and sets up the output anew, so the volume returns to full with every tune; the tempo, the
// muted voices and the quick start are the player's settings and hold until changed or unloaded.
#pragma once

#include "engine/player.h"
#include "plugin/host_interface.h"

namespace sidtune {

// The one player of a loaded plugin. Static storage, so all zero when the library is loaded. Named
// only by the plugin (the commands, load and unload); the audio output's worker is handed it when
// it is opened.
extern Player player;

void registerCommands(FunctionRegistry* registry);

// What the plugin's unload ends, and a host that ends without it too (see commands.cpp): the
// player closed and every release finished, so that nothing of the library runs afterwards.
void endPlayer();

}  // namespace sidtune
