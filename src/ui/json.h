// The JSON state files the web interface reads, each written whole to a work
// file and renamed into place.
#pragma once

#include <string>

// Each json_make_* writes its file, or, once json_defer(true) is set, only
// marks it: a handler changes state and marks the files that show it, and
// json_flush() writes each marked file once, after the handling is done.

void json_make_status_json();
void json_make_dialog_json();
void json_make_songlist_json();
void json_make_queuelist_json();
void json_make_playlist_json();
void json_make_presetPlaylist_json();
void json_make_recommendPlaylist_json();
void json_make_playmanager_info();

// Resets the published state (lists, play manager, dialog) and writes (or
// marks) all eight files.
void json_make_init();
void json_clean();

// The daemon's loop defers: a file marked several times in one pass is
// written once, at its end.
void json_defer(bool on);
// Writes the marked files, in a fixed order with the status file last; the
// status file also when the request count it shows is no longer current.
void json_flush();

// A stand-in for the files, for programs that publish millions of times (the
// fuzz programs): when set, every file's finished text goes to it, with the
// file's name, instead of being written. Null, the default: files are
// written.
using JsonPublisher = void (*)(const char* name, const std::string& text);
void json_set_publisher(JsonPublisher publisher);

// Escapes the string in place for a JSON string value and returns it.
std::string& json_escape(std::string& text);
// Appends the escaped text to `out`, in one pass.
void json_escape_append(std::string& out, const std::string& text);
