#include "plugin/commands.h"

#include <cmath>
#include <initializer_list>

#include "audio/platform.h"
#include "engine/player.h"

namespace sidtune {

Player player;

void endPlayer() {
    closePlayer(player);
    platform::finishReleases();
}

namespace {

#if !defined(_WIN32)
// A host may end without the plugin's unload: it calls exit() or returns from main (a game that its
// player closes while the music plays), or unloads the library. The worker, a fade's thread and the
// sound library's thread would then still run, some of them our code: the exit handlers destroyed
// what a waiting worker waits on (and it hung), or the library's code went while the sound server's
// thread was about to call it (and it crashed). The exit handlers, and the library's unloading,
// end the player first: this object is destroyed before the player, defined after it in this
// file. (On Windows the library's entry point does it: plugin.cpp.)
struct EndWithTheLibrary {
    ~EndWithTheLibrary() { endPlayer(); }
} endWithTheLibrary;
#endif

float real(ScriptRuntime* runtime, int32_t index) {
    return runtime->operations->getRealParameter(runtime, index);
}
void result(ScriptRuntime* runtime, int32_t value) { runtime->operations->setIntegerResult(runtime, value); }

// A script's song number, counted from 1, as the player's, from 0: -1 when it is no whole number
// from 1 to 256.
int32_t songOf(float n) { return n >= 1.0f && n <= 256.0f && std::floor(n) == n ? int32_t(n) - 1 : -1; }

const char* text(ScriptRuntime* runtime, int32_t index) {
    return runtime->operations->getStringParameter(runtime, index);
}

// A command that plays something (a tune, an effect): -1 when `start` gives true. No exception may
// reach the host: the standard library's only one here is running out of memory, which leaves the
// player Idle and the command false.
template <typename Start>
void answerPlay(ScriptRuntime* runtime, Start start) {
    bool playing = false;
    try {
        playing = start();
    } catch (...) {
        abandonPlayer(player);
    }
    result(runtime, playing ? -1 : 0);
}

// "PlaySidtune" and "PlaySidtuneSong": the player closed and its output set up anew, and only then
// the parameters read (the file with index 1, the song, counted from 1, with index 2). A song
// that is no whole number from 1 to the tune's songs leaves the player Idle, as a file that is no
// tune does.
void play(ScriptRuntime* runtime, bool songGiven) {
    answerPlay(runtime, [&] {
        return openPlayer(player) &&
               startTune(player, text(runtime, 1), songGiven ? songOf(real(runtime, 2)) : 0);
    });
}

void QUENBRIX_CALL playSidtune(ScriptRuntime* runtime) { play(runtime, false); }
void QUENBRIX_CALL playSidtuneSong(ScriptRuntime* runtime) { play(runtime, true); }
void QUENBRIX_CALL stopSidtune(ScriptRuntime*) { closePlayer(player); }
void QUENBRIX_CALL pauseSidtune(ScriptRuntime*) { pauseSong(player); }
void QUENBRIX_CALL resumeSidtune(ScriptRuntime*) { resumeSong(player); }

// The volume commands read nothing in Idle: there is nothing to set, and nothing is remembered.
void QUENBRIX_CALL setSidVolume(ScriptRuntime* runtime) {
    if (playerState(player) != PlayerState::Idle) setPlayerVolume(player, real(runtime, 1));
}
void QUENBRIX_CALL fadeSidVolume(ScriptRuntime* runtime) {
    if (playerState(player) != PlayerState::Idle)
        fadePlayer(player, real(runtime, 1), real(runtime, 2), false);
}
void QUENBRIX_CALL fadeOutSidtune(ScriptRuntime* runtime) {
    if (playerState(player) != PlayerState::Idle) fadePlayer(player, 0.0f, real(runtime, 1), true);
}

void QUENBRIX_CALL sidtuneSongs(ScriptRuntime* runtime) { result(runtime, songsOfTune(player)); }
void QUENBRIX_CALL sidtuneState(ScriptRuntime* runtime) { result(runtime, int32_t(playerState(player))); }
void QUENBRIX_CALL sidtuneSong(ScriptRuntime* runtime) { result(runtime, songNow(player)); }
void QUENBRIX_CALL sidtuneTime(ScriptRuntime* runtime) { result(runtime, songMilliseconds(player)); }
void QUENBRIX_CALL sidtuneError(ScriptRuntime* runtime) { result(runtime, int32_t(lastPlayError(player))); }

void QUENBRIX_CALL setSidtuneSpeed(ScriptRuntime* runtime) { setSpeed(player, real(runtime, 1)); }
void QUENBRIX_CALL muteSidVoice(ScriptRuntime* runtime) {
    const float voice = real(runtime, 1);
    if (voice == 1.0f || voice == 2.0f || voice == 3.0f)
        setVoiceMuted(player, int32_t(voice), real(runtime, 2));
}
void QUENBRIX_CALL setSidtuneQuickStart(ScriptRuntime* runtime) { setQuickStart(player, real(runtime, 1)); }

void QUENBRIX_CALL sidtuneLengths(ScriptRuntime* runtime) {
    int32_t tunes = 0;
    try {
        tunes = loadSongLengths(player, runtime->operations->getStringParameter(runtime, 1));
    } catch (...) {  // out of memory for the database: none
    }
    result(runtime, tunes);
}
void QUENBRIX_CALL sidtuneLength(ScriptRuntime* runtime) { result(runtime, songLengthNow(player)); }
void QUENBRIX_CALL sidtuneEnded(ScriptRuntime* runtime) { result(runtime, songEnded(player) ? -1 : 0); }
void QUENBRIX_CALL setSidtuneEnd(ScriptRuntime* runtime) { setEndMode(player, real(runtime, 1)); }

// "PlaySidEffect" and "CrossfadeSidtune": file, song from 1, seconds.
void QUENBRIX_CALL playSidEffect(ScriptRuntime* runtime) {
    answerPlay(runtime, [&] {
        return playEffect(player, text(runtime, 1), songOf(real(runtime, 2)), real(runtime, 3));
    });
}
void QUENBRIX_CALL crossfadeSidtune(ScriptRuntime* runtime) {
    answerPlay(runtime, [&] {
        return crossfadeTo(player, text(runtime, 1), songOf(real(runtime, 2)), real(runtime, 3));
    });
}
void QUENBRIX_CALL stopSidEffects(ScriptRuntime*) { stopEffects(player); }
void QUENBRIX_CALL sidEffectsPlaying(ScriptRuntime* runtime) { result(runtime, effectsHeard(player)); }
void QUENBRIX_CALL setSidEffectVolume(ScriptRuntime* runtime) { setEffectVolume(player, real(runtime, 1)); }
void QUENBRIX_CALL setSidMusicDuck(ScriptRuntime* runtime) { setMusicDuck(player, real(runtime, 1)); }

void QUENBRIX_CALL seekSidtune(ScriptRuntime* runtime) {
    result(runtime, seekSong(player, real(runtime, 1)) ? -1 : 0);
}
void QUENBRIX_CALL sidVoiceLevel(ScriptRuntime* runtime) {
    const float voice = real(runtime, 1);
    result(runtime, voice == 1.0f || voice == 2.0f || voice == 3.0f ? voiceLevel(player, int32_t(voice)) : 0);
}
void QUENBRIX_CALL sidtuneLevel(ScriptRuntime* runtime) { result(runtime, musicLevel(player)); }
void QUENBRIX_CALL sidtuneEndsHeard(ScriptRuntime* runtime) { result(runtime, endsHeard(player)); }
void QUENBRIX_CALL setSidtuneFaithful(ScriptRuntime* runtime) { setFaithful(player, real(runtime, 1)); }

struct Command {
    const char* name;
    CommandHandler handler;
    bool function;  // with an integer result
    std::initializer_list<QuenbrixType> parameters;
};

// In the order of their registration, which the host numbers them by: new commands go last.
const Command kCommands[] = {
    {"PlaySidtune", playSidtune, true, {kQuenbrixString}},
    {"StopSidtune", stopSidtune, false, {}},
    {"SetSidVolume", setSidVolume, false, {kQuenbrixReal}},
    {"PlaySidtuneSong", playSidtuneSong, true, {kQuenbrixString, kQuenbrixReal}},
    {"SidtuneSongs", sidtuneSongs, true, {}},
    {"PauseSidtune", pauseSidtune, false, {}},
    {"ResumeSidtune", resumeSidtune, false, {}},
    {"FadeSidVolume", fadeSidVolume, false, {kQuenbrixReal, kQuenbrixReal}},
    {"FadeOutSidtune", fadeOutSidtune, false, {kQuenbrixReal}},
    {"SidtuneState", sidtuneState, true, {}},
    {"SidtuneSong", sidtuneSong, true, {}},
    {"SidtuneTime", sidtuneTime, true, {}},
    {"SetSidtuneSpeed", setSidtuneSpeed, false, {kQuenbrixReal}},
    {"MuteSidVoice", muteSidVoice, false, {kQuenbrixReal, kQuenbrixReal}},
    {"SidtuneError", sidtuneError, true, {}},
    {"SetSidtuneQuickStart", setSidtuneQuickStart, false, {kQuenbrixReal}},
    {"SidtuneLengths", sidtuneLengths, true, {kQuenbrixString}},
    {"SidtuneLength", sidtuneLength, true, {}},
    {"SidtuneEnded", sidtuneEnded, true, {}},
    {"SetSidtuneEnd", setSidtuneEnd, false, {kQuenbrixReal}},
    {"PlaySidEffect", playSidEffect, true, {kQuenbrixString, kQuenbrixReal, kQuenbrixReal}},
    {"StopSidEffects", stopSidEffects, false, {}},
    {"SidEffectsPlaying", sidEffectsPlaying, true, {}},
    {"SetSidEffectVolume", setSidEffectVolume, false, {kQuenbrixReal}},
    {"SetSidMusicDuck", setSidMusicDuck, false, {kQuenbrixReal}},
    {"CrossfadeSidtune", crossfadeSidtune, true, {kQuenbrixString, kQuenbrixReal, kQuenbrixReal}},
    {"SeekSidtune", seekSidtune, true, {kQuenbrixReal}},
    {"SidVoiceLevel", sidVoiceLevel, true, {kQuenbrixReal}},
    {"SidtuneLevel", sidtuneLevel, true, {}},
    {"SidtuneEndsHeard", sidtuneEndsHeard, true, {}},
    {"SetSidtuneFaithful", setSidtuneFaithful, false, {kQuenbrixReal}},
};

}  // namespace

void registerCommands(FunctionRegistry* registry) {
    const FunctionRegistryOperations* r = registry->operations;
    for (const Command& c : kCommands) {
        if (c.function) {
            r->registerFunction(registry, c.name, c.handler, kQuenbrixInteger);
        } else {
            r->registerProcedure(registry, c.name, c.handler);
        }
        for (QuenbrixType type : c.parameters) r->addParameter(registry, type);
    }
}

}  // namespace sidtune
