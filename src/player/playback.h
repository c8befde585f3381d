// Playback commands: what the user asks of the song on the instrument, and
// what the sequencer is told to do.
#pragma once

#include <cstdint>
#include <string>

// Plays entry `index` of a category's list ("queuelist", "preset",
// "recommendPlaylist", "userplaylist", "gratis").
void do_playSong(const char* category, const char* index, const char* playlistID);
// "next" or "back".
void do_songCtrl(const char* control);
// Rewind ("frs") or fast-forward ("ffs") released.
void do_frsffsEnd(const char* ctrl);
// "off", "one" or "all".
void do_setRepeat(const char* type);
void do_pause();
// Play, or pause when the song is to stay paused (next_control_status).
void send_play_or_pause();
// `time` in seconds as decimal text; absent, nothing is sent.
void do_setTime(const char* time);
// Loads the song's downloaded files into the sequencer; -1 when the load
// message could not be sent whole (a file name too long for the link).
int do_load(uint64_t id);
// The first "play" of a loaded song: a new play session, reported to the
// service's history.
void do_play(uint64_t id);
void callback_play(int status, const std::string& body, void* user);
