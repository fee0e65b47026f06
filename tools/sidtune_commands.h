// The commands of the sidtune program, one file each; sidtune.cpp reads the command line.
//
//   renderCommand   render_command.cpp   a song into a WAV file, as the player makes it
//   infoCommand     info_command.cpp     what the player reads of a tune, in words or JSON
//   playCommand     play_command.cpp     a song through the plugin, as a Quenbrix program plays it
//   checkCommand    check_command.cpp    a verdict for every song of every tune under some paths
#pragma once

#include <string>
#include <vector>

namespace sidtune {

struct Song;

// How the player makes a song: a tempo, muted voices and faithful playback, as SetSidtuneSpeed,
// MuteSidVoice and SetSidtuneFaithful.
struct SongOptions {
    double speed = 1.0;     // 0.25 to 4.0
    std::vector<int> mute;  // voices 1 to 3
    bool faithful = false;
};
void applySongOptions(Song& s, const SongOptions& options);

struct RenderOptions {
    std::string tune, output;
    double seconds = 0;   // 0: the song's length from the database
    std::string lengths;  // a song-length database
    int song = 1;
    SongOptions settings;
    double fadeOut = 0;  // the last seconds fade to silence
    double start = 0;    // the song's first seconds made and left out, as SeekSidtune
    // Sounds over the music, as the plugin mixes them: FILE:SONG@SECONDS[:LENGTH] each, and
    // FILE:SONG@SECONDS:DURATION.
    std::vector<std::string> effects;
    std::string crossfade;
    double effectVolume = 1.0;  // as SetSidEffectVolume
    double duck = 1.0;          // as SetSidMusicDuck
};
int renderCommand(const RenderOptions& options);
// Whether an --effect (or, `crossfade`, a --crossfade) text is of its form.
bool mixEventForm(const std::string& text, bool crossfade);

struct InfoOptions {
    std::string tune;
    bool json = false;
    std::string lengths;  // a song-length database
};
int infoCommand(const InfoOptions& options);

struct PlayOptions {
    std::string tune;
    int song = 1;
    double seconds = 0;  // 0: until stopped
    std::string plugin;
    SongOptions settings;
    std::string lengths;     // a song-length database
    std::string end = "on";  // at a song's end: on, stop or next
};
int playCommand(const PlayOptions& options);

struct CheckOptions {
    std::vector<std::string> paths;
    double seconds = 30;
    bool json = false;
    unsigned jobs = 1;
    std::string lengths;  // a song-length database: each song for its length (up to `seconds`)
    bool faithful = false;
};
int checkCommand(const CheckOptions& options);

}  // namespace sidtune
